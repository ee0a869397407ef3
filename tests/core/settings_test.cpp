#include "core/settings.h"

#include <gtest/gtest.h>

#include <vector>

namespace calvex {
namespace {

ConversionSettings SettingsFor(int rateNum, int rateDen, int frames, int frameRateIndex) {
  ConversionSettings s;
  s.aviInfo.frameRatePacked = static_cast<std::uint32_t>(rateNum << 16 | rateDen);
  s.aviInfo.frameCount = static_cast<std::uint16_t>(frames);
  s.aviToMpeg.frameRateIndex = frameRateIndex;
  return s;
}

TEST(FrameMapping, FifteenToThirtyUsesEachFrameTwice) {
  ConversionSettings s = SettingsFor(15, 1, 100, 0);
  DeriveFrameParameters(s);
  EXPECT_EQ(s.rateDelta, 15000);
  EXPECT_EQ(s.outputFrameCount, 200);
  for (int n = 0; n < 200; ++n) EXPECT_EQ(SourceFrameFor(s, n), n / 2) << n;
}

TEST(FrameMapping, ThirtyToTwentyFiveDropsEverySixthFrame) {
  ConversionSettings s = SettingsFor(30, 1, 300, 2);
  DeriveFrameParameters(s);
  EXPECT_EQ(s.outputFrameCount, 250);
  EXPECT_EQ(s.pictureRateCode, 3);
  std::vector<int> used;
  for (int n = 0; n < 250; ++n) used.push_back(SourceFrameFor(s, n));
  EXPECT_EQ((std::vector<int>(used.begin(), used.begin() + 7)),
            (std::vector<int>{0, 1, 2, 3, 4, 6, 7}));
  EXPECT_EQ(used[249], 298);
  for (int f : {5, 11, 17, 299}) EXPECT_EQ(std::count(used.begin(), used.end(), f), 0) << f;
}

TEST(FrameMapping, SectionAtChangedRateEndsOnItsLastFrame) {
  ConversionSettings s = SettingsFor(30, 1, 300, 2);
  s.sectionFirst = 100;
  s.sectionLast = 159;
  DeriveFrameParameters(s);
  EXPECT_EQ(s.outputFrameCount, 50);
  EXPECT_EQ(SourceFrameFor(s, 0), 100);
  EXPECT_EQ(SourceFrameFor(s, 49), 159);
  for (int n = 1; n < 49; ++n) {
    EXPECT_GE(SourceFrameFor(s, n), 100);
    EXPECT_LE(SourceFrameFor(s, n), 159);
  }
}

TEST(FrameMapping, SmallRateDifferencesCountAsTheSameRate) {
  ConversionSettings same = SettingsFor(30000, 1001, 50, 1);  // 29.970
  DeriveFrameParameters(same);
  EXPECT_EQ(same.sourceMilliFps, 29970);
  EXPECT_EQ(same.rateDelta, 0);
  EXPECT_EQ(same.outputFrameCount, 50);

  ConversionSettings close = SettingsFor(29968, 1000, 50, 1);
  DeriveFrameParameters(close);
  EXPECT_EQ(close.rateDelta, 0);

  ConversionSettings section = SettingsFor(25, 1, 300, 2);
  section.sectionFirst = 10;
  section.sectionLast = 19;
  DeriveFrameParameters(section);
  EXPECT_EQ(section.outputFrameCount, 10);
  EXPECT_EQ(SourceFrameFor(section, 0), 10);
  EXPECT_EQ(SourceFrameFor(section, 9), 19);
}

TEST(FrameMapping, UnknownSourceRateNeverDividesByZero) {
  ConversionSettings s = SettingsFor(0, 0, 10, 0);
  DeriveFrameParameters(s);
  EXPECT_EQ(s.rateDelta, 0);
  EXPECT_EQ(s.outputFrameCount, 10);
}

TEST(FrameMapping, LongMoviesKeepTheirFullFrameCount) {
  ConversionSettings s = SettingsFor(30, 1, 0, 0);
  s.sourceFrameCount = 100000;  // beyond the information block's 16 bits
  DeriveFrameParameters(s);
  EXPECT_EQ(s.outputFrameCount, 100000);
}

TEST(FrameRateIndexFor, ChoosesTheListRow) {
  auto packed = [](int num, int den) { return static_cast<std::uint32_t>(num << 16 | den); };
  EXPECT_EQ(FrameRateIndexFor(packed(30, 1)), 0);
  EXPECT_EQ(FrameRateIndexFor(packed(60, 1)), 0);
  EXPECT_EQ(FrameRateIndexFor(packed(30000, 1001)), 1);
  EXPECT_EQ(FrameRateIndexFor(packed(2997, 100)), 1);
  EXPECT_EQ(FrameRateIndexFor(packed(25, 1)), 2);
  EXPECT_EQ(FrameRateIndexFor(packed(24, 1)), 3);
  EXPECT_EQ(FrameRateIndexFor(packed(24000, 1001)), 4);
  EXPECT_EQ(FrameRateIndexFor(packed(15, 1)), 3);
  EXPECT_EQ(FrameRateIndexFor(packed(0, 0)), 0);
}

TEST(DefaultParams, SizesAndDataRates) {
  EXPECT_EQ(EvenClampedSize(321), 320);
  EXPECT_EQ(EvenClampedSize(241), 240);
  EXPECT_EQ(EvenClampedSize(700), 480);
  EXPECT_EQ(EvenClampedSize(20), 32);
  EXPECT_EQ(DefaultDataRateFor(160, 120), 70);
  EXPECT_EQ(DefaultDataRateFor(240, 180), 120);
  EXPECT_EQ(DefaultDataRateFor(320, 240), 150);
  EXPECT_EQ(DefaultDataRateFor(0, 0), 70);

  AviInfo info;
  info.width = 321;
  info.height = 241;
  info.frameRatePacked = 25u << 16 | 1u;
  info.audioFormatTag = 1;
  info.audioChannels = 1;
  const AviToMpegParams p = DefaultAviToMpegParams(info);
  EXPECT_EQ(p.width, 320);
  EXPECT_EQ(p.height, 240);
  EXPECT_EQ(p.frameRateIndex, 2);
  EXPECT_EQ(p.audioBitrateKbps, 64);
  EXPECT_EQ(p.audioLayer, 2);
  EXPECT_EQ(p.jointStereo, 1);
}

TEST(VideoBitRate, SubtractsTheAudioShare) {
  AviToMpegParams p;
  p.dataRateKBps = 150;
  p.audioBitrateKbps = 128;
  EXPECT_EQ(VideoBitRateFor(p), 134u * 8192u);
  p.dataRateKBps = 60;
  p.audioBitrateKbps = 448;
  EXPECT_EQ(VideoBitRateFor(p), 4u * 8192u);
}

// The Video CD format by the source's rate: PAL for rates near 25, 50 and 12.5, film for 24 and
// 23.976, NTSC for the rest; the video rate is fixed whatever the data rate says.
TEST(VideoCd, FormatFollowsTheSourceRate) {
  struct Case {
    std::uint32_t packedRate;
    std::int32_t frameRateIndex, height;
  };
  const Case cases[] = {{25u << 16 | 1, 2, 288}, {50u << 16 | 1, 2, 288},
                        {25u << 16 | 2, 2, 288}, {24000u << 16 | 1001, 4, 240},
                        {24u << 16 | 1, 4, 240}, {30000u << 16 | 1001, 1, 240},
                        {15u << 16 | 1, 1, 240}, {0, 1, 240}};
  for (const Case& c : cases) {
    AviToMpegParams p;
    ApplyVideoCdFormat(p, c.packedRate);
    EXPECT_EQ(p.frameRateIndex, c.frameRateIndex) << (c.packedRate >> 16);
    EXPECT_EQ(p.height, c.height) << (c.packedRate >> 16);
    EXPECT_EQ(p.width, 352);
    EXPECT_EQ(p.audioBitrateKbps, 224);
    EXPECT_EQ(p.audioLayer, 2);
    EXPECT_EQ(p.videoCd, 1);
    EXPECT_FALSE(ValidateAviToMpeg(p));
    EXPECT_EQ(VideoBitRateFor(p), 1150000u);
  }
}

TEST(Validation, AviToMpegChecksInOrder) {
  AviToMpegParams p;
  EXPECT_FALSE(ValidateAviToMpeg(p));
  p.width = 31;
  auto e = ValidateAviToMpeg(p);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Text(), "Invalid parameters. The value must be between 32 and 480");
  p.width = 33;
  e = ValidateAviToMpeg(p);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Text(), "The width and height must be even numbers.");
  p.width = kMixedValue;  // blank passes
  p.dataRateKBps = 201;
  e = ValidateAviToMpeg(p);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->field, "dataRateKBps");
}

