// System streams made of real MPEG-1 video and audio (made here by ffmpeg) must be read by
// ffprobe and decoded by ffmpeg without a single warning.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "mux/multiplexer.h"
#include "mux/mux_test_streams.h"
#include "mux/system_stream_parser.h"
#include "support/test_support.h"

namespace calvex::mux {
namespace {

using calvex::testing::ReadFileBytes;
using calvex::testing::RunCommand;
using calvex::testing::ShellQuote;
using calvex::testing::TempDir;

struct PeerCase {
  const char* name;
  int rateNum, rateDen;
  const char* ffmpegRate;
  int layer, kbps, sampleRate;
  double seconds;
};

std::string Probe(const std::string& path, const std::string& entries) {
  return RunCommand("ffprobe -v error -count_frames -of default=nw=1 " + entries + " " +
                    ShellQuote(path))
      .output;
}

double Field(const std::string& text, const std::string& key, int occurrence = 0) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key + "=", 0) == 0 && occurrence-- == 0)
      return std::atof(line.c_str() + key.size() + 1);
  return -1;
}

class PeerTest : public ::testing::TestWithParam<PeerCase> {};

TEST_P(PeerTest, FfprobeAndFfmpegReadOurStreamCleanly) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  CALVEX_REQUIRE_TOOL("ffprobe");
  const PeerCase c = GetParam();
  TempDir dir;
  const std::string video = dir.File("v.m1v"), audio = dir.File("a.mp2"), out = dir.File("out.mpg");
  const std::string duration = std::to_string(c.seconds);
  ASSERT_EQ(RunCommand("ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=" +
                       std::string(c.ffmpegRate) + ":duration=" + duration +
                       " -c:v mpeg1video -b:v 500k -bf 2 -g 12 -f mpeg1video " + ShellQuote(video))
                .exitCode,
            0);
  ASSERT_EQ(
      RunCommand("ffmpeg -v error -f lavfi -i sine=frequency=440:sample_rate=" +
                 std::to_string(c.sampleRate) + ":duration=" + duration + " -ac 2 -c:a mp2 -b:a " +
                 std::to_string(c.kbps) + "k -f mp2 " + ShellQuote(audio))
          .exitCode,
      0);
  const auto index = testing::PictureIndexOf(ReadFileBytes(video));
  ASSERT_FALSE(index.empty());
  const int pictures = static_cast<int>(index.size()) - 1;

  StandaloneContext context;
  Multiplexer mux;
  const MuxParams params{c.rateNum, c.rateDen, pictures, c.layer, c.kbps, c.sampleRate};
  ASSERT_EQ(mux.MultiplexSystemStream(out, video, audio, index, params, context.get()), kOk);

  // No warning at all while probing and decoding.
  const auto warnings =
      RunCommand("ffprobe -v warning -show_streams " + ShellQuote(out) + " 2>&1 >/dev/null");
  EXPECT_EQ(warnings.output, "");
  const auto decode = RunCommand("ffmpeg -v warning -i " + ShellQuote(out) + " -f null -");
  EXPECT_EQ(decode.exitCode, 0);
  EXPECT_EQ(decode.output, "");

  const std::string v =
      Probe(out, "-select_streams v -show_entries stream=codec_name,id,nb_read_frames,duration");
  EXPECT_NE(v.find("codec_name=mpeg1video"), std::string::npos) << v;
  EXPECT_NE(v.find("id=0x1e0"), std::string::npos) << v;
  EXPECT_EQ(Field(v, "nb_read_frames"), pictures);
  const double period = static_cast<double>(c.rateDen) / c.rateNum;
  EXPECT_NEAR(Field(v, "duration"), pictures * period, period + 1e-3) << v;

  const std::string a =
      Probe(out, "-select_streams a -show_entries stream=codec_name,id,nb_read_frames,duration");
  EXPECT_NE(a.find("codec_name=mp2"), std::string::npos) << a;
  EXPECT_NE(a.find("id=0x1c0"), std::string::npos) << a;
  const std::string source = Probe(audio, "-show_entries stream=nb_read_frames,duration");
  EXPECT_EQ(Field(a, "nb_read_frames"), Field(source, "nb_read_frames"));
  const double audioFrame = (c.layer == 1 ? 384.0 : 1152.0) / c.sampleRate;
  EXPECT_NEAR(Field(a, "duration"), Field(source, "duration"), audioFrame + 1e-3) << a << source;

  // Both streams start at the same instant.
  const std::string starts = Probe(out, "-show_entries stream=start_time");
  EXPECT_NEAR(Field(starts, "start_time", 0), Field(starts, "start_time", 1), 1e-4) << starts;

  const auto parsed = testing::ParseSystemStream(ReadFileBytes(out));
  ASSERT_EQ(parsed.error, "");
  const auto model = testing::CheckDecoderModel(parsed, period * 90000.0, audioFrame * 90000.0);
  EXPECT_TRUE(model.faults.empty()) << model.faults.front();
}

INSTANTIATE_TEST_SUITE_P(
    Rates, PeerTest,
    ::testing::Values(PeerCase{"pal_layer2", 25, 1, "25", 2, 128, 44100, 3.0},
                      PeerCase{"ntsc_layer2", 30000, 1001, "30000/1001", 2, 192, 48000, 2.0},
                      PeerCase{"film_32k", 24, 1, "24", 2, 256, 32000, 2.0}),
    [](const ::testing::TestParamInfo<PeerCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace calvex::mux
