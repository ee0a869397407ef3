// The inverse DCT: IEEE Std 1180-1990 accuracy, the fast paths against the full transform, and
// every SIMD version against the plain one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "video_decoder/dsp.h"
#include "video_decoder/idct.h"

namespace calvex::video_decoder {
namespace {

// The random generator of IEEE Std 1180-1990, giving integers in [-low, high].
class Ieee1180Random {
 public:
  long Next(long low, long high) {
    state_ = state_ * 1103515245 + 12345;  // unsigned: wraps where the original's long overflowed
    const long i = static_cast<long>(state_ & 0x7FFFFFFE);
    const double x = static_cast<double>(i) / static_cast<double>(0x7FFFFFFF) * (low + high + 1);
    return static_cast<long>(x) - low;
  }

 private:
  unsigned long state_ = 1;
};

constexpr double kPi = 3.14159265358979323846;

double C(int k) {
  return k == 0 ? std::sqrt(0.5) : 1.0;
}

// c(k) cos((2n + 1) k pi / 16) / 2: the exact 1-D inverse transform is out[n] = sum over k of
// Basis(n, k) in[k], and the forward transform its transpose.
double Basis(int n, int k) {
  return C(k) * std::cos((2 * n + 1) * k * kPi / 16) / 2;
}

// The exact separable transforms in double precision.
void Transform(const double in[64], double out[64], bool inverse) {
  double table[8][8];
  for (int n = 0; n < 8; ++n) {
    for (int k = 0; k < 8; ++k) table[n][k] = inverse ? Basis(n, k) : Basis(k, n);
  }
  double rows[64];
  for (int r = 0; r < 8; ++r) {
    for (int n = 0; n < 8; ++n) {
      double sum = 0;
      for (int k = 0; k < 8; ++k) sum += table[n][k] * in[r * 8 + k];
      rows[r * 8 + n] = sum;
    }
  }
  for (int c = 0; c < 8; ++c) {
    for (int n = 0; n < 8; ++n) {
      double sum = 0;
      for (int k = 0; k < 8; ++k) sum += table[n][k] * rows[k * 8 + c];
      out[n * 8 + c] = sum;
    }
  }
}

void ForwardDct(const double in[64], double out[64]) {
  Transform(in, out, false);
}

void ExactInverseDct(const double in[64], double out[64]) {
  Transform(in, out, true);
}

struct Ieee1180Result {
  int peakError = 0;
  double worstPixelMse = 0, overallMse = 0, worstPixelMean = 0, overallMean = 0;
};

Ieee1180Result RunIeee1180(void (*idct)(std::int16_t*), long low, long high, int sign) {
  Ieee1180Random random;
  constexpr int kBlocks = 10000;
  double errorSum[64] = {}, squareSum[64] = {};
  Ieee1180Result r;
  for (int b = 0; b < kBlocks; ++b) {
    double samples[64], coefficients[64];
    for (double& s : samples) s = static_cast<double>(random.Next(low, high) * sign);
    ForwardDct(samples, coefficients);
    std::int16_t block[64];
    double rounded[64];
    for (int i = 0; i < 64; ++i) {
      rounded[i] = std::clamp(std::floor(coefficients[i] + 0.5), -2048.0, 2047.0);
      block[i] = static_cast<std::int16_t>(rounded[i]);
    }
    double reference[64];
    ExactInverseDct(rounded, reference);
    idct(block);
    for (int i = 0; i < 64; ++i) {
      const double ref = std::clamp(std::floor(reference[i] + 0.5), -256.0, 255.0);
      const double ours = std::clamp<double>(block[i], -256, 255);
      const double e = ours - ref;
      r.peakError = std::max(r.peakError, static_cast<int>(std::abs(e)));
      errorSum[i] += e;
      squareSum[i] += e * e;
    }
  }
  for (int i = 0; i < 64; ++i) {
    r.worstPixelMse = std::max(r.worstPixelMse, squareSum[i] / kBlocks);
    r.worstPixelMean = std::max(r.worstPixelMean, std::abs(errorSum[i]) / kBlocks);
    r.overallMse += squareSum[i] / kBlocks / 64;
    r.overallMean += errorSum[i] / kBlocks / 64;
  }
  r.overallMean = std::abs(r.overallMean);
  return r;
}

struct RangeCase {
  long low, high;
  int sign;
};

class Ieee1180 : public ::testing::TestWithParam<RangeCase> {};

TEST_P(Ieee1180, MeetsAccuracy) {
  const auto c = GetParam();
  const auto r = RunIeee1180(InverseDctReference, c.low, c.high, c.sign);
  EXPECT_LE(r.peakError, 1);
  EXPECT_LE(r.worstPixelMse, 0.06);
  EXPECT_LE(r.overallMse, 0.02);
  EXPECT_LE(r.worstPixelMean, 0.015);
  EXPECT_LE(r.overallMean, 0.0015);
  std::printf(
      "range -%ld..%ld sign %d: peak %d, pixel mse %.4f, mse %.5f, pixel mean %.4f, mean %.5f\n",
      c.low, c.high, c.sign, r.peakError, r.worstPixelMse, r.overallMse, r.worstPixelMean,
      r.overallMean);
}

INSTANTIATE_TEST_SUITE_P(Ranges, Ieee1180,
                         ::testing::Values(RangeCase{256, 255, 1}, RangeCase{5, 5, 1},
                                           RangeCase{300, 300, 1}, RangeCase{256, 255, -1},
                                           RangeCase{5, 5, -1}, RangeCase{300, 300, -1}));

TEST(InverseDct, ZeroInGivesZeroOut) {
  std::int16_t block[64] = {};
  InverseDctReference(block);
  for (auto v : block) EXPECT_EQ(v, 0);
}

// The single-coefficient path rounds the exact value; the DC alone gives (DC + 4) >> 3 (DC >= 0).
TEST(InverseDct, SingleCoefficientIsRoundedExactValue) {
  for (int position = 0; position < 64; ++position) {
    for (int value : {-2048, -1000, -17, -15, -12, -4, -3, 1, 3, 4, 12, 15, 17, 999, 2047}) {
      double in[64] = {}, out[64];
      in[position] = value;
      ExactInverseDct(in, out);
      for (int k = 0; k < 64; ++k) {
        const int sample = SingleCoefficientSample(position, value, k);
        // Within rounding, plus the 2^-17 steps of the basis table.
        EXPECT_LE(std::abs(sample - out[k]), 0.51)
            << "position " << position << " value " << value << " sample " << k;
      }
    }
  }
  EXPECT_EQ(SingleCoefficientSample(0, 12, 5), 2);
  EXPECT_EQ(SingleCoefficientSample(0, 11, 5), 1);
  EXPECT_EQ(SingleCoefficientSample(0, 1024, 0), 128);
  EXPECT_EQ(SingleCoefficientSample(0, -12, 0), -2);
}

// Random blocks of every density, including the extremes of the 16-bit range, give the same bits
// in every version.
TEST(InverseDct, SimdVersionsEqualReference) {
  std::mt19937 random(7);
  const DecoderDsp* versions[] = {&Sse2Dsp(), &SelectDsp(DspLevel::kAvx2)};
  for (int trial = 0; trial < 20000; ++trial) {
    std::int16_t block[64] = {};
    const int density = trial % 8;
    const int range = trial % 3 == 0 ? 32767 : (trial % 3 == 1 ? 2047 : 40);
    std::uniform_int_distribution<int> value(-range - (range == 32767 ? 1 : 0), range);
    for (int i = 0; i < 64; ++i) {
      if (density == 7 || static_cast<int>(random() % 8) < density)
        block[i] = static_cast<std::int16_t>(value(random));
    }
    std::int16_t expected[64];
    std::memcpy(expected, block, sizeof block);
    InverseDctReference(expected);
    for (const DecoderDsp* dsp : versions) {
      std::int16_t got[64];
      std::memcpy(got, block, sizeof block);
      dsp->idct(got);
      ASSERT_EQ(0, std::memcmp(got, expected, sizeof got)) << dsp->name << " trial " << trial;

      // The stores: put and add with clamping, block cleared afterwards.
      std::uint8_t expectedPixels[8 * 24], gotPixels[8 * 24];
      for (int i = 0; i < 8 * 24; ++i)
        expectedPixels[i] = gotPixels[i] = static_cast<std::uint8_t>(random());
      std::int16_t a[64], b[64];
      std::memcpy(a, block, sizeof block);
      std::memcpy(b, block, sizeof block);
      const bool add = trial & 1;
      (add ? ReferenceDsp().idctAdd : ReferenceDsp().idctPut)(a, expectedPixels + 3, 24);
      (add ? dsp->idctAdd : dsp->idctPut)(b, gotPixels + 3, 24);
      ASSERT_EQ(0, std::memcmp(gotPixels, expectedPixels, sizeof gotPixels)) << dsp->name;
      for (int i = 0; i < 64; ++i) ASSERT_EQ(b[i], 0);
    }
  }
}

TEST(InverseDct, SingleCoefficientSimdEqualsReference) {
  std::mt19937 random(3);
  for (const DecoderDsp* dsp : {&Sse2Dsp(), &SelectDsp(DspLevel::kAvx2)}) {
    for (int position = 0; position < 64; ++position) {
      for (int value : {-2048, -300, -1, 1, 7, 255, 2047}) {
        for (int add = 0; add < 2; ++add) {
          std::uint8_t expected[8 * 16], got[8 * 16];
          for (int i = 0; i < 8 * 16; ++i)
            expected[i] = got[i] = static_cast<std::uint8_t>(random());
          (add ? ReferenceDsp().singleAdd : ReferenceDsp().singlePut)(position, value, expected + 1,
                                                                      16);
          (add ? dsp->singleAdd : dsp->singlePut)(position, value, got + 1, 16);
          ASSERT_EQ(0, std::memcmp(got, expected, sizeof got)) << dsp->name << " " << position;
        }
      }
    }
  }
}

}  // namespace
}  // namespace calvex::video_decoder
