// Sine, cosine, arc tangent, logarithm and powers of ten for the encoder's psychoacoustic model
// and filter tables, computed with plain double additions, multiplications and divisions only.
//
// The C library picks different code for different CPUs (with and without FMA), so its last bit
// may change from machine to machine; these functions give the same bits everywhere, and their
// vector forms (SSE2, AVX2) give the same bits as the scalar form because every lane performs the
// same IEEE operations in the same order. Accuracy is within about one unit in the last place:
// argument reduction by pi/2 in three parts, then minimax polynomials on the reduced range.
#pragma once

#include <cstdint>
#include <cstring>

namespace calvex::audio::fixed_math {

// ---------------------------------------------------------------------------------------------
// Lane helpers: the kernels below are written once for `double` and for GCC vector types.

template <typename V>
struct Lanes;

template <>
struct Lanes<double> {
  using Bits = std::int64_t;
  static Bits ToBits(double v) {
    Bits b;
    std::memcpy(&b, &v, sizeof b);
    return b;
  }
  static double FromBits(Bits b) {
    double v;
    std::memcpy(&v, &b, sizeof v);
    return v;
  }
  static double Splat(double v) { return v; }
  static double Select(bool m, double a, double b) { return m ? a : b; }
  static bool Both(bool a, bool b) { return a && b; }
};

template <typename V>
struct Lanes {
  // GCC vector of doubles; comparisons give lanes of all ones or all zeros.
  using Bits = decltype(V{} < V{});
  static Bits ToBits(V v) { return (Bits)v; }  // GCC vector casts reinterpret the bits
  static V FromBits(Bits b) { return (V)b; }
  static V Splat(double v) { return V{} + v; }
  static V Select(Bits m, V a, V b) { return FromBits((ToBits(a) & m) | (ToBits(b) & ~m)); }
  static Bits Both(Bits a, Bits b) { return a & b; }
};

constexpr std::int64_t kSignBit = static_cast<std::int64_t>(0x8000000000000000ull);

template <typename V>
V Abs(V x) {
  using L = Lanes<V>;
  return L::FromBits(L::ToBits(x) & ~kSignBit);
}

// |magnitude| with the sign bit of `sign`.
template <typename V>
V CopySign(V magnitude, V sign) {
  using L = Lanes<V>;
  return L::FromBits((L::ToBits(magnitude) & ~kSignBit) | (L::ToBits(sign) & kSignBit));
}

// ---------------------------------------------------------------------------------------------
// Kernels

// 1.5 x 2^52: adding it rounds a double below 2^51 in magnitude to an integer, held in the low
// mantissa bits.
inline constexpr double kRoundMagic = 6755399441055744.0;

// sin(x) and cos(x) for |x| below 2^20.
template <typename V>
void SinCosKernel(V x, V& sinOut, V& cosOut) {
  using L = Lanes<V>;
  const V shifted = x * L::Splat(0.63661977236758134308) + L::Splat(kRoundMagic);
  const auto quadrant = L::ToBits(shifted);
  const V k = shifted - L::Splat(kRoundMagic);
  // x - k pi/2, with pi/2 in three parts of 33 bits (each product exact).
  const V r = ((x - k * L::Splat(0x1.921fb54400000p+0)) - k * L::Splat(0x1.0b4611a600000p-34)) -
              k * L::Splat(0x1.3198a2e000000p-69);
  const V z = r * r;
  const V sinPoly = L::Splat(8.33333333332248946124e-03) +
                    z * (L::Splat(-1.98412698298579493134e-04) +
                         z * (L::Splat(2.75573137070700676789e-06) +
                              z * (L::Splat(-2.50507602534068634195e-08) +
                                   z * L::Splat(1.58969099521155010221e-10))));
  const V s = r + r * z * (L::Splat(-1.66666666666666324348e-01) + z * sinPoly);
  const V cosPoly = L::Splat(4.16666666666666019037e-02) +
                    z * (L::Splat(-1.38888888888741095749e-03) +
                         z * (L::Splat(2.48015872894767294178e-05) +
                              z * (L::Splat(-2.75573143513906633035e-07) +
                                   z * (L::Splat(2.08757232129817482790e-09) +
                                        z * L::Splat(-1.13596475577881948265e-11)))));
  const V half = L::Splat(0.5) * z;
  const V one = L::Splat(1.0);
  const V w = one - half;
  const V c = w + (((one - w) - half) + z * z * cosPoly);
  // Quadrant 1 and 3 swap sine and cosine; the signs follow the quadrant.
  const auto zero = quadrant & 0;
  const auto swap = (quadrant & 1) != zero;
  const V sinBase = L::Select(swap, c, s);
  const V cosBase = L::Select(swap, s, c);
  const auto sinNegative = (quadrant & 2) << 62;
  const auto cosNegative = ((quadrant + 1) & 2) << 62;
  sinOut = L::FromBits(L::ToBits(sinBase) ^ sinNegative);
  cosOut = L::FromBits(L::ToBits(cosBase) ^ cosNegative);
}

// atan2(y, x) with the C library's quadrant and signed-zero conventions.
template <typename V>
V Atan2Kernel(V y, V x) {
  using L = Lanes<V>;
  const V ax = Abs(x), ay = Abs(y);
  const V t = ay / ax;  // 0..inf (NaN only when both are 0, handled below)
  const V one = L::Splat(1.0);
  // Reduce t to |u| <= 7/16 around one of atan(0.5), atan(1), atan(1.5), pi/2.
  const auto r0 = t < L::Splat(0.4375);
  const auto r1 = t < L::Splat(0.6875);
  const auto r2 = t < L::Splat(1.1875);
  const auto r3 = t < L::Splat(2.4375);
  const V c = L::Select(r1, L::Splat(0.5), L::Select(r2, one, L::Splat(1.5)));
  const V reduced = (t - c) / (one + c * t);
  const V u = L::Select(r0, t, L::Select(r3, reduced, L::Splat(-1.0) / t));
  const V hi = L::Select(r0, L::Splat(0.0),
                         L::Select(r1, L::Splat(4.63647609000806093515e-01),
                                   L::Select(r2, L::Splat(7.85398163397448278999e-01),
                                             L::Select(r3, L::Splat(9.82793723247329054082e-01),
                                                       L::Splat(1.57079632679489655800e+00)))));
  const V lo = L::Select(r0, L::Splat(0.0),
                         L::Select(r1, L::Splat(2.26987774529616870924e-17),
                                   L::Select(r2, L::Splat(3.06161699786838301793e-17),
                                             L::Select(r3, L::Splat(1.39033110312309984516e-17),
                                                       L::Splat(6.12323399573676603587e-17)))));
  const V z = u * u;
  const V w = z * z;
  const V s1 = z * (L::Splat(3.33333333333329318027e-01) +
                    w * (L::Splat(1.42857142725034663711e-01) +
                         w * (L::Splat(9.09088713343650656196e-02) +
                              w * (L::Splat(6.66107313738753120669e-02) +
                                   w * (L::Splat(4.97687799461593236017e-02) +
                                        w * L::Splat(1.62858201153657823623e-02))))));
  const V s2 = w * (L::Splat(-1.99999999998764832476e-01) +
                    w * (L::Splat(-1.11111104054623557880e-01) +
                         w * (L::Splat(-7.69187620504482999495e-02) +
                              w * (L::Splat(-5.83357013379057348645e-02) +
                                   w * L::Splat(-3.65315727442169155270e-02)))));
  const V a = hi - ((u * (s1 + s2) - lo) - u);  // atan(t), 0..pi/2
  // Left half-plane: pi - atan(t). Both zero: 0, or pi when x is -0 (as the C library).
  const auto bothZero = L::Both(ax == L::Splat(0.0), ay == L::Splat(0.0));
  const V left = L::Splat(3.141592653589793) - (a - L::Splat(1.2246467991473532e-16));
  const auto xNegative = (L::ToBits(x) & kSignBit) != (L::ToBits(x) & 0);
  V result = L::Select(xNegative, left, a);
  result =
      L::Select(bothZero, L::Select(xNegative, L::Splat(3.141592653589793), L::Splat(0.0)), result);
  return CopySign(result, y);
}

// ---------------------------------------------------------------------------------------------
// Scalar forms

inline void SinCos(double x, double& s, double& c) {
  SinCosKernel<double>(x, s, c);
}
inline double Sin(double x) {
  double s, c;
  SinCos(x, s, c);
  return s;
}
inline double Cos(double x) {
  double s, c;
  SinCos(x, s, c);
  return c;
}
inline double Atan2(double y, double x) {
  return Atan2Kernel<double>(y, x);
}

// Natural logarithm of a positive finite x (0 gives -inf).
double Log(double x);
// 10^y for |y| below 300.
double Exp10(double y);

// ---------------------------------------------------------------------------------------------
// Array forms, vectorised on the running CPU (same bits as the scalar forms).

void SinCosArray(const double* x, double* s, double* c, int n);
void Atan2Array(const double* y, const double* x, double* out, int n);

// The plain SSE2 and the AVX2 array forms (tests call each).
void SinCosArraySse2(const double* x, double* s, double* c, int n);
void Atan2ArraySse2(const double* y, const double* x, double* out, int n);
void SinCosArrayAvx2(const double* x, double* s, double* c, int n);
void Atan2ArrayAvx2(const double* y, const double* x, double* out, int n);

}  // namespace calvex::audio::fixed_math
