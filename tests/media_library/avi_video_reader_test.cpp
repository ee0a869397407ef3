// Pictures of AVI files through the media layer, against ffmpeg's own decoding.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "core/bitmap.h"
#include "media_library/media_fixtures.h"
#include "media_library/media_library.h"

namespace calvex::media {
namespace {

using testing::Ffmpeg;
using testing::FfmpegFrames;
using testing::ShellQuote;

using Frames = std::vector<std::vector<std::uint8_t>>;

// Reads frames `order` of `path` at width x height.
Frames ReadFrames(const std::string& path, int width, int height, const std::vector<int>& order) {
  AviReader reader;
  BitmapInfoHeader request;
  request.width = width;
  request.height = height;
  AviOpenInfo info;
  EXPECT_EQ(reader.RAVIOpen(path, request, info), kOk) << path;
  Frames frames;
  for (const int n : order) {
    std::vector<std::uint8_t> dib(request.sizeImage, 0xCD);
    EXPECT_EQ(reader.RAVIGetFrame(n, dib.data()), kOk) << path << " frame " << n;
    frames.push_back(std::move(dib));
  }
  return frames;
}

std::vector<int> Sequence(int count) {
  std::vector<int> order(static_cast<std::size_t>(count));
  std::iota(order.begin(), order.end(), 0);
  return order;
}

struct CodecCase {
  const char* name;
  const char* encode;  // ffmpeg output options
  int width;
  int height;
  double minPsnr;  // against ffmpeg's decoding; 1000 = identical
};

class CodecReadTest : public ::testing::TestWithParam<CodecCase> {};

// Each codec ffmpeg can write, at its own size and scaled, matches ffmpeg's decoding; frames read
// in a scrambled order match the ones read in sequence.
TEST_P(CodecReadTest, MatchesFfmpegInOrderAndOutOfOrder) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const CodecCase& c = GetParam();
  testing::TempDir dir;
  const std::string avi = dir.File(std::string(c.name) + ".avi");
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc=size=" + std::to_string(c.width) + "x" +
                     std::to_string(c.height) + ":rate=25:duration=1.2 " + c.encode + " " +
                     ShellQuote(avi)));
  constexpr int kFrames = 30;
  for (const auto& [w, h] : {std::pair{c.width, c.height}, std::pair{176, 120}}) {
    const Frames expected = FfmpegFrames(avi, w, h);
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(kFrames));
    const Frames got = ReadFrames(avi, w, h, Sequence(kFrames));
    for (int i = 0; i < kFrames; ++i)
      EXPECT_GE(testing::Psnr(got[i], expected[i]), c.minPsnr)
          << c.name << " " << w << "x" << h << " frame " << i;
  }
  std::vector<int> order = Sequence(kFrames);
  std::mt19937 random(7);
  std::shuffle(order.begin(), order.end(), random);
  order.insert(order.end(), {29, 0, 28, 1, 15, 15, 14});
  const Frames inOrder = ReadFrames(avi, c.width, c.height, Sequence(kFrames));
  const Frames scrambled = ReadFrames(avi, c.width, c.height, order);
  for (std::size_t i = 0; i < order.size(); ++i)
    EXPECT_EQ(scrambled[i], inOrder[static_cast<std::size_t>(order[i])])
        << c.name << " frame " << order[i] << " read out of order";
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, CodecReadTest,
    ::testing::Values(CodecCase{"dib24", "-c:v rawvideo -pix_fmt bgr24", 321, 241, 1000},
                      CodecCase{"dib32", "-c:v rawvideo -pix_fmt bgra", 321, 241, 1000},
                      CodecCase{"dib16", "-c:v rawvideo -pix_fmt rgb555le", 321, 241, 1000},
                      CodecCase{"dib8", "-c:v rawvideo -pix_fmt pal8", 321, 241, 1000},
                      CodecCase{"huffyuv", "-c:v huffyuv -pix_fmt rgb24", 321, 241, 1000},
                      CodecCase{"ffv1", "-c:v ffv1", 321, 241, 1000},
                      CodecCase{"mjpeg", "-c:v mjpeg -q:v 3", 321, 241, 1000},
                      CodecCase{"huffyuv_yuv", "-c:v huffyuv -pix_fmt yuv422p", 320, 240, 1000},
                      CodecCase{"cinepak", "-c:v cinepak", 128, 96, 1000},
                      CodecCase{"dv", "-c:v dvvideo -pix_fmt yuv420p -s 720x576", 720, 576, 1000},
                      CodecCase{"msvideo1", "-c:v msvideo1", 320, 240, 1000},
                      CodecCase{"mpeg4", "-c:v mpeg4 -q:v 4 -g 12", 321, 241, 1000},
                      CodecCase{"mpeg4_bframes", "-c:v mpeg4 -q:v 4 -g 10 -bf 2", 320, 240, 1000},
                      CodecCase{"h264_bframes", "-c:v libx264 -preset ultrafast -bf 3 -g 9 -crf 20",
                                320, 240, 1000}),
    [](const auto& info) { return std::string(info.param.name); });

