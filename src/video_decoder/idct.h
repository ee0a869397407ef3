// The 8 x 8 inverse DCT of the decoder and its fast paths.
//
// InverseDct is separable: a pass over the rows, then one over the columns. Each pass computes,
// for every output n, the even and odd halves E = sum over even k of M[n][k] X[k] and O = the same
// over odd k with 16-bit constants M = round(2^14 c(k) cos((2n + 1) k pi / 16)), and gives
// out[n] = (E + O + r) >> s and out[7 - n] = (E - O + r) >> s, saturated to 16 bits. The row pass
// keeps three fractional bits (s = 11); the column pass shifts them out (s = 19). Sums wrap
// modulo 2^32 as the SIMD versions do, so every version gives the same bits for any input. The
// result meets the accuracy of IEEE Std 1180-1990.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace calvex::video_decoder {

// M[n][k] of the comment above.
extern const std::array<std::array<std::int16_t, 8>, 8> kIdctMatrix;

inline constexpr int kIdctRowShift = 11;
inline constexpr int kIdctColumnShift = 19;

// In place, row-major coefficients in, row-major samples (or residuals) out.
void InverseDctReference(std::int16_t* block);

// The samples of a block whose only non-zero coefficient is `value` at row-major position
// `position`: round(value x the basis function), from a table of 2^17-scaled basis functions.
// Position 0 (the DC alone) gives value / 8 rounded to nearest, halves away from zero.
std::int32_t SingleCoefficientSample(int position, int value, int sample);
// The 2^17-scaled basis function of `position` at `sample` (both row-major 0..63).
std::int16_t BasisFunction(int position, int sample);
// Value of a block whose only non-zero coefficient is the DC.
constexpr std::int32_t DcOnlySample(std::int32_t value) {
  return value >= 0 ? (value + 4) >> 3 : -((4 - value) >> 3);
}

}  // namespace calvex::video_decoder
