// Forward DCT, quantisation, inverse quantisation and the integer IDCT.
#include "video_encoder/transform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "mpeg_video/video_tables.h"
#include "video_encoder/kernels.h"
#include "video_encoder/picture.h"

namespace calvex::video {
namespace {

Block Constant(int v) {
  Block b;
  b.fill(static_cast<std::int16_t>(v));
  return b;
}

TEST(Transform, FlatIntraBlocks) {
  const Kernels& k = ReferenceKernels();
  Block zero = Constant(0);  // 128 against the flat prediction of 128
  k.forwardDct(zero.data());
  EXPECT_EQ(zero, Constant(0));

  Block white = Constant(127);  // 255 against 128
  k.forwardDct(white.data());
  EXPECT_EQ(white[0], 1016);
  for (int n = 1; n < 64; ++n) EXPECT_EQ(white[n], 0) << n;
  QuantiseIntra(white.data(), 20);
  EXPECT_EQ(white[0], 127);
  DequantiseIntra(white.data(), 20);
  EXPECT_EQ(white[0], 8 * 127);
  InverseDct(white.data());
  EXPECT_EQ(white, Constant(127));
}

TEST(Transform, NonIntraQuantiserRoundTrip) {
  Block b = Constant(0);
  b[5] = 15;
  b[9] = -15;
  EXPECT_TRUE(QuantiseNonIntra(b.data(), 2));
  EXPECT_EQ(b[5], 7);  // (32 x 15 + 8) / 16 = 30; 30 / 4 = 7
  EXPECT_EQ(b[9], -7);
  DequantiseNonIntra(b.data(), 2);
  EXPECT_EQ(b[5], 15);  // (2 x 7 + 1) x 16 x 2 / 32, odd and kept
  EXPECT_EQ(b[9], -15);

  Block small = Constant(3);  // below the dead zone at mquant 4: nothing coded
  EXPECT_FALSE(QuantiseNonIntra(small.data(), 4));
  EXPECT_EQ(small, Constant(0));
}

TEST(Transform, QuantiserLimitsAndMismatchControl) {
  Block b = Constant(0);
  b[0] = -1020;
  b[1] = 2040;  // far beyond 255 levels at the finest quantiser
  b[2] = -2040;
  QuantiseIntra(b.data(), 2);
  EXPECT_EQ(b[0], -128);  // -((1020 + 4) / 8)
  EXPECT_EQ(b[1], 255);
  EXPECT_EQ(b[2], -255);

  // Every reconstructed AC value is odd (or 0) and within -2048..2047; only the clamp at -2048
  // may leave an even value.
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    const int mquant = 2 * (1 + static_cast<int>(rng() % 31));
    Block intra, inter;
    for (int n = 0; n < 64; ++n) {
      intra[n] = static_cast<std::int16_t>(static_cast<int>(rng() % 511) - 255);
      inter[n] = intra[n];
    }
    DequantiseIntra(intra.data(), mquant);
    DequantiseNonIntra(inter.data(), mquant);
    EXPECT_EQ(intra[0] % 8, 0);
    for (int n = 0; n < 64; ++n) {
      if (n > 0) {
        EXPECT_TRUE(intra[n] == 0 || intra[n] == -2048 || (intra[n] & 1)) << intra[n];
        EXPECT_GE(intra[n], -2048);
        EXPECT_LE(intra[n], 2047);
      }
      EXPECT_TRUE(inter[n] == 0 || inter[n] == -2048 || (inter[n] & 1)) << inter[n];
      EXPECT_GE(inter[n], -2048);
      EXPECT_LE(inter[n], 2047);
    }
  }
}

// The quantisers against the plain formulas for every coefficient value and quantiser.
TEST(Transform, QuantisersMatchTheirFormulas) {
  for (int mquant = 2; mquant <= 62; mquant += 2) {
    for (int x = -2048; x <= 2047; ++x) {
      Block intra{}, inter{};
      intra.fill(static_cast<std::int16_t>(x));
      inter.fill(static_cast<std::int16_t>(x));
      QuantiseIntra(intra.data(), mquant);
      QuantiseNonIntra(inter.data(), mquant);
      const int a = std::abs(x), sign = x < 0 ? -1 : 1;
      const int nonIntra = std::min(((32 * a + 8) / 16) / (2 * mquant), 255);
      ASSERT_EQ(inter[7], sign * nonIntra) << x << " at " << mquant;
      for (int n = 1; n < 64; ++n) {
        const int w = video_tables::kDefaultIntraMatrix[static_cast<std::size_t>(n)];
        const int y = std::min(((32 * a + w / 2) / w + (3 * mquant + 2) / 4) / (2 * mquant), 255);
        ASSERT_EQ(intra[n], sign * y) << x << " at " << mquant << " position " << n;
      }
    }
  }
}

// The integer IDCT against a double-precision one, in the spirit of IEEE 1180: random blocks in
// the range -256..255, peak error at most 1 and small mean errors.
TEST(Transform, InverseDctAccuracy) {
  const auto& c = DctBasis();
  std::mt19937 rng(1180);
  double sumError = 0, sumSquared = 0;
  int peak = 0;
  const int blocks = 2000;
  for (int round = 0; round < blocks; ++round) {
    Block pixels;
    for (auto& v : pixels) v = static_cast<std::int16_t>(static_cast<int>(rng() % 512) - 256);
    Block coeffs = pixels;
    ReferenceKernels().forwardDct(coeffs.data());
    for (auto& v : coeffs) v = static_cast<std::int16_t>(std::clamp<int>(v, -2048, 2047));
    // Exact inverse of the clamped coefficients.
    double exact[64];
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) {
        double s = 0;
        for (int u = 0; u < 8; ++u)
          for (int v = 0; v < 8; ++v) s += c[v][y] * c[u][x] * coeffs[8 * v + u];
        exact[8 * y + x] = std::clamp(std::floor(s + 0.5), -256.0, 255.0);
      }
    Block ours = coeffs;
    InverseDct(ours.data());
    for (int i = 0; i < 64; ++i) {
      const double e = ours[i] - exact[i];
      sumError += e;
      sumSquared += e * e;
      peak = std::max(peak, static_cast<int>(std::abs(e)));
    }
  }
  EXPECT_LE(peak, 1);
  EXPECT_LE(std::abs(sumError) / (64.0 * blocks), 0.015);
  EXPECT_LE(sumSquared / (64.0 * blocks), 0.02);
}