// A writer that repeats a frame stores an empty chunk for it; the frame shows the picture before
// it, and the frames after it keep their numbers.
TEST(AviVideoReader, EmptyChunksRepeatThePreviousPicture) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  const std::string avi = dir.File("drop.avi");
  ASSERT_TRUE(
      Ffmpeg("-f lavfi -i testsrc=size=96x64:rate=25:duration=1 -vf "
             "\"select='not(between(n,5,7))*not(between(n,15,16))'\" -fps_mode "
             "passthrough -c:v mjpeg " +
             ShellQuote(avi)));
  const Frames real = FfmpegFrames(avi, 96, 64);  // the 20 stored pictures
  ASSERT_EQ(real.size(), 20u);
  AviReader reader;
  BitmapInfoHeader request = MakeBitmapHeader24(96, 64);
  AviOpenInfo info;
  ASSERT_EQ(reader.RAVIOpen(avi, request, info), kOk);
  EXPECT_EQ(info.frameCount, 25);
  const std::vector<int> stored = {0,  1,  2,  3,  4,  4,  4,  4,  5,  6,  7,  8, 9,
                                   10, 11, 11, 11, 12, 13, 14, 15, 16, 17, 18, 19};
  // In order, then backwards (from the pictures kept, then by seeks), then a jump into the
  // empty run, then in an encoder's order (references before the pictures shown ahead of them).
  std::vector<int> order = Sequence(25);
  for (int n = 24; n >= 0; --n) order.push_back(n);
  order.insert(order.end(), {6, 16, 5, 0, 3, 1, 2, 6, 4, 5, 12, 7, 8, 9, 10, 11, 24, 13, 14});
  std::vector<std::uint8_t> dib(request.sizeImage);
  for (const int n : order) {
    ASSERT_EQ(reader.RAVIGetFrame(n, dib.data()), kOk);
    EXPECT_EQ(dib, real[static_cast<std::size_t>(stored[static_cast<std::size_t>(n)])])
        << "frame " << n;
  }
  EXPECT_EQ(reader.RAVIGetFrame(25, dib.data()), kAviDecodeFailed);
  EXPECT_EQ(reader.RAVIGetFrame(-1, dib.data()), kAviDecodeFailed);
}

// The open request comes back describing the frames: 24 bits, bottom-up, padded rows.
TEST(AviVideoReader, OpenCompletesTheRequestAndReportsTheFile) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  const std::string avi = dir.File("a.avi");
  ASSERT_TRUE(
      Ffmpeg("-f lavfi -i testsrc=size=321x241:rate=30000/1001:duration=0.5 -f lavfi "
             "-i sine=r=22050:d=0.5 -c:v ffv1 -c:a pcm_u8 -ac 2 " +
             ShellQuote(avi)));
  AviReader reader;
  BitmapInfoHeader request;
  request.size = 3;
  request.width = 161;
  request.height = 99;
  AviOpenInfo info;
  ASSERT_EQ(reader.RAVIOpen(avi, request, info), kOk);
  EXPECT_EQ(request.size, 40u);
  EXPECT_EQ(request.bitCount, 24);
  EXPECT_EQ(request.width, 161);
  EXPECT_EQ(request.height, 99);
  EXPECT_EQ(request.sizeImage, 484u * 99u);
  EXPECT_EQ(info.frameRatePacked, 30000u << 16 | 1001u);
  EXPECT_EQ(info.frameCount, 15);
  EXPECT_EQ(info.width, 321);
  EXPECT_EQ(info.height, 241);
  EXPECT_EQ(info.audioFormatTag, 1);
  EXPECT_EQ(info.audioSampleRate, 22050);
  EXPECT_EQ(info.audioChannels, 2);
  EXPECT_EQ(info.audioBitsPerSample, 8);

  // The padding bytes at the end of each row are zero.
  std::vector<std::uint8_t> dib(request.sizeImage, 0xCD);
  ASSERT_EQ(reader.RAVIGetFrame(3, dib.data()), kOk);
  for (int y = 0; y < 99; ++y) EXPECT_EQ(dib[static_cast<std::size_t>(y) * 484 + 483], 0);
  reader.RAVIClose();
  EXPECT_NE(reader.RAVIGetFrame(3, dib.data()), kOk);
}

// Without a requested size the frames come at the AVI's own size.
TEST(AviVideoReader, ZeroRequestMeansTheFileSize) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  const std::string avi = dir.File("a.avi");
  ASSERT_TRUE(
      Ffmpeg("-f lavfi -i testsrc=size=64x48:rate=15:duration=0.2 -c:v ffv1 " + ShellQuote(avi)));
  AviReader reader;
  BitmapInfoHeader request;
  request.width = 0;
  request.height = 0;
  AviOpenInfo info;
  ASSERT_EQ(reader.RAVIOpen(avi, request, info), kOk);
  EXPECT_EQ(request.width, 64);
  EXPECT_EQ(request.height, 48);
  EXPECT_EQ(info.frameRatePacked, 15u << 16 | 1u);
  EXPECT_EQ(info.frameCount, 3);
}

}  // namespace
}  // namespace calvex::media
