// Prediction and colour conversion kernels: every SIMD version gives the reference's bits, at the
// edges of rows and pictures too; the colour equations hit their BT.601 anchors.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "video_decoder/colour_conversion.h"
#include "video_decoder/dsp.h"

namespace calvex::video_decoder {
namespace {

std::vector<const DecoderDsp*> FastVersions() {
  std::vector<const DecoderDsp*> v = {&Sse2Dsp()};
  if (CpuHasAvx2()) v.push_back(&Avx2Dsp());
  return v;
}

TEST(Prediction, SimdVersionsEqualReference) {
  std::mt19937 random(11);
  constexpr int kStride = 40;
  std::vector<std::uint8_t> ref(kStride * 20);
  for (const DecoderDsp* dsp : FastVersions()) {
    for (int trial = 0; trial < 2000; ++trial) {
      for (auto& s : ref) s = static_cast<std::uint8_t>(random());
      // Extremes make the rounding terms matter.
      if (trial % 4 == 0) {
        for (auto& s : ref) s = (random() & 1) ? 255 : 0;
      }
      for (int average = 0; average < 2; ++average) {
        for (int size = 0; size < 2; ++size) {
          for (int mode = 0; mode < 4; ++mode) {
            const int n = size == 0 ? 16 : 8;
            std::vector<std::uint8_t> expected(kStride * 18), got;
            for (auto& s : expected) s = static_cast<std::uint8_t>(random());
            got = expected;
            ReferenceDsp().predict[average][size][mode](expected.data() + kStride + 1, kStride,
                                                        ref.data() + 3, kStride, n);
            dsp->predict[average][size][mode](got.data() + kStride + 1, kStride, ref.data() + 3,
                                              kStride, n);
            ASSERT_EQ(got, expected)
                << dsp->name << " average " << average << " size " << n << " mode " << mode;
          }
        }
      }
    }
  }
}

// Half-sample rules: (a + b + 1) >> 1 and (a + b + c + d + 2) >> 2, averaging as (d + p + 1) >> 1.
TEST(Prediction, RoundsAsTheStandardSays) {
  std::uint8_t ref[2 * 32] = {};
  ref[0] = 1;
  ref[1] = 2;
  ref[32] = 2;
  ref[33] = 2;
  std::uint8_t dst[16 * 32] = {};
  ReferenceDsp().predict[0][1][1](dst, 32, ref, 32, 1);
  EXPECT_EQ(dst[0], 2);  // (1 + 2 + 1) >> 1
  ReferenceDsp().predict[0][1][2](dst, 32, ref, 32, 1);
  EXPECT_EQ(dst[0], 2);  // (1 + 2 + 1) >> 1
  ReferenceDsp().predict[0][1][3](dst, 32, ref, 32, 1);
  EXPECT_EQ(dst[0], 2);  // (1 + 2 + 2 + 2 + 2) >> 2
  ref[0] = 0;
  ref[1] = 1;
  ref[32] = 1;
  ref[33] = 0;
  ReferenceDsp().predict[0][1][3](dst, 32, ref, 32, 1);
  EXPECT_EQ(dst[0], 1);  // (0 + 1 + 1 + 0 + 2) >> 2, not the diagonal pair
  dst[0] = 4;
  ref[0] = 1;
  ReferenceDsp().predict[1][1][0](dst, 32, ref, 32, 1);
  EXPECT_EQ(dst[0], 3);  // (4 + 1 + 1) >> 1
}

TEST(ColourConversion, SimdVersionsEqualReferenceAtEveryWidth) {
  std::mt19937 random(5);
  for (const DecoderDsp* dsp : FastVersions()) {
    for (int width = 1; width <= 70; ++width) {
      std::vector<std::uint8_t> y0(width + 16), y1(width + 16), cb(width / 2 + 16),
          cr(width / 2 + 16);
      for (auto* plane : {&y0, &y1, &cb, &cr}) {
        for (auto& s : *plane) s = static_cast<std::uint8_t>(random());
      }
      // Guard bytes around each row catch writes outside the 3 x width bytes.
      std::vector<std::uint8_t> expected0(3 * width + 8, 0xA5), expected1 = expected0;
      std::vector<std::uint8_t> got0 = expected0, got1 = expected0;
      ConvertRowPairReference(y0.data(), y1.data(), cb.data(), cr.data(), width,
                              expected0.data() + 4, expected1.data() + 4);
      dsp->convertRowPair(y0.data(), y1.data(), cb.data(), cr.data(), width, got0.data() + 4,
                          got1.data() + 4);
      ASSERT_EQ(got0, expected0) << dsp->name << " width " << width;
      ASSERT_EQ(got1, expected1) << dsp->name << " width " << width;
      dsp->convertRowPair(y0.data(), nullptr, cb.data(), cr.data(), width, got0.data() + 4,
                          nullptr);
      ASSERT_EQ(got0, expected0) << dsp->name << " single row, width " << width;
    }
    // Every luma and chroma value.
    std::vector<std::uint8_t> y(256), c(128), c2(128);
    for (int i = 0; i < 256; ++i) y[i] = static_cast<std::uint8_t>(i);
    for (int shift = 0; shift < 256; shift += 7) {
      for (int i = 0; i < 128; ++i) {
        c[i] = static_cast<std::uint8_t>(2 * i + shift);
        c2[i] = static_cast<std::uint8_t>(255 - 2 * i + shift);
      }
      std::vector<std::uint8_t> expected(768), got(768);
      ConvertRowPairReference(y.data(), nullptr, c.data(), c2.data(), 256, expected.data(),
                              nullptr);
      dsp->convertRowPair(y.data(), nullptr, c.data(), c2.data(), 256, got.data(), nullptr);
      ASSERT_EQ(got, expected) << dsp->name;
    }
  }
}

TEST(ColourConversion, LimitedRangeAnchors) {
  std::uint8_t bgr[3];
  ConvertPixel(16, 128, 128, bgr);
  EXPECT_EQ(bgr[0], 0);
  EXPECT_EQ(bgr[1], 0);
  EXPECT_EQ(bgr[2], 0);
  ConvertPixel(235, 128, 128, bgr);
  EXPECT_EQ(bgr[0], 255);
  EXPECT_EQ(bgr[1], 255);
  EXPECT_EQ(bgr[2], 255);
  // BT.601 red: Y 81, Cb 90, Cr 240.
  ConvertPixel(81, 90, 240, bgr);
  EXPECT_NEAR(bgr[2], 255, 2);
  EXPECT_NEAR(bgr[1], 0, 2);
  EXPECT_NEAR(bgr[0], 0, 2);
}

// Bottom-up rows, odd sizes converted to the last pixel and nothing written past the rows.
TEST(ColourConversion, PictureIsBottomUpWithOddSizes) {
  constexpr int kWidth = 5, kHeight = 3, kStride = 16;  // bitmap stride 16 >= 15
  std::vector<std::uint8_t> y(16 * 4), cb(8 * 2), cr(8 * 2);
  for (int r = 0; r < 4; ++r) {
    for (int x = 0; x < 16; ++x) y[r * 16 + x] = static_cast<std::uint8_t>(16 + r * 50 + x);
  }
  for (auto& s : cb) s = 128;
  for (auto& s : cr) s = 128;
  cb[2] = 200;  // chroma of the odd last column in the first row pair
  std::vector<std::uint8_t> bitmap(kStride * kHeight, 0xEE);
  const ColourPlanes planes{y.data(), cb.data(), cr.data(), 16, 8};
  ConvertPictureToRgb(Sse2Dsp(), planes, kWidth, kHeight, bitmap.data(), kStride);
  for (int r = 0; r < kHeight; ++r) {
    const std::uint8_t* row = bitmap.data() + (kHeight - 1 - r) * kStride;
    for (int x = 0; x < kWidth; ++x) {
      std::uint8_t expected[3];
      ConvertPixel(y[r * 16 + x], cb[(r / 2) * 8 + x / 2], cr[(r / 2) * 8 + x / 2], expected);
      EXPECT_EQ(0, std::memcmp(row + 3 * x, expected, 3)) << r << "," << x;
    }
    EXPECT_EQ(row[15], 0xEE);
  }
}

}  // namespace
}  // namespace calvex::video_decoder
