// The codec, data type and audio format lists, and the names of format tags.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

extern "C" {
#include <libavcodec/version.h>
}

#include "media_library/media_library.h"

namespace calvex::media {
namespace {

std::int32_t Code(const char* fourcc) {
  return static_cast<std::int32_t>(
      static_cast<std::uint32_t>(fourcc[0]) | static_cast<std::uint32_t>(fourcc[1]) << 8 |
      static_cast<std::uint32_t>(fourcc[2]) << 16 | static_cast<std::uint32_t>(fourcc[3]) << 24);
}

TEST(VideoCodecList, UncompressedFirstThenTheCodecsOfThisMachine) {
  std::vector<VideoCodecEntry> codecs;
  EXPECT_EQ(aviListCodec(0, codecs), 0);
  ASSERT_FALSE(codecs.empty());
  EXPECT_EQ(codecs[0].handler, 0);
  // Debian's FFmpeg has every one of them.
  for (const char* code : {"cvid", "MSVC", "MJPG", "HFYU", "FFV1", "XVID"}) {
    const auto it = std::find_if(codecs.begin(), codecs.end(),
                                 [&](const VideoCodecEntry& e) { return e.handler == Code(code); });
    ASSERT_NE(it, codecs.end()) << code;
    const int index = static_cast<int>(it - codecs.begin());
    EXPECT_EQ(aviCodecGetID(index), Code(code));
    // The current handler is found whatever its letter case.
    std::string lower = code;
    for (char& c : lower) c = static_cast<char>(c | 0x20);
    EXPECT_EQ(aviListCodec(Code(lower.c_str()), codecs), index) << code;
  }
  EXPECT_EQ(aviListCodec(Code("CRAM"), codecs), aviListCodec(Code("MSVC"), codecs));
  EXPECT_EQ(aviListCodec(Code("ZZZZ"), codecs), 0);
  EXPECT_EQ(aviCodecGetID(0), 0);
  EXPECT_EQ(aviCodecGetID(-1), 0);
  EXPECT_EQ(aviCodecGetID(static_cast<int>(codecs.size())), 0);
}

TEST(VideoCodecList, DefaultsAndCapabilities) {
  std::vector<VideoCodecEntry> codecs;
  const int mjpeg = aviListCodec(Code("MJPG"), codecs);
  const int mpeg4 = aviListCodec(Code("XVID"), codecs);
  const int ffv1 = aviListCodec(Code("FFV1"), codecs);
  std::int32_t quality = 0, keys = 0;
  std::uint32_t flags = 0;
  bool configure = true, about = true;
  ASSERT_EQ(aviGetQKFCA(mjpeg, quality, keys, flags, configure, about), kOk);
  EXPECT_EQ(flags, kCodecSupportsQuality | kCodecSupportsDataRate);
  EXPECT_EQ(keys, 1);
  EXPECT_FALSE(configure);
  EXPECT_TRUE(about);
  ASSERT_EQ(aviGetQKFCA(mpeg4, quality, keys, flags, configure, about), kOk);
  EXPECT_EQ(flags, kCodecSupportsQuality | kCodecSupportsDataRate | kCodecSupportsTemporal);
  EXPECT_GT(keys, 1);
  EXPECT_GE(quality, 1);
  EXPECT_LE(quality, 10000);
  ASSERT_EQ(aviGetQKFCA(ffv1, quality, keys, flags, configure, about), kOk);
  EXPECT_EQ(flags, 0u);
  ASSERT_EQ(aviGetQKFCA(0, quality, keys, flags, configure, about), kOk);
  EXPECT_FALSE(about);
  EXPECT_EQ(aviGetQKFCA(static_cast<int>(codecs.size()), quality, keys, flags, configure, about),
            kNotSupported);

  // "About..." names the coder and the library that provides it, with its version.
  VideoCodecAbout box;
  ASSERT_EQ(aviCodecAbout(mjpeg, box), kOk);
  EXPECT_EQ(box.name, "Motion JPEG");
  EXPECT_FALSE(box.longName.empty());
  EXPECT_EQ(box.library, "libavcodec");
  EXPECT_EQ(box.version, std::to_string(LIBAVCODEC_VERSION_MAJOR) + "." +
                             std::to_string(LIBAVCODEC_VERSION_MINOR) + "." +
                             std::to_string(LIBAVCODEC_VERSION_MICRO));
  EXPECT_EQ(aviCodecAbout(0, box), kNotSupported);
  EXPECT_EQ(aviCodecAbout(static_cast<int>(codecs.size()), box), kNotSupported);
}

TEST(VideoCodecList, DataTypes) {
  std::vector<DataTypeEntry> types;
  EXPECT_EQ(aviListOutputFormat(0, 8, types), 8);
  ASSERT_EQ(types.size(), 2u);
  EXPECT_EQ(types[0].dataType, 24);
  EXPECT_EQ(types[1].dataType, 8);
  EXPECT_EQ(aviListOutputFormat(0, 16, types), 24);
  EXPECT_EQ(aviListOutputFormat(Code("cvid"), 8, types), 24);
  EXPECT_EQ(types.size(), 1u);
  EXPECT_EQ(aviTranslateOutputFormat(0, 1), 8);
  EXPECT_EQ(aviTranslateOutputFormat(0, 0), 24);
  EXPECT_EQ(aviTranslateOutputFormat(1, 1), 24);
  EXPECT_EQ(aviTranslateOutputFormat(99, 0), 24);
}

TEST(AudioFormatList, WritableFormatsAndTheirSampleSizes) {
  const auto formats = myGetAcmFormat1();
  ASSERT_FALSE(formats.empty());
  EXPECT_EQ(formats[0].formatTag, kWaveFormatPcm);
  EXPECT_EQ(formats[0].name, "PCM");
  for (const std::uint16_t tag : {2, 0x11, 6, 7, 0x31})
    EXPECT_TRUE(std::any_of(formats.begin(), formats.end(), [&](const AudioFormatEntry& f) {
      return f.formatTag == tag;
    })) << tag;
  EXPECT_EQ(CheckAudioDataType(1), 16);
  EXPECT_EQ(CheckAudioDataType(2), 4);
  EXPECT_EQ(CheckAudioDataType(0x11), 4);
  EXPECT_EQ(CheckAudioDataType(7), 8);
  EXPECT_EQ(CheckAudioDataType(0x31), 0);
}

TEST(AudioFormatList, NamesOfFormatTags) {
  EXPECT_EQ(myGetCodecName(1), "PCM");
  EXPECT_EQ(myGetCodecName(2), "Microsoft ADPCM");
  EXPECT_EQ(myGetCodecName(0x11), "IMA ADPCM");
  EXPECT_EQ(myGetCodecName(0x55), "MPEG Layer-3");
  EXPECT_EQ(myGetCodecName(0x161), "Windows Media Audio 2");  // from the decoder's name
  EXPECT_EQ(myGetCodecName(0xBEEF), "");
}

// The figures a chooser shows are those of the files the writers make (the system's own codecs
// use the same ones for these rates).
TEST(AudioFormatList, CompleteWaveFormats) {
  const WaveFormat adpcm = WaveFormatFor(2, 1, 11025, 4);
  EXPECT_EQ(adpcm.blockAlign, 256);
  EXPECT_EQ(adpcm.avgBytesPerSec, 5644u);
  EXPECT_EQ(adpcm.bitsPerSample, 4);
  const WaveFormat ima = WaveFormatFor(0x11, 2, 22050, 4);
  EXPECT_EQ(ima.blockAlign, 1024);
  EXPECT_EQ(ima.avgBytesPerSec, 22201u);  // 1017 samples a block
  const WaveFormat gsm = WaveFormatFor(0x31, 1, 8000, 0);
  EXPECT_EQ(gsm.blockAlign, 65);
  EXPECT_EQ(gsm.avgBytesPerSec, 1625u);
  const WaveFormat mulaw = WaveFormatFor(7, 2, 8000, 8);
  EXPECT_EQ(mulaw.blockAlign, 2);
  EXPECT_EQ(mulaw.avgBytesPerSec, 16000u);
  const WaveFormat pcm = WaveFormatFor(1, 2, 44100, 16);
  EXPECT_EQ(pcm.blockAlign, 4);
  EXPECT_EQ(pcm.avgBytesPerSec, 176400u);
}

}  // namespace
}  // namespace calvex::media
