// Our decoder on our encoder's streams: the pictures equal ffmpeg's decode of the same stream, and
// flat colours survive the round trip through both colour conversions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "core/bitmap.h"
#include "decoder_test_util.h"
#include "video_encoder/video_encoder.h"

namespace calvex::video_decoder::testing {
namespace {

// Left to right: white, black and pure red bands, each 48 pixels wide, over a slowly moving
// grey ramp below them, so that P and B pictures have something to predict.
class BandsSource : public video::PictureSource {
 public:
  BandsSource(int width, int height) : width_(width), height_(height) {}
  Status FetchPicture(int n, std::uint8_t* bitmap) override {
    const int stride = BitmapStride(width_, 24);
    for (int row = 0; row < height_; ++row) {
      const int y = height_ - 1 - row;  // bottom-up
      std::uint8_t* p = bitmap + static_cast<std::size_t>(row) * stride;
      for (int x = 0; x < width_; ++x, p += 3) {
        int b, g, r;
        if (y < kBandHeight) {
          const int band = x / kBandWidth;
          b = g = r = band == 0 ? 255 : 0;
          if (band == 2) r = 255;
          if (band > 2) b = g = r = 128;
        } else {
          b = g = r = (x * 2 + y + n * 3) & 255;
        }
        p[0] = static_cast<std::uint8_t>(b);
        p[1] = static_cast<std::uint8_t>(g);
        p[2] = static_cast<std::uint8_t>(r);
      }
    }
    return kOk;
  }
  static constexpr int kBandWidth = 48;
  static constexpr int kBandHeight = 64;

 private:
  int width_, height_;
};

std::vector<std::uint8_t> EncodeBands(
    const std::string& path, int width, int height, int pictures,
    video::EncoderPreset preset = video::EncoderPreset::kStandard) {
  video::VideoEncoderParams params;
  params.width = width;
  params.height = height;
  params.pictureRateCode = 3;
  params.rateNum = 25;
  params.rateDen = 1;
  params.milliFps = 25000;
  params.bitRate = 1500000;
  params.pictureCount = pictures;
  params.preset = preset;
  BandsSource source(width, height);
  video::EncoderEvents events;
  EXPECT_EQ(video::EncodeVideoFile(params, source, events, path, nullptr), kOk);
  return calvex::testing::ReadFileBytes(path);
}

TEST(OwnEncoderStreams, DecodeEqualsFfmpeg) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  calvex::testing::TempDir dir;
  const std::string path = dir.File("own.mpg");
  ASSERT_FALSE(EncodeBands(path, 176, 144, 27).empty());
  const double lowest = ExpectMatchesFfmpeg(path, 50.0);
  RecordProperty("lowest_psnr_db", std::to_string(lowest));
  // The high-quality preset's streams too, and a Video CD's picture size and rate.
  ASSERT_FALSE(EncodeBands(path, 176, 144, 27, video::EncoderPreset::kHigh).empty());
  ExpectMatchesFfmpeg(path, 50.0);
  ASSERT_FALSE(EncodeBands(path, 352, 288, 14, video::EncoderPreset::kHigh).empty());
  ExpectMatchesFfmpeg(path, 50.0);
}

TEST(OwnEncoderStreams, FlatColoursComeBackWithinTwo) {
  calvex::testing::TempDir dir;
  const int width = 176, height = 144;
  const auto stream = EncodeBands(dir.File("bands.mpg"), width, height, 4);
  DecodeOptions options;
  options.keepBitmaps = true;
  const DecodeResult result = DecodeStream(stream, options);
  ASSERT_TRUE(IsSuccess(result.status));
  ASSERT_EQ(result.pictures.size(), 4u);

  struct Expected {
    int band;
    int b, g, r;
  };
  const Expected bands[] = {{0, 255, 255, 255}, {1, 0, 0, 0}, {2, 0, 0, 255}};
  const int stride = BitmapStride(width, 24);
  for (const Picture& picture : result.pictures) {
    ASSERT_EQ(picture.bitmap.size(), static_cast<std::size_t>(stride) * height);
    for (const Expected& e : bands) {
      // The middle of each band, away from the edges that the chroma filters blur.
      for (int y = 16; y < BandsSource::kBandHeight - 16; ++y) {
        for (int x = e.band * BandsSource::kBandWidth + 16;
             x < (e.band + 1) * BandsSource::kBandWidth - 16; ++x) {
          const std::uint8_t* p =
              picture.bitmap.data() + static_cast<std::size_t>(height - 1 - y) * stride + x * 3;
          ASSERT_LE(std::abs(p[0] - e.b), 2) << "band " << e.band << " at " << x << "," << y;
          ASSERT_LE(std::abs(p[1] - e.g), 2) << "band " << e.band << " at " << x << "," << y;
          ASSERT_LE(std::abs(p[2] - e.r), 2) << "band " << e.band << " at " << x << "," << y;
        }
      }
    }
  }
}

}  // namespace
}  // namespace calvex::video_decoder::testing
