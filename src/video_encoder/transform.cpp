#include "video_encoder/transform.h"

#include <cstdint>
#include <cstdlib>

#include "mpeg_video/video_tables.h"

namespace calvex::video {
namespace {

inline std::int16_t Signed(int magnitude, int sign) {
  return static_cast<std::int16_t>(sign < 0 ? -magnitude : magnitude);
}

}  // namespace

void QuantiseIntra(std::int16_t* block, int mquant) {
  const int x0 = block[0];
  block[0] = static_cast<std::int16_t>(x0 >= 0 ? (x0 + 4) / 8 : -((-x0 + 4) / 8));
  const int round = (3 * mquant + 2) / 4;
  // (32 |x| + W / 2) / W below 2 mquant - round quantises to 0: most coefficients do.
  const int zeroBelow = 2 * mquant - round;
  for (int n = 1; n < 64; ++n) {
    const int x = block[n];
    const int w = video_tables::kDefaultIntraMatrix[static_cast<std::size_t>(n)];
    if (32 * std::abs(x) < zeroBelow * w - w / 2) {
      block[n] = 0;
      continue;
    }
    int y = (32 * std::abs(x) + w / 2) / w;
    y = (y + round) / (2 * mquant);
    if (y > 255) y = 255;
    block[n] = Signed(y, x);
  }
}

bool QuantiseNonIntra(std::int16_t* block, int mquant) {
  bool coded = false;
  for (int n = 0; n < 64; ++n) {
    const int x = block[n];
    // ((32 |x| + 8) / 16) / (2 mquant) is |x| / mquant: 0 below mquant.
    if (std::abs(x) < mquant) {
      block[n] = 0;
      continue;
    }
    int y = ((32 * std::abs(x) + 8) / 16) / (2 * mquant);
    if (y > 255) y = 255;
    block[n] = Signed(y, x);
    coded |= y != 0;
  }
  return coded;
}

void DequantiseIntra(std::int16_t* block, int mquant) {
  block[0] = static_cast<std::int16_t>(block[0] * 8);
  for (int n = 1; n < 64; ++n)
    if (block[n] != 0) block[n] = IntraCoefficient(block[n], n, mquant);
}

void DequantiseNonIntra(std::int16_t* block, int mquant) {
  for (int n = 0; n < 64; ++n)
    if (block[n] != 0) block[n] = NonIntraCoefficient(block[n], mquant);
}

void DequantiseIntra(std::int16_t* block, int mquant, std::uint64_t nonZero) {
  block[0] = static_cast<std::int16_t>(block[0] * 8);
  for (std::uint64_t m = nonZero & ~std::uint64_t{1}; m; m &= m - 1) {
    const int n = __builtin_ctzll(m);
    block[n] = IntraCoefficient(block[n], n, mquant);
  }
}

void DequantiseNonIntra(std::int16_t* block, int mquant, std::uint64_t nonZero) {
  for (std::uint64_t m = nonZero; m; m &= m - 1) {
    const int n = __builtin_ctzll(m);
    block[n] = NonIntraCoefficient(block[n], mquant);
  }
}

namespace {

constexpr int W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;

inline int InverseClip(int v) {
  return v < -256 ? -256 : (v > 255 ? 255 : v);
}

// The passes compute in 32 bits; extreme blocks (every coefficient near +-2048) overflow them.
// They wrap as the vector code's 32-bit lanes do: sums and products are taken in 64 bits and
// brought back to 32 bits (modulo 2^32) before each shift, the only steps that look past them.
using Wide = std::int64_t;

inline int Shift(Wide v, int bits) {
  return static_cast<std::int32_t>(v) >> bits;
}

void InverseRow(std::int16_t* b) {
  Wide x1 = Wide{b[4]} * 2048, x2 = b[6], x3 = b[2], x4 = b[1], x5 = b[7], x6 = b[5], x7 = b[3];
  if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
    const auto dc = static_cast<std::int16_t>(b[0] * 8);
    for (int i = 0; i < 8; ++i) b[i] = dc;
    return;
  }
  Wide x0 = (Wide{b[0]} * 2048) + 128;
  Wide x8 = W7 * (x4 + x5);
  x4 = x8 + (W1 - W7) * x4;
  x5 = x8 - (W1 + W7) * x5;
  x8 = W3 * (x6 + x7);
  x6 = x8 - (W3 - W5) * x6;
  x7 = x8 - (W3 + W5) * x7;
  x8 = x0 + x1;
  x0 -= x1;
  x1 = W6 * (x3 + x2);
  x2 = x1 - (W2 + W6) * x2;
  x3 = x1 + (W2 - W6) * x3;
  x1 = x4 + x6;
  x4 -= x6;
  x6 = x5 + x7;
  x5 -= x7;
  x7 = x8 + x3;
  x8 -= x3;
  x3 = x0 + x2;
  x0 -= x2;
  x2 = Shift(181 * (x4 + x5) + 128, 8);
  x4 = Shift(181 * (x4 - x5) + 128, 8);
  b[0] = static_cast<std::int16_t>(Shift(x7 + x1, 8));
  b[1] = static_cast<std::int16_t>(Shift(x3 + x2, 8));
  b[2] = static_cast<std::int16_t>(Shift(x0 + x4, 8));
  b[3] = static_cast<std::int16_t>(Shift(x8 + x6, 8));
  b[4] = static_cast<std::int16_t>(Shift(x8 - x6, 8));
  b[5] = static_cast<std::int16_t>(Shift(x0 - x4, 8));
  b[6] = static_cast<std::int16_t>(Shift(x3 - x2, 8));
  b[7] = static_cast<std::int16_t>(Shift(x7 - x1, 8));
}

void InverseColumn(std::int16_t* b) {
  Wide x1 = Wide{b[8 * 4]} * 256, x2 = b[8 * 6], x3 = b[8 * 2], x4 = b[8 * 1], x5 = b[8 * 7],
       x6 = b[8 * 5], x7 = b[8 * 3];
  if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
    const auto v = static_cast<std::int16_t>(InverseClip((b[0] + 32) >> 6));
    for (int i = 0; i < 8; ++i) b[8 * i] = v;
    return;
  }
  Wide x0 = (Wide{b[0]} * 256) + 8192;
  Wide x8 = W7 * (x4 + x5) + 4;
  x4 = Shift(x8 + (W1 - W7) * x4, 3);
  x5 = Shift(x8 - (W1 + W7) * x5, 3);
  x8 = W3 * (x6 + x7) + 4;
  x6 = Shift(x8 - (W3 - W5) * x6, 3);
  x7 = Shift(x8 - (W3 + W5) * x7, 3);
  x8 = x0 + x1;
  x0 -= x1;
  x1 = W6 * (x3 + x2) + 4;
  x2 = Shift(x1 - (W2 + W6) * x2, 3);
  x3 = Shift(x1 + (W2 - W6) * x3, 3);
  x1 = x4 + x6;
  x4 -= x6;
  x6 = x5 + x7;
  x5 -= x7;
  x7 = x8 + x3;
  x8 -= x3;
  x3 = x0 + x2;
  x0 -= x2;
  x2 = Shift(181 * (x4 + x5) + 128, 8);
  x4 = Shift(181 * (x4 - x5) + 128, 8);
  b[8 * 0] = static_cast<std::int16_t>(InverseClip(Shift(x7 + x1, 14)));
  b[8 * 1] = static_cast<std::int16_t>(InverseClip(Shift(x3 + x2, 14)));
  b[8 * 2] = static_cast<std::int16_t>(InverseClip(Shift(x0 + x4, 14)));
  b[8 * 3] = static_cast<std::int16_t>(InverseClip(Shift(x8 + x6, 14)));
  b[8 * 4] = static_cast<std::int16_t>(InverseClip(Shift(x8 - x6, 14)));
  b[8 * 5] = static_cast<std::int16_t>(InverseClip(Shift(x0 - x4, 14)));
  b[8 * 6] = static_cast<std::int16_t>(InverseClip(Shift(x3 - x2, 14)));
  b[8 * 7] = static_cast<std::int16_t>(InverseClip(Shift(x7 - x1, 14)));
}

}  // namespace

void InverseDct(std::int16_t* block) {
  for (int i = 0; i < 8; ++i) InverseRow(block + 8 * i);
  for (int i = 0; i < 8; ++i) InverseColumn(block + i);
}

int InverseDctOfDc(int dc) {
  // The rows give dc x 8 in the first row and 0 elsewhere; each column then its shortcut.
  const int row = static_cast<std::int16_t>(dc * 8);
  return InverseClip((row + 32) >> 6);
}

}  // namespace calvex::video
