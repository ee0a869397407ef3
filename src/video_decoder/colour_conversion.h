// YCbCr 4:2:0 to 24-bit BGR, as ITU-R BT.601 limited range in 8.8 fixed point:
//   R = (298 (Y - 16) + 409 (Cr - 128) + 128) >> 8
//   G = (298 (Y - 16) - 100 (Cb - 128) - 208 (Cr - 128) + 128) >> 8
//   B = (298 (Y - 16) + 516 (Cb - 128) + 128) >> 8
// each clamped to 0..255. The reference reads its terms from tables indexed by the sample values.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "video_decoder/dsp.h"

namespace calvex::video_decoder {

inline constexpr int kLumaGain = 298;
inline constexpr int kCrToRed = 409;
inline constexpr int kCbToGreen = -100;
inline constexpr int kCrToGreen = -208;
inline constexpr int kCbToBlue = 516;

struct ColourTables {
  std::array<std::int32_t, 256> luma;  // 298 (Y - 16) + 128
  std::array<std::int32_t, 256> crToRed;
  std::array<std::int32_t, 256> cbToGreen;
  std::array<std::int32_t, 256> crToGreen;
  std::array<std::int32_t, 256> cbToBlue;
};
const ColourTables& YcbcrTables();

// One pixel, from the tables.
void ConvertPixel(int y, int cb, int cr, std::uint8_t* bgr);

// The plain version of ConvertRowPairFn.
void ConvertRowPairReference(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb,
                             const std::uint8_t* cr, int width, std::uint8_t* out0,
                             std::uint8_t* out1);
void ConvertRowPairSse2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb,
                        const std::uint8_t* cr, int width, std::uint8_t* out0, std::uint8_t* out1);
void ConvertRowPairAvx2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb,
                        const std::uint8_t* cr, int width, std::uint8_t* out0, std::uint8_t* out1);

// Converts the width x height pixels of a picture into a bottom-up bitmap whose rows are
// `bitmapStride` bytes apart: picture row 0 goes to the last bitmap row. An odd last column or row
// is converted by itself; nothing is written outside the 3 x width bytes of each row.
void ConvertPictureToRgb(const DecoderDsp& dsp, const ColourPlanes& planes, int width, int height,
                         std::uint8_t* bitmap, std::ptrdiff_t bitmapStride);

}  // namespace calvex::video_decoder
