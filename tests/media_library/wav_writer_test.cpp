// WAV files written by the media layer from 16-bit PCM, in the chosen format.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "media_library/media_fixtures.h"
#include "media_library/media_library.h"

namespace calvex::media {
namespace {

using testing::ProbeValue;

// Feeds the samples in blocks of at most 1600 values, as the MPEG audio decoder does.
Status WriteWav(const std::string& path, const WaveFormat& output,
                const std::vector<std::int16_t>& samples, int rate, int channels) {
  WavWriter writer;
  if (const Status s = writer.myWAVOutputBegin(path, output, rate, 16, channels); s != kOk)
    return s;
  for (std::size_t at = 0; at < samples.size(); at += 1600) {
    const std::size_t n = std::min<std::size_t>(1600, samples.size() - at);
    if (const Status s = writer.myWAVOutput(&samples[at], static_cast<std::int32_t>(n)); s != kOk)
      return s;
  }
  return writer.myWAVOutputEnd();
}

TEST(WavWriter, SameFormatPcmIsWrittenAsIs) {
  CALVEX_REQUIRE_TOOL("ffprobe");
  testing::TempDir dir;
  const std::string wav = dir.File("same.wav");
  const auto samples = testing::SineSamples(44100, 2, 0.5, 1000);
  ASSERT_EQ(WriteWav(wav, MakePcmFormat(2, 44100, 16), samples, 44100, 2), kOk);
  const auto bytes = testing::ReadFileBytes(wav);
  // The plain 44-byte header: RIFF, a 16-byte "fmt ", "data".
  ASSERT_EQ(bytes.size(), 44 + samples.size() * 2);
  EXPECT_EQ(testing::FindTag(bytes, "fmt "), 12u);
  EXPECT_EQ(testing::Le32At(bytes, 16), 16u);
  EXPECT_EQ(testing::FindTag(bytes, "data"), 36u);
  EXPECT_EQ(testing::FindTag(bytes, "LIST"), std::string::npos);
  EXPECT_TRUE(std::equal(samples.begin(), samples.end(),
                         testing::AsSamples({bytes.begin() + 44, bytes.end()}).begin()));
  // And the layer's own reader takes it back.
  WaveReader reader;
  WaveRecord record;
  ASSERT_EQ(reader.OpenWaveFile(wav, record), kOk);
  EXPECT_EQ(record.sampleFrames, samples.size() / 2);
}

// Rate, channel and sample-size conversions keep the sound and its length.
TEST(WavWriter, PcmConversions) {
  CALVEX_REQUIRE_TOOL("ffprobe");
  testing::TempDir dir;
  const auto source = testing::SineSamples(44100, 2, 1.0, 440);
  const struct {
    int rate;
    int channels;
    int bits;
    double minSnr;
  } cases[] = {{11025, 1, 8, 35},
               {22050, 2, 16, 60},
               {5125, 1, 16, 60},
               {48000, 2, 8, 35},
               {37800, 1, 16, 60}};
  for (const auto& c : cases) {
    const std::string wav = dir.File("out" + std::to_string(c.rate) + ".wav");
    ASSERT_EQ(WriteWav(wav, MakePcmFormat(c.channels, c.rate, c.bits), source, 44100, 2), kOk);
    EXPECT_EQ(ProbeValue(wav, "stream=codec_name,sample_rate,channels", "a"),
              std::string(c.bits == 8 ? "pcm_u8" : "pcm_s16le") + "\n" + std::to_string(c.rate) +
                  "\n" + std::to_string(c.channels));
    const auto pcm = testing::AsSamples(testing::FfmpegAudio(wav, "s16le"));
    EXPECT_NEAR(static_cast<double>(pcm.size()) / c.channels, c.rate, 2) << c.rate;
    for (int ch = 0; ch < c.channels; ++ch)
      EXPECT_GT(testing::SineSnr(pcm, c.channels, ch, c.rate, 440), c.minSnr) << c.rate;
  }
  // Mono to stereo puts the sound on both sides at its own level.
  const auto mono = testing::SineSamples(22050, 1, 0.5, 440);
  const std::string wide = dir.File("wide.wav");
  ASSERT_EQ(WriteWav(wide, MakePcmFormat(2, 22050, 16), mono, 22050, 1), kOk);
  const auto pcm = testing::AsSamples(testing::FfmpegAudio(wide, "s16le"));
  ASSERT_EQ(pcm.size(), mono.size() * 2);
  for (std::size_t i = 0; i < mono.size(); ++i) {
    ASSERT_EQ(pcm[2 * i], mono[i]);
    ASSERT_EQ(pcm[2 * i + 1], mono[i]);
  }
}

TEST(WavWriter, CompressedFormats) {
  CALVEX_REQUIRE_TOOL("ffprobe");
  testing::TempDir dir;
  const struct {
    std::uint16_t tag;
    int rate;
    int channels;
    const char* codec;
    double minSnr;
  } cases[] = {{2, 22050, 2, "adpcm_ms", 20},
               {0x11, 11025, 1, "adpcm_ima_wav", 20},
               {7, 8000, 1, "pcm_mulaw", 30},
               {6, 22050, 2, "pcm_alaw", 30},
               {0x31, 8000, 1, "gsm_ms", 3}};
  const auto source = testing::SineSamples(22050, 2, 1.0, 440);
  for (const auto& c : cases) {
    const std::string wav = dir.File(std::string(c.codec) + ".wav");
    const WaveFormat format = WaveFormatFor(c.tag, c.channels, c.rate, 16);
    ASSERT_EQ(WriteWav(wav, format, source, 22050, 2), kOk) << c.codec;
    EXPECT_EQ(
        ProbeValue(wav, "stream=codec_name,sample_rate,channels", "a"),
        std::string(c.codec) + "\n" + std::to_string(c.rate) + "\n" + std::to_string(c.channels));
    const auto bytes = testing::ReadFileBytes(wav);
    const std::size_t fmt = testing::FindTag(bytes, "fmt ");
    EXPECT_EQ(testing::Le16At(bytes, fmt + 8 + 12), format.blockAlign) << c.codec;
    EXPECT_EQ(testing::Le32At(bytes, fmt + 8 + 8), format.avgBytesPerSec) << c.codec;
    // The layer's own reader decodes it again.
    WaveReader reader;
    WaveRecord record;
    ASSERT_EQ(reader.OpenWaveFile(wav, record), kOk) << c.codec;
    EXPECT_NEAR(record.sampleFrames, c.rate, 2) << c.codec;  // the filled-up block is not counted
    std::vector<std::uint8_t> pcm(std::size_t{record.sampleFrames} * record.format.blockAlign);
    std::size_t got = 0;
    ASSERT_EQ(reader.ReadWave(pcm.data(), pcm.size(), got), kOk);
    pcm.resize(got);
    EXPECT_GT(testing::SineSnr(testing::AsSamples(pcm), c.channels, 0, c.rate, 440), c.minSnr)
        << c.codec;
    WavInfo info;
    ASSERT_EQ(ReadWavInfo(wav, info), kOk);
    EXPECT_EQ(info.formatTag, c.tag);
    EXPECT_NEAR(info.durationHundredths, 100, 12) << c.codec;
  }
}

TEST(WavWriter, SameInputSameBytes) {
  testing::TempDir dir;
  const auto source = testing::SineSamples(44100, 2, 0.3, 440);
  const WaveFormat format = WaveFormatFor(2, 1, 22050, 4);
  ASSERT_EQ(WriteWav(dir.File("a.wav"), format, source, 44100, 2), kOk);
  ASSERT_EQ(WriteWav(dir.File("b.wav"), format, source, 44100, 2), kOk);
  EXPECT_EQ(testing::ReadFileBytes(dir.File("a.wav")), testing::ReadFileBytes(dir.File("b.wav")));
}

TEST(WavWriter, RefusalsAndFailuresLeaveNoFile) {
  testing::TempDir dir;
  const auto source = testing::SineSamples(22050, 1, 0.2, 440);
  const std::string wav = dir.File("x.wav");
  WaveFormat odd = MakePcmFormat(1, 22050, 16);
  odd.formatTag = 0x1234;
  const struct {
    WaveFormat format;
    Status expected;
  } refusals[] = {{MakePcmFormat(1, 4000, 16), kAudioDataTypeUnsupported},
                  {MakePcmFormat(1, 96000, 16), kAudioDataTypeUnsupported},
                  {MakePcmFormat(1, 22050, 24), kAudioDataTypeUnsupported},
                  {WaveFormatFor(0x31, 1, 22050, 16), kAudioDataTypeUnsupported},
                  {odd, kAudioDataTypeUnsupported}};
  for (const auto& r : refusals) {
    EXPECT_EQ(WriteWav(wav, r.format, source, 22050, 1), r.expected);
    EXPECT_FALSE(std::filesystem::exists(wav));
  }
  WavWriter writer;
  EXPECT_EQ(writer.myWAVOutputBegin(wav, MakePcmFormat(1, 22050, 16), 22050, 8, 1),
            kAudioDataTypeUnsupported);
  EXPECT_EQ(writer.myWAVOutput(source.data(), 100), kWavWriteFailed);
  EXPECT_EQ(writer.myWAVOutputEnd(), kWavWriteFailed);
  EXPECT_EQ(WriteWav(dir.File("no/such/dir/x.wav"), MakePcmFormat(1, 22050, 16), source, 22050, 1),
            kCreateFailed);
  {
    WavWriter unfinished;
    ASSERT_EQ(unfinished.myWAVOutputBegin(wav, MakePcmFormat(1, 22050, 16), 22050, 16, 1), kOk);
    ASSERT_EQ(unfinished.myWAVOutput(source.data(), 1600), kOk);
    EXPECT_TRUE(std::filesystem::exists(wav));
  }
  EXPECT_FALSE(std::filesystem::exists(wav));
  if (std::filesystem::exists("/dev/full")) {
    const auto longer = testing::SineSamples(44100, 2, 1.0, 440);
    EXPECT_EQ(WriteWav("/dev/full", MakePcmFormat(2, 44100, 16), longer, 44100, 2),
              kWavWriteFailed);
    EXPECT_TRUE(std::filesystem::exists("/dev/full"));
  }
}

}  // namespace
}  // namespace calvex::media