TEST(Transform, FlatBlocksAndMaskedDequantisation) {
  for (int dc = -2048; dc < 2048; ++dc) {
    Block b{};
    b[0] = static_cast<std::int16_t>(dc);
    InverseDct(b.data());
    ASSERT_EQ(b, Constant(InverseDctOfDc(dc))) << dc;
  }
  std::mt19937 rng(21);
  for (int round = 0; round < 500; ++round) {
    Block levels{};
    for (int i = 0; i < 1 + round % 9; ++i)
      levels[rng() % 64] = static_cast<std::int16_t>(static_cast<int>(rng() % 511) - 255);
    std::uint64_t mask = 0;
    for (int n = 0; n < 64; ++n)
      if (levels[static_cast<std::size_t>(n)] != 0) mask |= std::uint64_t{1} << n;
    const int mquant = 2 + 2 * static_cast<int>(rng() % 31);
    Block a = levels, b = levels, c = levels, d = levels;
    DequantiseIntra(a.data(), mquant);
    DequantiseIntra(b.data(), mquant, mask);
    EXPECT_EQ(a, b);
    DequantiseNonIntra(c.data(), mquant);
    DequantiseNonIntra(d.data(), mquant, mask);
    EXPECT_EQ(c, d);
  }
}

TEST(Transform, InverseDctShortcutsMatchTheFullPath) {
  // A DC-only block: every sample (DC + 4) / 8 style rounding through both passes.
  for (int dc : {-2048, -1001, -9, -4, 0, 3, 4, 12, 1016, 2047}) {
    Block b = Constant(0);
    b[0] = static_cast<std::int16_t>(dc);
    InverseDct(b.data());
    const int expected = std::clamp((dc * 8 + 32) >> 6, -256, 255);
    EXPECT_EQ(b, Constant(expected)) << dc;
  }
}

}  // namespace
}  // namespace calvex::video
