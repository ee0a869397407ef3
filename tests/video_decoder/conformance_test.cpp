// Our decode of streams made by independent encoders (ffmpeg's mpeg1video, mpeg2enc) equals
// ffmpeg's decode of the same streams within the mismatch the inverse DCT allows: the same pictures
// in the same display order, each at 50 dB PSNR or better.
#include <gtest/gtest.h>

#include "video_decoder/decoder_test_util.h"

namespace calvex::video_decoder::testing {
namespace {

using calvex::testing::ShellQuote;
using calvex::testing::TempDir;

struct FfmpegCase {
  const char* name;
  const char* source;   // input options
  const char* options;  // codec options
};

// Moving test pictures; "scroll" moves the whole picture for long motion vectors.
constexpr const char* kQcif = "-f lavfi -i testsrc2=size=176x144:rate=25:duration=1";
constexpr const char* kOdd = "-f lavfi -i testsrc2=size=328x248:rate=25:duration=0.6";
constexpr const char* kScrolling =
    "-f lavfi -i testsrc2=size=176x144:rate=25:duration=1 -vf scroll=h=0.12:v=0.08";
constexpr const char* kNoise = "-f lavfi -i mandelbrot=size=176x144:rate=25 -t 0.6";

class FfmpegStreams : public ::testing::TestWithParam<FfmpegCase> {};

TEST_P(FfmpegStreams, DecodeEqualsFfmpeg) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto& c = GetParam();
  const std::string path = dir.File("stream.m1v");
  EncodeWithFfmpeg(path, c.source, c.options);
  ExpectMatchesFfmpeg(path);
}

INSTANTIATE_TEST_SUITE_P(
    Mpeg1Video, FfmpegStreams,
    ::testing::Values(
        FfmpegCase{"IntraOnly", kQcif, "-g 1 -qscale:v 4"},
        FfmpegCase{"IpNoB", kQcif, "-g 12 -bf 0 -qscale:v 5"},
        FfmpegCase{"IbbpGop12", kQcif, "-g 12 -bf 2 -qscale:v 5"},
        FfmpegCase{"ThreeBGop25", kQcif, "-g 25 -bf 3 -qscale:v 6"},
        FfmpegCase{"Qscale1", kQcif, "-g 6 -bf 2 -qscale:v 1"},
        FfmpegCase{"Qscale31", kQcif, "-g 12 -bf 2 -qscale:v 31"},
        FfmpegCase{"RateControlled", kNoise, "-g 9 -bf 2 -b:v 300k -maxrate 300k -bufsize 80k"},
        FfmpegCase{"CustomMatrices", kQcif,
                   "-g 6 -bf 2 -qscale:v 4 "
                   "-intra_matrix 8,12,14,16,18,20,22,24,12,14,16,18,20,22,24,26,14,16,18,20,22,"
                   "24,26,28,16,18,20,22,24,26,28,30,18,20,22,24,26,28,30,32,20,22,24,26,28,30,"
                   "32,34,22,24,26,28,30,32,34,36,24,26,28,30,32,34,36,38 "
                   "-inter_matrix 12,13,14,15,16,17,18,19,13,14,15,16,17,18,19,20,14,15,16,17,18,"
                   "19,20,21,15,16,17,18,19,20,21,22,16,17,18,19,20,21,22,23,17,18,19,20,21,22,"
                   "23,24,18,19,20,21,22,23,24,25,19,20,21,22,23,24,25,26"},
        FfmpegCase{"LongVectors", kScrolling,
                   "-g 12 -bf 2 -qscale:v 4 -me_range 128 -me_method full"},
        FfmpegCase{"OddSize", kOdd, "-g 6 -bf 2 -qscale:v 3"},
        FfmpegCase{"OddSizeNoB", kOdd, "-g 15 -bf 0 -qscale:v 8"},
        FfmpegCase{"ManySlices", kQcif, "-g 12 -bf 2 -qscale:v 5 -slices 9"}),
    [](const auto& info) { return std::string(info.param.name); });

// Every official picture rate: the header's code comes through and the pictures match.
TEST(PictureRates, EveryOfficialRateDecodes) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const char* rates[] = {"24000/1001", "24", "25", "30000/1001", "30", "50", "60000/1001", "60"};
  for (int code = 1; code <= 8; ++code) {
    const std::string path = dir.File("rate" + std::to_string(code) + ".m1v");
    EncodeWithFfmpeg(
        path,
        std::string("-f lavfi -i testsrc2=size=64x48:rate=") + rates[code - 1] + " -frames:v 7",
        "-g 6 -bf 2 -qscale:v 5");
    const auto ours = DecodeStream(calvex::testing::ReadFileBytes(path));
    EXPECT_EQ(ours.pictureRateCode, code);
    EXPECT_EQ(ours.pictures.size(), 7u);
    ExpectMatchesFfmpeg(path);
  }
}

TEST(Mpeg2enc, DecodeEqualsFfmpeg) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  CALVEX_REQUIRE_TOOL("mpeg2enc");
  TempDir dir;
  for (const char* options : {"-f 0", "-f 0 -g 1 -G 1", "-f 0 -R 0 -g 6 -G 9"}) {
    const std::string path = dir.File("mpeg2enc.m1v");
    const auto r = calvex::testing::RunCommand(
        "ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=176x144:rate=25:duration=0.8 "
        "-pix_fmt yuv420p -f yuv4mpegpipe - | mpeg2enc -v 0 " +
        std::string(options) + " -o " + ShellQuote(path));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    ExpectMatchesFfmpeg(path);
  }
}

}  // namespace
}  // namespace calvex::video_decoder::testing
