#include "video_decoder/idct.h"

#include <algorithm>

namespace calvex::video_decoder {

namespace {

// cos(x) for 0 <= x <= pi, by its Taylor series; evaluated by the compiler so that the tables are
// the same bits everywhere.
constexpr double ConstCos(double x) {
  // Fold into [0, pi/2] with the sign.
  constexpr double kPi = 3.14159265358979323846;
  double sign = 1;
  if (x > kPi / 2) {
    x = kPi - x;
    sign = -1;
  }
  double term = 1, sum = 1;
  for (int i = 1; i < 30; ++i) {
    term *= -x * x / ((2 * i - 1) * (2 * i));
    sum += term;
  }
  return sign * sum;
}

constexpr double kPi = 3.14159265358979323846;

constexpr std::int32_t RoundToInt(double v) {
  return v >= 0 ? static_cast<std::int32_t>(v + 0.5) : -static_cast<std::int32_t>(-v + 0.5);
}

// c(k) cos((2n + 1) k pi / 16), folded into [0, pi] for ConstCos.
constexpr double ScaledCos(int n, int k) {
  int j = ((2 * n + 1) * k) % 32;  // angle j pi / 16 in [0, 2 pi)
  if (j > 16) j = 32 - j;          // cos(2 pi - a) = cos(a)
  const double c = ConstCos(j * kPi / 16);
  return k == 0 ? c * 0.70710678118654752440 : c;
}

constexpr std::array<std::array<std::int16_t, 8>, 8> MakeIdctMatrix() {
  std::array<std::array<std::int16_t, 8>, 8> m{};
  for (int n = 0; n < 8; ++n) {
    for (int k = 0; k < 8; ++k)
      m[n][k] = static_cast<std::int16_t>(RoundToInt(16384 * ScaledCos(n, k)));
  }
  return m;
}

// Basis functions scaled by 2^17: (c(u) / 2 cos(...)) (c(v) / 2 cos(...)) 2^17 at (y, x) for the
// coefficient (u, v). The largest, for u = v = 1, is below 0.2405 x 2^17 and fits 16 bits.
struct BasisTable {
  std::array<std::array<std::int16_t, 64>, 64> value{};
};
constexpr BasisTable MakeBasisTable() {
  BasisTable t;
  for (int p = 0; p < 64; ++p) {
    const int u = p >> 3, v = p & 7;
    for (int k = 0; k < 64; ++k) {
      const int y = k >> 3, x = k & 7;
      const double b = ScaledCos(y, u) * ScaledCos(x, v) / 4;
      t.value[p][k] = static_cast<std::int16_t>(RoundToInt(b * 131072));
    }
  }
  return t;
}

constexpr BasisTable kBasis = MakeBasisTable();

inline std::int16_t Saturate16(std::int32_t v) {
  return static_cast<std::int16_t>(std::clamp<std::int32_t>(v, -32768, 32767));
}

// (sum + rounding) >> shift with the sum taken modulo 2^32, as the SIMD code adds.
inline std::int32_t WrapShift(std::int64_t sum, int shift) {
  const auto wrapped = static_cast<std::int32_t>(static_cast<std::uint32_t>(sum));
  return wrapped >> shift;
}

// One 1-D pass over 8 values taken `stride` apart.
void IdctPass(std::int16_t* v, std::ptrdiff_t stride, int shift) {
  std::int32_t x[8];
  for (int k = 0; k < 8; ++k) x[k] = v[k * stride];
  const std::int64_t round = std::int64_t{1} << (shift - 1);
  for (int n = 0; n < 4; ++n) {
    const auto& m = kIdctMatrix[n];
    const std::int64_t even = std::int64_t{m[0]} * x[0] + m[2] * x[2] + m[4] * x[4] + m[6] * x[6];
    const std::int64_t odd = std::int64_t{m[1]} * x[1] + m[3] * x[3] + m[5] * x[5] + m[7] * x[7];
    v[n * stride] = Saturate16(WrapShift(even + odd + round, shift));
    v[(7 - n) * stride] = Saturate16(WrapShift(even - odd + round, shift));
  }
}

}  // namespace

const std::array<std::array<std::int16_t, 8>, 8> kIdctMatrix = MakeIdctMatrix();

void InverseDctReference(std::int16_t* block) {
  for (int r = 0; r < 8; ++r) IdctPass(block + r * 8, 1, kIdctRowShift);
  for (int c = 0; c < 8; ++c) IdctPass(block + c, 8, kIdctColumnShift);
}

std::int16_t BasisFunction(int position, int sample) {
  return kBasis.value[position][sample];
}

std::int32_t SingleCoefficientSample(int position, int value, int sample) {
  if (position == 0) return DcOnlySample(value);
  return (kBasis.value[position][sample] * value + 65536) >> 17;
}

}  // namespace calvex::video_decoder
