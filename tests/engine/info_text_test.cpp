// The fields of the information dialogs and their formats.
#include "engine/info_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <utility>

namespace calvex {
namespace {

// The texts by label ("Audio Size:" for the audio box's "Size:").
std::map<std::string, std::string> ByLabel(const std::vector<InfoLine>& lines) {
  std::map<std::string, std::string> texts;
  for (const InfoLine& l : lines) {
    const std::string key = (l.group == "Audio" ? "Audio " : "") + l.label;
    EXPECT_EQ(texts.count(key), 0u) << key;
    texts[key] = l.text;
  }
  return texts;
}

TEST(InfoText, FileSizesAndNames) {
  EXPECT_EQ(FileSizeText(95000), "95,000 Bytes");
  EXPECT_EQ(FileSizeText(100000), "100,000 Bytes");
  EXPECT_EQ(FileSizeText(100001), "97 KB");
  EXPECT_EQ(FileSizeText(150000), "146 KB");
  EXPECT_EQ(FileSizeText(10), " 0,010 Bytes");
  EXPECT_EQ(FileNameText("/home/x/movie.avi"), "movie.avi");
  EXPECT_EQ(FileNameText("C:\\movies\\movie.avi"), "movie.avi");
  EXPECT_EQ(FileNameText("movie.avi"), "movie.avi");
}

TEST(InfoText, AviFieldsAndDuration) {
  AviInfo i;
  i.fileSize = 150000;
  i.frameRatePacked = 15u << 16 | 1u;
  i.frameCount = 300;
  i.width = 320;
  i.height = 240;
  i.bitsPerPixel = 24;
  i.videoDataSize = 95000;
  i.compressionRatioTenths = 125;
  i.audioFormatTag = 1;
  i.audioSampleRate = 22050;
  i.audioChannels = 1;
  i.audioBitsPerSample = 8;
  i.audioDataSize = 5000;
  auto t = ByLabel(AviInfoLines("/x/a.avi", i, nullptr));
  EXPECT_EQ(t["File Name:"], "a.avi");
  EXPECT_EQ(t["File Size:"], "146 KB");
  EXPECT_EQ(t["Frame Rate:"], "15.000 Frames/Sec");
  EXPECT_EQ(t["Total Frames:"], "300 Frames");
  EXPECT_EQ(t["Video Duration:"], "20.0 Secs");
  EXPECT_EQ(t["Format:"], "24 Bits [ 320 x 240 ]");
  EXPECT_EQ(t["Size:"], "95,000 Bytes");
  EXPECT_EQ(t["Compression:"], "No Compression");
  EXPECT_EQ(t["Comp. Ratio:"], "12.5%");
  EXPECT_EQ(t["Audio Format:"], "PCM");
  EXPECT_EQ(t["Audio Attributes:"], "22.05 kHz ,8 Bits, Mono");
  EXPECT_EQ(t["Audio Size:"], " 5,000 Bytes");
  EXPECT_EQ(AviVideoDurationHundredths(i), 2000);

  // 29.97 stays 29.97 when cut to hundredths; the duration shows tenths (12.05 s is 12.0, not
  // the 12.5 that hundredths without their leading zero would give).
  i.frameRatePacked = 2997u << 16 | 100u;
  i.frameCount = 362;  // 12.078 s
  std::strcpy(i.compressionName, "Cinepak");
  i.audioFormatTag = 2;
  i.audioChannels = 2;
  t = ByLabel(AviInfoLines("a.avi", i, nullptr));
  EXPECT_EQ(t["Frame Rate:"], "29.970 Frames/Sec");
  EXPECT_EQ(AviVideoDurationHundredths(i), 1207);
  EXPECT_EQ(t["Video Duration:"], "12.0 Secs");
  EXPECT_EQ(t["Compression:"], "Cinepak");
  EXPECT_EQ(t["Audio Format:"], "Microsoft ADPCM");
  EXPECT_EQ(t["Audio Attributes:"], "22.05 kHz ,8 Bits, Stereo");
  i.frameRatePacked = 30000u << 16 | 1001u;
  EXPECT_EQ(ByLabel(AviInfoLines("a.avi", i, nullptr))["Frame Rate:"], "29.970 Frames/Sec");

  // Other tags by the media layer's name; no sound: "No Audio" and nothing more.
  i.audioFormatTag = 0x11;
  const auto named = [](std::uint16_t tag) { return tag == 0x11 ? "IMA ADPCM" : ""; };
  EXPECT_EQ(ByLabel(AviInfoLines("a.avi", i, named))["Audio Format:"], "IMA ADPCM");
  i.audioFormatTag = 0x1234;
  EXPECT_EQ(ByLabel(AviInfoLines("a.avi", i, named))["Audio Format:"],
            "Unknown compression scheme");
  i.audioFormatTag = 0;
  t = ByLabel(AviInfoLines("a.avi", i, named));
  EXPECT_EQ(t["Audio Format:"], "No Audio");
  EXPECT_EQ(t["Audio Attributes:"], "");
  EXPECT_EQ(t["Audio Size:"], "");
  // A block without a rate has no duration.
  i.frameRatePacked = 0;
  EXPECT_EQ(AviVideoDurationHundredths(i), 0);
}

TEST(InfoText, WavFields) {
  WavInfo i;
  i.fileSize = 95000;
  i.formatTag = 1;
  i.sampleRate = 44100;
  i.bitsPerSample = 16;
  i.channels = 2;
  i.durationHundredths = 1234;
  auto t = ByLabel(WavInfoLines("song.wav", i, nullptr));
  EXPECT_EQ(t["File Name:"], "song.wav");
  EXPECT_EQ(t["Format:"], "Microsoft wave format");
  EXPECT_EQ(t["Compression:"], "PCM");
  EXPECT_EQ(t["File Size:"], "95,000 Bytes");
  EXPECT_EQ(t["Sampling Rate:"], "44.10 kHz ");
  EXPECT_EQ(t["Bits per Sample:"], "16 Bits");
  EXPECT_EQ(t["Channels:"], "Stereo");
  EXPECT_EQ(t["Duration:"], "00:00:12.3");
  i.durationHundredths = 65535;  // the longest the block holds
  i.channels = 1;
  t = ByLabel(WavInfoLines("song.wav", i, nullptr));
  EXPECT_EQ(t["Duration:"], "00:10:55.3");
  EXPECT_EQ(t["Channels:"], "Mono");
}

TEST(InfoText, MpegFields) {
  MpegInfo i;
  i.fileSize = 2000000;
  i.frameRateNum = 25;
  i.frameRateDen = 1;
  i.width = 352;
  i.height = 288;
  i.videoBitRate = 3750;  // 1.5 Mbit/s
  i.audioSampleRate = 44100;
  i.audioBitsPerSample = 16;
  i.audioLayer = 2;
  i.audioBitrateIndex = 10;
  i.audioChannelMode = 3;
  auto t = ByLabel(MpegInfoLines("m.mpg", i));
  EXPECT_EQ(t["File Size:"], "1953 KB");
  EXPECT_EQ(t["Frame Rate:"], "25");
  EXPECT_EQ(t["Width:"], "352 Pixels");
  EXPECT_EQ(t["Height:"], "288 Pixels");
  EXPECT_EQ(t["Data Rate:"], "183 KB/Sec");
  EXPECT_EQ(t["Audio Sampling Rate:"], "44.1 kHz");
  EXPECT_EQ(t["Audio Bits per Sample:"], "16 Bits");
  EXPECT_EQ(t["Audio Channels:"], "Joint Stereo");
  EXPECT_EQ(t["Audio Layer:"], "II");
  EXPECT_EQ(t["Audio Bitrate:"], "192 KBits/Sec");

  i.frameRateNum = 30000;
  i.frameRateDen = 1001;
  i.videoBitRate = 0x3FFFF;
  i.audioSampleRate = 32000;
  i.audioLayer = 1;
  i.audioBitrateIndex = 14;
  i.audioChannelMode = 4;
  t = ByLabel(MpegInfoLines("m.mpg", i));
  EXPECT_EQ(t["Frame Rate:"], "29.970");
  EXPECT_EQ(t["Data Rate:"], "Variable");
  EXPECT_EQ(t["Audio Sampling Rate:"], "32.0 kHz");
  EXPECT_EQ(t["Audio Channels:"], "Dual Channel");
  EXPECT_EQ(t["Audio Layer:"], "I");
  EXPECT_EQ(t["Audio Bitrate:"], "448 KBits/Sec");

  // Without sound: "No Audio" and the other audio fields empty.
  i.audioSampleRate = 0;
  t = ByLabel(MpegInfoLines("m.mpg", i));
  EXPECT_EQ(t["Audio Sampling Rate:"], "No Audio");
  for (const char* empty :
       {"Audio Bits per Sample:", "Audio Channels:", "Audio Layer:", "Audio Bitrate:"})
    EXPECT_EQ(t[empty], "") << empty;
}

TEST(InfoText, Mp2FieldsAndTheBitrateTable) {
  Mp2Info i;
  i.fileSize = 48000;
  i.sampleRate = 48000;
  i.bitsPerSample = 16;
  i.layer = 2;
  i.bitrateIndex = 4;
  i.channelMode = 1;
  auto t = ByLabel(Mp2InfoLines("s.mp2", i));
  EXPECT_EQ(t["File Size:"], "48,000 Bytes");
  EXPECT_EQ(t["Sampling Rate:"], "48.00 kHz ");
  EXPECT_EQ(t["Bits per Sample:"], "16 Bits");
  EXPECT_EQ(t["Channels:"], "Mono");
  EXPECT_EQ(t["Layer:"], "II");
  EXPECT_EQ(t["Bitrate:"], "64 KBits/Sec");

  EXPECT_EQ(AudioBitrateKbps(1, 1), 32);
  EXPECT_EQ(AudioBitrateKbps(2, 14), 384);
  EXPECT_EQ(AudioBitrateKbps(3, 14), 320);
  EXPECT_EQ(AudioBitrateKbps(3, 2), 40);
  for (const auto& [layer, index] :
       std::initializer_list<std::pair<int, int>>{{2, 0}, {2, 15}, {0, 5}, {4, 5}, {2, -1}})
    EXPECT_EQ(AudioBitrateKbps(layer, index), 0) << layer << " " << index;
}

}  // namespace
}  // namespace calvex