TEST(Validation, MpegToAviPackEveryFollowsTheFrameRate) {
  MpegToAviParams p;
  p.width = 352;
  p.height = 240;
  p.frameRateMilli = 25000;
  p.packEveryFrames = 26;
  auto e = ValidateMpegToAvi(p);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->high, 25);
  p.frameRateMilli = kMixedValue;
  EXPECT_FALSE(ValidateMpegToAvi(p));
  p.frameRateMilli = 9000;
  e = ValidateMpegToAvi(p);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Text(), "Invalid parameters. The value must be between 10 and 30");
  p.frameRateMilli = 25000;
  p.packEveryFrames = 1;
  p.targetDrive = 6;
  p.dataRateKBps = 5;
  EXPECT_TRUE(ValidateMpegToAvi(p));
  p.targetDrive = 0;
  EXPECT_FALSE(ValidateMpegToAvi(p));
}

TEST(Panel, MixedFieldsKeepEachEntrysValue) {
  AviToMpegParams a, b;
  a.height = 240;
  b.height = 120;
  const AviToMpegParams panel = MergeForPanel(std::vector<const decltype(a)*>{&a, &b});
  EXPECT_EQ(panel.height, kMixedValue);
  EXPECT_EQ(panel.width, 320);
  AviToMpegParams edited = panel;
  edited.width = 160;
  ApplyPanel(edited, a);
  ApplyPanel(edited, b);
  EXPECT_EQ(a.height, 240);
  EXPECT_EQ(b.height, 120);
  EXPECT_EQ(a.width, 160);
  EXPECT_EQ(b.width, 160);
}

