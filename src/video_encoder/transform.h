// Quantisation, inverse quantisation with MPEG-1 mismatch control, and the integer IDCT that
// rebuilds reference pictures as a decoder does. The forward DCT is a kernel (kernels.h).
#pragma once

#include <cstdint>

#include "mpeg_video/video_tables.h"

namespace calvex::video {

// Quantises an intra block in place (coefficients to levels) with quantiser `mquant` (even,
// 2..62): DC to 8-bit precision, AC through the default intra matrix.
void QuantiseIntra(std::int16_t* block, int mquant);

// Quantises a non-intra block in place; returns true when any level is not 0.
bool QuantiseNonIntra(std::int16_t* block, int mquant);

// Reconstructed AC values are made odd (toward zero) and clamped, as MPEG-1 requires.
inline std::int16_t Oddify(int v) {
  if (v != 0 && (v & 1) == 0) v += v > 0 ? -1 : 1;
  if (v < -2048) v = -2048;
  if (v > 2047) v = 2047;
  return static_cast<std::int16_t>(v);
}

inline std::int16_t IntraCoefficient(int level, int n, int mquant) {
  const int w = video_tables::kDefaultIntraMatrix[static_cast<std::size_t>(n)];
  return Oddify(level * w * mquant / 16);
}

inline std::int16_t NonIntraCoefficient(int level, int mquant) {
  const int sign = level > 0 ? 1 : -1;
  return Oddify((2 * level + sign) * 16 * mquant / 32);
}

// The coefficient one level rebuilds: AC level `level` at raster index n (1..63) of an intra
// block, or any level of a non-intra block (n unused). Inline: the high preset's rate-distortion
// loops call it for every level they weigh.
inline std::int16_t DequantiseLevel(int level, int n, int mquant, bool intra) {
  if (level == 0) return 0;
  return intra ? IntraCoefficient(level, n, mquant) : NonIntraCoefficient(level, mquant);
}

// Levels back to coefficients, in place.
void DequantiseIntra(std::int16_t* block, int mquant);
void DequantiseNonIntra(std::int16_t* block, int mquant);
// The same when only the levels of `nonZero` (bit n for raster index n) can be other than 0.
void DequantiseIntra(std::int16_t* block, int mquant, std::uint64_t nonZero);
void DequantiseNonIntra(std::int16_t* block, int mquant, std::uint64_t nonZero);

// Separable integer IDCT (ISO/IEC 11172-2 Annex A accuracy), in place; outputs -256..255.
void InverseDct(std::int16_t* block);

// Every output of InverseDct for a block whose coefficients are 0 but the first, `dc`.
int InverseDctOfDc(int dc);

}  // namespace calvex::video
