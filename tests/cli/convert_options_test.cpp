#include "cli/convert_options.h"

#include <gtest/gtest.h>

#include <array>
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

std::array<std::uint32_t, 6> Fields(const WaveFormat& f) {
  return {f.formatTag,      f.channels,   f.samplesPerSec,
          f.avgBytesPerSec, f.blockAlign, f.bitsPerSample};
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

// The pages' messages, after the option and the value they are about.
TEST(ConvertOptions, ValuesOutOfBoundsNameTheOptionAndGiveThePagesMessages) {
  struct Case {
    ConvertOptions options;
    ConversionKind kind;
    std::string refusal;
  };
  const auto with = [](auto set) {
    ConvertOptions o;
    set(o);
    return o;
  };
  const std::string bounds = "Invalid parameters. The value must be between ";
  const Case cases[] = {
      {with([](auto& o) { o.size = "321x240"; }), ConversionKind::kAviToMpeg,
       "--size 321x240: The width and height must be even numbers."},
      {with([](auto& o) { o.size = "500x240"; }), ConversionKind::kAviToMpeg,
       "--size 500x240: " + bounds + "32 and 480"},
      // The same size is fine for an AVI output.
      {with([](auto& o) { o.size = "500x240"; }), ConversionKind::kMpegToAvi, ""},
      {with([](auto& o) { o.dataRate = 59; }), ConversionKind::kAviToMpeg,
       "--data-rate 59: " + bounds + "60 and 200"},
      {with([](auto& o) { o.audioBitrate = 449; }), ConversionKind::kWavToMp2,
       "--audio-bitrate 449: " + bounds + "32 and 448"},
      {with([](auto& o) { o.wavRate = 5000; }), ConversionKind::kMp2ToWav,
       "--wav-rate 5000: " + bounds + "6 and 48"},
      {with([](auto& o) { o.frameRate = "9.5"; }), ConversionKind::kMpegToAvi,
       "--frame-rate 9.5: " + bounds + "10 and 30"},
      // The MPEG runs at 25 frames per second.
      {with([](auto& o) { o.packEvery = 26; }), ConversionKind::kMpegToAvi,
       "--pack-every 26: " + bounds + "1 and 25"},
      {with([](auto& o) { o.quality = 0; }), ConversionKind::kMpegToAvi,
       "--quality 0: " + bounds + "1 and 100"},
      {with([](auto& o) { o.audioRate = 96000; }), ConversionKind::kMpegToAvi,
       "--audio-rate 96000: " + bounds + "5125 and 48000"},
  };
  for (const Case& c : cases) EXPECT_EQ(Refusal(c.options, c.kind), c.refusal);
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
  EXPECT_EQ(ApplyOptions(o, e)->text,
            "--data-rate 5000: Invalid parameters. The value must be between 10 and 1000");
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

TEST(ConvertOptions, MpegToAviPicturesAndSound) {
  ConvertOptions o;
  o.dataType = 8;
  o.palette = "6-7-6";
  o.commonPalette = true;
  o.limitDataRate = true;
  SourceEntry e = Entry(ConversionKind::kMpegToAvi);
  ASSERT_FALSE(ApplyOptions(o, e));
  EXPECT_EQ(e.mpegToAvi.dataType, 8);
  EXPECT_EQ(e.mpegToAvi.paletteChoice, 2);
  EXPECT_EQ(e.mpegToAvi.useCommonPalette, 1);
  EXPECT_EQ(e.mpegToAvi.limitDataRate, 1);
  EXPECT_EQ(e.mpegToAvi.targetDrive, 0);  // on the drive it has
  o.palette = "6-6-5";
  EXPECT_NE(Refusal(o, ConversionKind::kMpegToAvi), "");

  // The sound of the AVI (by default the MPEG's 44.1 kHz stereo, as 8-bit PCM since its
  // information gives no sample size) in every field its format has.
  struct Sound {
    std::optional<std::string> format;
    std::optional<int> rate, channels, bits;
    WaveFormat expected;
  };
  const Sound sounds[] = {
      {std::nullopt, 22050, std::nullopt, std::nullopt, MakePcmFormat(2, 22050, 8)},
      {"pcm", std::nullopt, 1, 16, MakePcmFormat(1, 44100, 16)},
      {"adpcm", 11025, 1, std::nullopt, {kWaveFormatMsAdpcm, 1, 11025, 5644, 256, 4, 32}},
  };
  for (const Sound& sound : sounds) {
    o = {};
    o.audioFormat = sound.format;
    o.audioRate = sound.rate;
    o.audioChannels = sound.channels;
    o.audioBits = sound.bits;
    e = Entry(ConversionKind::kMpegToAvi);
    ASSERT_FALSE(ApplyOptions(o, e));
    EXPECT_EQ(Fields(e.mpegToAvi.AudioFormat()), Fields(sound.expected));
  }
}

// Without --threads the processors are shared among the conversions that run at once.
TEST(ConvertOptions, ThreadsPerConversion) {
  struct Case {
    int jobs;
    std::optional<int> threads;
    int files, processors, expected;
  };
  for (const Case& c : {Case{1, std::nullopt, 1, 2, 2}, Case{1, std::nullopt, 5, 8, 8},
                        Case{2, std::nullopt, 5, 2, 1}, Case{3, std::nullopt, 5, 8, 2},
                        Case{4, std::nullopt, 1, 2, 2}, Case{8, std::nullopt, 9, 2, 1},
                        Case{1, std::nullopt, 1, 0, 1}, Case{2, 2, 5, 2, 2}, Case{1, 6, 1, 2, 6}}) {
    ConvertOptions o;
    o.jobs = c.jobs;
    o.threads = c.threads;
    EXPECT_EQ(ThreadsPerConversion(o, c.files, c.processors), c.expected)
        << "-j " << c.jobs << ", " << c.files << " files, " << c.processors << " processors";
  }
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