TEST(Panel, WaveFormatFieldsMergeOneByOne) {
  Mp2ToWavParams a, b;
  a.SetFormat(MakePcmFormat(1, 22050, 16));
  b.SetFormat(MakePcmFormat(2, 22050, 16));
  Mp2ToWavParams panel = MergeForPanel(std::vector<const decltype(a)*>{&a, &b});
  EXPECT_EQ(panel.Format().channels, kMixedValue16);
  EXPECT_EQ(panel.Format().samplesPerSec, 22050u);
  WaveFormat f = panel.Format();
  f.samplesPerSec = 11025;
  panel.SetFormat(f);
  ApplyPanel(panel, a);
  ApplyPanel(panel, b);
  EXPECT_EQ(a.Format().channels, 1);
  EXPECT_EQ(b.Format().channels, 2);
  EXPECT_EQ(a.Format().samplesPerSec, 11025u);
}

TEST(Kinds, ByLowerCasedExtension) {
  EXPECT_EQ(KindByExtension("/v/movie.AVI"), ConversionKind::kAviToMpeg);
  EXPECT_EQ(KindByExtension("song.wav"), ConversionKind::kWavToMp2);
  EXPECT_EQ(KindByExtension("a.b/clip.Mpg"), ConversionKind::kMpegToAvi);
  EXPECT_EQ(KindByExtension("x.mp2"), ConversionKind::kMp2ToWav);
  EXPECT_EQ(KindByExtension("movie.avi2"), ConversionKind::kNone);
  EXPECT_EQ(KindByExtension("movie"), ConversionKind::kNone);
  EXPECT_EQ(KindByExtension("dir.avi/movie"), ConversionKind::kNone);
}

TEST(TargetDrive, RatesAndCustomClamp) {
  EXPECT_EQ(TargetDriveDataRate(0, 0), 600);
  EXPECT_EQ(TargetDriveDataRate(3, 0), 450);
  EXPECT_EQ(TargetDriveDataRate(6, 0), 150);
  EXPECT_EQ(TargetDriveDataRate(6, 5000), 1000);
  EXPECT_EQ(TargetDriveDataRate(6, 5), 10);
}

}  // namespace
}  // namespace calvex
