#include "audio_encoder/fixed_math.h"

#include <limits>

#include "audio_encoder/analysis_filter.h"

namespace calvex::audio::fixed_math {

namespace {
typedef double V2 __attribute__((vector_size(16)));

double Ldexp2(double x, std::int64_t e) {
  // x * 2^e for the exponents Exp10 produces (no overflow or underflow in its range).
  const double scale = Lanes<double>::FromBits((e + 1023) << 52);
  return x * scale;
}
}  // namespace

double Log(double x) {
  if (!(x > 0))
    return x == 0 ? -std::numeric_limits<double>::infinity()
                  : std::numeric_limits<double>::quiet_NaN();
  std::int64_t bits = Lanes<double>::ToBits(x);
  std::int64_t e = (bits >> 52) - 1023;
  if (e == -1023) {                                         // subnormal: scale up first
    bits = Lanes<double>::ToBits(x * 18014398509481984.0);  // 2^54
    e = (bits >> 52) - 1023 - 54;
  }
  // m in [sqrt(2)/2, sqrt(2)).
  std::int64_t mantissa = bits & 0x000FFFFFFFFFFFFFll;
  double m = Lanes<double>::FromBits(mantissa | 0x3FF0000000000000ll);
  if (m > 1.4142135623730951) {
    m *= 0.5;
    ++e;
  }
  const double f = m - 1.0;
  const double k = static_cast<double>(e);
  const double s = f / (2.0 + f);
  const double z = s * s;
  const double w = z * z;
  const double t1 = w * (3.999999999940941908e-01 +
                         w * (2.222219843214978396e-01 + w * 1.531383769920937332e-01));
  const double t2 = z * (6.666666666666735130e-01 +
                         w * (2.857142874366239149e-01 +
                              w * (1.818357216161805012e-01 + w * 1.479819860511658591e-01)));
  const double r = t2 + t1;
  const double hfsq = 0.5 * f * f;
  return k * 6.93147180369123816490e-01 -
         ((hfsq - (s * (hfsq + r) + k * 1.90821492927058770002e-10)) - f);
}

// The exact product a x b as hi + lo (Veltkamp splitting and Dekker's product, no FMA).
void TwoProduct(double a, double b, double& hi, double& lo) {
  auto split = [](double v, double& h, double& l) {
    const double c = 134217729.0 * v;  // 2^27 + 1
    h = c - (c - v);
    l = v - h;
  };
  hi = a * b;
  double ah, al, bh, bl;
  split(a, ah, al);
  split(b, bh, bl);
  lo = ((ah * bh - hi) + ah * bl + al * bh) + al * bl;
}

double Exp10(double y) {
  // x = y ln 10 carried as p + e, so that 10^y keeps its accuracy for large |y|.
  double p, e;
  TwoProduct(y, 2.302585092994046, p, e);
  e += y * -2.1707562233822494e-16;
  const double shifted = p * 1.4426950408889634 + kRoundMagic;
  const double k = shifted - kRoundMagic;
  const double hi = p - k * 6.93147180369123816490e-01;
  const double lo = k * 1.90821492927058770002e-10 - e;
  const double r = hi - lo;
  const double z = r * r;
  const double c =
      r - z * (1.66666666666666019037e-01 +
               z * (-2.77777777770155933842e-03 +
                    z * (6.61375632143793436117e-05 +
                         z * (-1.65339022054652515390e-06 + z * 4.13813679705723846039e-08))));
  const double er = 1.0 - ((lo - (r * c) / (2.0 - c)) - hi);
  return Ldexp2(er, static_cast<std::int64_t>(k));
}

void SinCosArraySse2(const double* x, double* s, double* c, int n) {
  int i = 0;
  for (; i + 2 <= n; i += 2) {
    V2 v, vs, vc;
    std::memcpy(&v, x + i, sizeof v);
    SinCosKernel<V2>(v, vs, vc);
    std::memcpy(s + i, &vs, sizeof vs);
    std::memcpy(c + i, &vc, sizeof vc);
  }
  for (; i < n; ++i) SinCos(x[i], s[i], c[i]);
}

void Atan2ArraySse2(const double* y, const double* x, double* out, int n) {
  int i = 0;
  for (; i + 2 <= n; i += 2) {
    V2 vy, vx;
    std::memcpy(&vy, y + i, sizeof vy);
    std::memcpy(&vx, x + i, sizeof vx);
    const V2 r = Atan2Kernel<V2>(vy, vx);
    std::memcpy(out + i, &r, sizeof r);
  }
  for (; i < n; ++i) out[i] = Atan2(y[i], x[i]);
}

void SinCosArray(const double* x, double* s, double* c, int n) {
  static const bool avx2 = CpuHasAvx2();
  if (avx2)
    SinCosArrayAvx2(x, s, c, n);
  else
    SinCosArraySse2(x, s, c, n);
}

void Atan2Array(const double* y, const double* x, double* out, int n) {
  static const bool avx2 = CpuHasAvx2();
  if (avx2)
    Atan2ArrayAvx2(y, x, out, n);
  else
    Atan2ArraySse2(y, x, out, n);
}

}  // namespace calvex::audio::fixed_math
