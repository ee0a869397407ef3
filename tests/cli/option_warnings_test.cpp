#include "cli/option_warnings.h"

#include <gtest/gtest.h>

#include <functional>

namespace calvex::cli {
namespace {

constexpr std::int32_t Code(const char (&name)[5]) {
  return name[0] | name[1] << 8 | name[2] << 16 | name[3] << 24;
}

// Microsoft Video 1 has neither a quality nor a key frame interval; every other codec both.
std::optional<VideoCodecTraits> Traits(std::int32_t handler) {
  if (handler == Code("MSVC")) return VideoCodecTraits{false, false};
  return VideoCodecTraits{};
}

// A file of `kind` with stereo sound (none when `sound` is false), the options applied.
std::vector<std::string> Warnings(ConversionKind kind,
                                  const std::function<void(ConvertOptions&)>& set,
                                  bool sound = true, int channels = 2) {
  SourceEntry e;
  e.kind = kind;
  e.aviInfo.audioFormatTag = sound ? kWaveFormatPcm : 0;
  e.aviInfo.audioChannels = static_cast<std::uint16_t>(channels);
  e.wavInfo.channels = static_cast<std::uint16_t>(channels);
  e.mpegInfo.frameRateNum = 25;
  e.mpegInfo.frameRateDen = 1;
  e.mpegInfo.width = 352;
  e.mpegInfo.height = 288;
  e.mpegInfo.audioSampleRate = sound ? 44100 : 0;
  e.mpegInfo.audioChannelMode = channels;
  e.mp2Info.sampleRate = 44100;
  ApplyDefaultParams(e);
  ConvertOptions o;
  set(o);
  EXPECT_FALSE(ApplyOptions(o, e));
  return InapplicableOptions(o, e, Traits);
}

using Texts = std::vector<std::string>;

TEST(OptionWarnings, OptionsOfOtherKindsAndOutputsAreNamed) {
  const auto mpg = ConversionKind::kMpegToAvi;
  struct Case {
    ConversionKind kind;
    std::function<void(ConvertOptions&)> set;
    Texts expected;
    bool sound = true;
    int channels = 2;
  };
  const Case cases[] = {
      {mpg,
       [](auto& o) {
         o.layer = 1;
         o.preset = "high";
       },
       {"--preset does not apply to MPEG to AVI conversions",
        "--layer does not apply to MPEG to AVI conversions"}},
      {ConversionKind::kWavToMp2,
       [](auto& o) {
         o.frameRate = "25";
         o.wavBits = 8;
       },
       {"--frame-rate does not apply to WAV to MP2 conversions",
        "--wav-bits does not apply to WAV to MP2 conversions"}},
      {mpg, [](auto& o) { o.quality = 50; }, {"--quality does not apply to uncompressed pictures"}},
      {mpg,
       [](auto& o) {
         o.videoCodec = "cvid";
         o.quality = 50;
         o.keyFrameEvery = 10;
       },
       {}},
      {mpg,
       [](auto& o) {
         o.videoCodec = "MSVC";
         o.quality = 50;
       },
       {"--quality does not apply to this video codec"}},
      {mpg, [](auto& o) { o.palette = "3-3-2"; }, {"--palette does not apply to 24-bit pictures"}},
      {mpg,
       [](auto& o) {
         o.dataType = 8;
         o.palette = "3-3-2";
         o.commonPalette = true;
       },
       {}},
      {mpg,
       [](auto& o) {
         o.videoCodec = "cvid";
         o.dataType = 8;
         o.commonPalette = true;
       },
       {"--data-type does not apply to compressed pictures",
        "--common-palette does not apply to compressed pictures"}},
      {mpg,
       [](auto& o) {
         o.audioFormat = "adpcm";
         o.audioBits = 8;
       },
       {"--audio-bits does not apply to ADPCM sound"}},
      {mpg,
       [](auto& o) {
         o.noInterleave = true;
         o.packEvery = 5;
       },
       {"--pack-every does not apply to sound that is not interleaved"}},
      {mpg,
       [](auto& o) {
         o.audioRate = 22050;
         o.size = "176x144";
       },
       {"--audio-rate does not apply to a file without sound"},
       false},
      {ConversionKind::kAviToMpeg,
       [](auto& o) {
         o.audioBitrate = 64;
         o.dataRate = 120;
       },
       {"--audio-bitrate does not apply to a file without sound"},
       false},
      {ConversionKind::kWavToMp2,
       [](auto& o) { o.jointStereo = true; },
       {"--joint-stereo does not apply to mono sound"},
       true,
       1},
      {ConversionKind::kMp2ToWav,
       [](auto& o) {
         o.wavFormat = "adpcm";
         o.wavBits = 8;
         o.wavRate = 22050;
       },
       {"--wav-bits does not apply to ADPCM sound"}},
  };
  for (const Case& c : cases) {
    const Texts warnings = Warnings(c.kind, c.set, c.sound, c.channels);
    EXPECT_EQ(warnings, c.expected) << (c.expected.empty() ? "" : c.expected[0]);
  }
}

}  // namespace
}  // namespace calvex::cli
