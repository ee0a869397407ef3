#include "cli/convert_options.h"

#include <gtest/gtest.h>

#include <cstring>

namespace calvex::cli {
namespace {

SourceEntry Entry(ConversionKind kind) {
  SourceEntry e;
  e.kind = kind;
  e.mpegInfo.frameRateNum = 25;
  e.mpegInfo.frameRateDen = 1;
  e.mpegInfo.width = 352;
  e.mpegInfo.height = 288;
  e.mpegInfo.audioSampleRate = 44100;
  e.mpegInfo.audioChannelMode = 2;
  e.mp2Info.sampleRate = 44100;
  ApplyDefaultParams(e);
  return e;
}

std::string Refusal(const ConvertOptions& o, ConversionKind kind) {
  SourceEntry e = Entry(kind);
  const auto error = ApplyOptions(o, e);
  return error ? error->text : "";
}

TEST(ConvertOptions, AviToMpegFields) {
  ConvertOptions o;
  o.frameRate = "23.976";
  o.size = "352x240";
  o.dataRate = 120;
  o.layer = 1;
  o.audioBitrate = 192;
  o.stereo = true;
  SourceEntry e = Entry(ConversionKind::kAviToMpeg);
  ASSERT_FALSE(ApplyOptions(o, e));
  EXPECT_EQ(e.aviToMpeg.frameRateIndex, 4);
  EXPECT_EQ(e.aviToMpeg.width, 352);
  EXPECT_EQ(e.aviToMpeg.height, 240);
  EXPECT_EQ(e.aviToMpeg.dataRateKBps, 120);
  EXPECT_EQ(e.aviToMpeg.audioLayer, 1);
  EXPECT_EQ(e.aviToMpeg.audioBitrateKbps, 192);
  EXPECT_EQ(e.aviToMpeg.jointStereo, 0);
}

TEST(ConvertOptions, VideoCdSetsTheFormatAndTakesNoOtherSetting) {
  ConvertOptions o;
  o.vcd = true;
  SourceEntry e = Entry(ConversionKind::kAviToMpeg);
  e.aviInfo.frameRatePacked = 25u << 16 | 1;
  ASSERT_FALSE(ApplyOptions(o, e));
  EXPECT_EQ(e.aviToMpeg.videoCd, 1);
  EXPECT_EQ(e.aviToMpeg.height, 288);
  o.size = "320x240";
  EXPECT_NE(Refusal(o, ConversionKind::kAviToMpeg).find("--vcd"), std::string::npos);
}

TEST(ConvertOptions, ValuesOutOfBoundsGiveThePagesMessages) {
  ConvertOptions o;
  o.size = "321x240";
  EXPECT_EQ(Refusal(o, ConversionKind::kAviToMpeg), "The width and height must be even numbers.");
  o.size = "500x240";
  EXPECT_EQ(Refusal(o, ConversionKind::kAviToMpeg),
            "Invalid parameters. The value must be between 32 and 480");
  // The same size is fine for an AVI output.
  EXPECT_EQ(Refusal(o, ConversionKind::kMpegToAvi), "");
  o = {};
  o.dataRate = 59;
  EXPECT_EQ(Refusal(o, ConversionKind::kAviToMpeg),
            "Invalid parameters. The value must be between 60 and 200");
  o = {};
  o.audioBitrate = 449;
  EXPECT_EQ(Refusal(o, ConversionKind::kWavToMp2),
            "Invalid parameters. The value must be between 32 and 448");
  o = {};
  o.wavRate = 5000;
  EXPECT_EQ(Refusal(o, ConversionKind::kMp2ToWav),
            "Invalid parameters. The value must be between 6 and 48");
  o = {};
  o.frameRate = "9.5";
  EXPECT_EQ(Refusal(o, ConversionKind::kMpegToAvi),
            "Invalid parameters. The value must be between 10 and 30");
  o = {};
  o.packEvery = 26;  // the MPEG runs at 25 frames per second
  EXPECT_EQ(Refusal(o, ConversionKind::kMpegToAvi),
            "Invalid parameters. The value must be between 1 and 25");
  o = {};
  o.quality = 0;
  EXPECT_EQ(Refusal(o, ConversionKind::kMpegToAvi),
            "Invalid parameters. The value must be between 1 and 100");
}

TEST(ConvertOptions, SyntaxErrors) {
  ConvertOptions o;
  o.frameRate = "15";
  EXPECT_NE(Refusal(o, ConversionKind::kAviToMpeg), "");
  EXPECT_EQ(Refusal(o, ConversionKind::kMpegToAvi), "");
  o = {};
  o.size = "352*240";
  EXPECT_NE(Refusal(o, ConversionKind::kAviToMpeg), "");
  o = {};
  o.videoCodec = "mjpeg";
  EXPECT_NE(Refusal(o, ConversionKind::kMpegToAvi), "");
  o = {};
  o.padForCdRom = true;  // needs a CD-ROM or custom target drive
  EXPECT_NE(Refusal(o, ConversionKind::kMpegToAvi), "");
  o.targetDrive = 4;
  EXPECT_EQ(Refusal(o, ConversionKind::kMpegToAvi), "");
}

TEST(ConvertOptions, MpegToAviFields) {
  ConvertOptions o;
  o.frameRate = "29.97";
  o.videoCodec = "MJPG";
  o.quality = 75;
  o.noInterleave = true;
  o.dataRate = 5000;
  SourceEntry e = Entry(ConversionKind::kMpegToAvi);
  // A typed rate is checked, not clamped.
  EXPECT_EQ(ApplyOptions(o, e)->text, "Invalid parameters. The value must be between 10 and 1000");
  o.dataRate = 400;
  e = Entry(ConversionKind::kMpegToAvi);
  ASSERT_FALSE(ApplyOptions(o, e));
  const MpegToAviParams& p = e.mpegToAvi;
  EXPECT_EQ(p.frameRateMilli, 29970);
  EXPECT_EQ(p.frameRatePacked, (29970 << 16) | 1000);
  EXPECT_EQ(p.compressor, 'M' | 'J' << 8 | 'P' << 16 | 'G' << 24);
  EXPECT_EQ(p.quality, 7500);
  EXPECT_EQ(p.interleave, 0);
  EXPECT_EQ(p.targetDrive, 6);
  EXPECT_EQ(p.dataRateKBps, 400);
  EXPECT_EQ(p.limitDataRate, 1);

  o = {};
  o.targetDrive = 3;
  e = Entry(ConversionKind::kMpegToAvi);
  ASSERT_FALSE(ApplyOptions(o, e));
  EXPECT_EQ(e.mpegToAvi.dataRateKBps, 450);
  EXPECT_EQ(e.mpegToAvi.limitDataRate, 1);
}

TEST(ConvertOptions, WaveFormatsStayConsistent) {
  ConvertOptions o;
  o.wavRate = 22050;
  o.wavChannels = 2;
  o.wavBits = 8;
  SourceEntry e = Entry(ConversionKind::kMp2ToWav);
  ASSERT_FALSE(ApplyOptions(o, e));
  WaveFormat f = e.mp2ToWav.Format();
  EXPECT_EQ(f.formatTag, kWaveFormatPcm);
  EXPECT_EQ(f.samplesPerSec, 22050u);
  EXPECT_EQ(f.blockAlign, 2);
  EXPECT_EQ(f.avgBytesPerSec, 44100u);

  o.wavFormat = "adpcm";
  o.wavBits.reset();
  e = Entry(ConversionKind::kMp2ToWav);
  ASSERT_FALSE(ApplyOptions(o, e));
  f = e.mp2ToWav.Format();
  EXPECT_EQ(f.formatTag, kWaveFormatMsAdpcm);
  EXPECT_EQ(f.blockAlign, 1024);
  EXPECT_EQ(f.bitsPerSample, 4);
  EXPECT_EQ(f.extraSize, 32);
  std::uint16_t samplesPerBlock = 0;
  std::memcpy(&samplesPerBlock, e.mp2ToWav.format.data() + sizeof(WaveFormat), 2);
  EXPECT_EQ(samplesPerBlock, 1012);
  EXPECT_EQ(f.avgBytesPerSec, 22050u * 1024u / 1012u);
}

TEST(ConvertOptions, BlankRecordsCheckTheOptionsAlone) {
  ConvertOptions o;
  for (ConversionKind kind : {ConversionKind::kAviToMpeg, ConversionKind::kWavToMp2,
                              ConversionKind::kMpegToAvi, ConversionKind::kMp2ToWav}) {
    SourceEntry blank = BlankEntry(kind);
    EXPECT_FALSE(ApplyOptions(o, blank)) << static_cast<int>(kind);
  }
  o.audioBitrate = 20;
  SourceEntry blank = BlankEntry(ConversionKind::kWavToMp2);
  EXPECT_TRUE(ApplyOptions(o, blank));
}

TEST(ConvertOptions, Sections) {
  std::vector<Section> s;
  ASSERT_FALSE(ParseSections({"0-99", "150-150"}, s));
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[1].first, 150);
  EXPECT_EQ(s[1].last, 150);
  for (const char* bad : {"5-2", "-1-3", "3", "a-b", "1-2x", ""})
    EXPECT_TRUE(ParseSections({bad}, s)) << bad;
  EXPECT_TRUE(ParseSections(std::vector<std::string>(17, "0-1"), s));
  EXPECT_FALSE(ParseSections(std::vector<std::string>(16, "0-1"), s));
}

}  // namespace
}  // namespace calvex::cli
