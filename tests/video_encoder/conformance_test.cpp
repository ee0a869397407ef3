// Our streams decoded by independent decoders (ffmpeg, mpeg2dec): clean decodes, the right
// number of pictures, pictures matching our own reconstruction, and the bit rate held.
#include <gtest/gtest.h>

#include "core/settings.h"
#include "support/test_support.h"
#include "video_encoder/encoder_test_support.h"

namespace calvex::video::testing {
namespace {

using calvex::testing::RunCommand;
using calvex::testing::ShellQuote;
using calvex::testing::TempDir;

struct Case {
  int width, height, frames, rateIndex;
  const char* lavfi;
  EncoderPreset preset = EncoderPreset::kStandard;
};

// Encodes `frames` frames of a lavfi source and checks both decoders against our
// reconstruction.
void CheckConformance(const Case& c) {
  const auto raw = GenerateRawVideo(c.lavfi, c.width, c.height, c.frames);
  ASSERT_FALSE(raw.empty());
  RawVideoSource source(c.width, c.height, raw);
  RecordingEvents events;
  events.keepPictures = true;
  TempDir dir;
  const std::string path = dir.File("out.m1v");
  VideoEncoderParams p = MakeParams(c.width, c.height, c.frames, c.rateIndex);
  p.threads = 2;
  p.preset = c.preset;
  std::vector<std::uint32_t> index;
  ASSERT_EQ(EncodeVideoFile(p, source, events, path, &index), kOk);

  std::string log;
  const auto decoded = DecodeWithFfmpeg(path, c.width, c.height, &log);
  EXPECT_EQ(log, "") << "ffmpeg complained";
  ASSERT_EQ(static_cast<int>(decoded.size()), c.frames);
  for (int f = 0; f < c.frames; ++f) {
    const double psnr = Psnr(events.pictures.at(f), decoded[static_cast<std::size_t>(f)]);
    EXPECT_GE(psnr, 45.0) << "picture " << f;
  }

  // The picture rate of the header.
  const auto probe = RunCommand(
      "ffprobe -v error -select_streams v -show_entries stream=r_frame_rate -of csv=p=0 " +
      ShellQuote(path));
  const FrameRateRow& row = FrameRateTable[static_cast<std::size_t>(c.rateIndex)];
  EXPECT_EQ(probe.output,
            std::to_string(row.targetRateNum) + "/" + std::to_string(row.targetRateDen) + "\n");

  const auto m2 = RunCommand("mpeg2dec -v -o null " + ShellQuote(path));
  EXPECT_EQ(m2.exitCode, 0) << m2.output;
  EXPECT_EQ(m2.output.find("rror"), std::string::npos) << m2.output;
  EXPECT_EQ(m2.output.find("arning"), std::string::npos) << m2.output;
  int pictures = 0;
  for (std::size_t at = m2.output.find("PICTURE"); at != std::string::npos;
       at = m2.output.find("PICTURE", at + 1))
    ++pictures;
  EXPECT_EQ(pictures, c.frames);
}

class ConformanceAt : public ::testing::TestWithParam<Case> {};

TEST_P(ConformanceAt, DecodersAgreeWithOurReconstruction) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  CALVEX_REQUIRE_TOOL("mpeg2dec");
  CALVEX_REQUIRE_TOOL("ffprobe");
  CheckConformance(GetParam());
}

// Each size once, each frame-rate choice once; moving test patterns with noise, a zoom and a
// pan, and a picture that is not a whole number of macroblocks.
INSTANTIATE_TEST_SUITE_P(
    SizesAndRates, ConformanceAt,
    ::testing::Values(Case{160, 120, 27, 0, "testsrc2=size=160x120:rate=30,noise=alls=12:allf=t"},
                      Case{320, 240, 16, 1, "mandelbrot=size=320x240:rate=30"},
                      Case{352, 240, 14, 2, "testsrc2=size=352x240:rate=25,noise=alls=20:allf=t"},
                      Case{352, 288, 13, 3, "smptehdbars=size=704x288:rate=24,scroll=h=0.01"},
                      Case{328, 248, 15, 4, "testsrc=size=328x248:rate=24,noise=alls=8:allf=t"},
                      // The high-quality preset: a fast pan (long vectors) and noise.
                      Case{352, 288, 26, 2, "testsrc2=size=352x288:rate=25,scroll=h=0.03:v=0.01",
                           EncoderPreset::kHigh},
                      Case{176, 120, 14, 1, "testsrc2=size=176x120:rate=30,noise=alls=20:allf=t",
                           EncoderPreset::kHigh}),
    [](const ::testing::TestParamInfo<Case>& info) {
      return std::to_string(info.param.width) + "x" + std::to_string(info.param.height) + "_rate" +
             std::to_string(info.param.rateIndex) +
             (info.param.preset == EncoderPreset::kHigh ? "_high" : "");
    });

// Ten seconds at 160 x 120: the coded rate stays within 5 % of the requested one.
TEST(Conformance, HoldsTheBitRateOverTenSeconds) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const int frames = 300;
  const auto raw =
      GenerateRawVideo("testsrc2=size=160x120:rate=30,noise=alls=10:allf=t", 160, 120, frames);
  ASSERT_FALSE(raw.empty());
  for (std::uint32_t bitRate : {70 * 8192u, 134 * 8192u}) {
    RawVideoSource source(160, 120, raw);
    EncoderEvents events;
    MemorySink sink;
    VideoEncoderParams p = MakeParams(160, 120, frames, 0, bitRate);
    p.threads = 2;
    ASSERT_EQ(EncodeVideo(p, source, events, sink, nullptr), kOk);
    const double coded = sink.bytes.size() * 8.0 / 10.0;
    EXPECT_NEAR(coded / bitRate, 1.0, 0.05) << coded << " bit/s for " << bitRate;
  }
}

}  // namespace
}  // namespace calvex::video::testing
