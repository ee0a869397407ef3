#include "audio_encoder/fixed_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "audio_encoder/analysis_filter.h"

namespace calvex::audio::fixed_math {
namespace {

// Distance in units of the last place.
double Ulps(double got, double want) {
  if (got == want) return 0;
  const double ulp = std::nextafter(std::fabs(want), INFINITY) - std::fabs(want);
  return std::fabs(got - want) / ulp;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(FixedMath, CloseToTheCLibrary) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> phase(-3 * M_PI, 3 * M_PI), wide(-150, 150),
      coord(-1e6, 1e6), positive(1e-12, 1e14), exponent(-30, 30);
  double worstSin = 0, worstCos = 0, worstAtan = 0, worstLog = 0, worstExp = 0;
  for (int i = 0; i < 200000; ++i) {
    const double x = i % 4 == 0 ? wide(rng) : phase(rng);
    double s, c;
    SinCos(x, s, c);
    // Near a zero of the function only the absolute error is meaningful.
    if (std::fabs(std::sin(x)) > 1e-3) worstSin = std::max(worstSin, Ulps(s, std::sin(x)));
    if (std::fabs(std::cos(x)) > 1e-3) worstCos = std::max(worstCos, Ulps(c, std::cos(x)));
    EXPECT_NEAR(s, std::sin(x), 1e-15);
    const double y = coord(rng), z = coord(rng);
    worstAtan = std::max(worstAtan, Ulps(Atan2(y, z), std::atan2(y, z)));
    const double p = positive(rng);
    worstLog = std::max(worstLog, Ulps(Log(p), std::log(p)));
    const double e = exponent(rng);
    worstExp = std::max(worstExp, Ulps(Exp10(e), std::pow(10.0, e)));
  }
  EXPECT_LE(worstSin, 2.0);
  EXPECT_LE(worstCos, 2.0);
  EXPECT_LE(worstAtan, 2.0);
  EXPECT_LE(worstLog, 1.0);
  EXPECT_LE(worstExp, 2.0);
  EXPECT_EQ(Log(1.0), 0.0);
  EXPECT_EQ(Exp10(0.0), 1.0);
  EXPECT_EQ(Cos(0.0), 1.0);
  EXPECT_EQ(Sin(0.0), 0.0);
}

TEST(FixedMath, Atan2QuadrantsAndSignedZerosAsTheCLibrary) {
  const double values[] = {0.0, -0.0, 1.0, -1.0, 0.3, -2.5, 1e-300, -1e300, INFINITY, -INFINITY};
  for (double y : values)
    for (double x : values) {
      if (std::isinf(x) && std::isinf(y)) continue;
      const double want = std::atan2(y, x), got = Atan2(y, x);
      EXPECT_LE(Ulps(got, want), 1.0) << y << " " << x;
      EXPECT_EQ(std::signbit(got), std::signbit(want)) << y << " " << x;
    }
}

TEST(FixedMath, VectorFormsGiveTheScalarBits) {
  std::mt19937 rng(23);
  std::uniform_real_distribution<double> u(-10, 10);
  const int n = 1027;
  std::vector<double> x(n), y(n);
  for (int i = 0; i < n; ++i) {
    x[i] = i % 97 == 0 ? 0.0 : u(rng);
    y[i] = i % 89 == 0 ? -0.0 : u(rng);
  }
  std::vector<double> s(n), c(n), a(n), s2(n), c2(n), a2(n);
  for (int i = 0; i < n; ++i) {
    SinCos(x[i], s[i], c[i]);
    a[i] = Atan2(y[i], x[i]);
  }
  SinCosArraySse2(x.data(), s2.data(), c2.data(), n);
  Atan2ArraySse2(y.data(), x.data(), a2.data(), n);
  EXPECT_TRUE(SameBits(s, s2));
  EXPECT_TRUE(SameBits(c, c2));
  EXPECT_TRUE(SameBits(a, a2));
  if (CpuHasAvx2()) {
    SinCosArrayAvx2(x.data(), s2.data(), c2.data(), n);
    Atan2ArrayAvx2(y.data(), x.data(), a2.data(), n);
    EXPECT_TRUE(SameBits(s, s2));
    EXPECT_TRUE(SameBits(c, c2));
    EXPECT_TRUE(SameBits(a, a2));
  }
}

}  // namespace
}  // namespace calvex::audio::fixed_math
