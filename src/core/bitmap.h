// The 24-bit bottom-up bitmap that frames travel in between the media layer, the encoders, the
// decoders and the frame view.
#pragma once

#include <cstdint>
#include <functional>

namespace calvex {

// Same layout as the Windows BITMAPINFOHEADER (40 bytes, little-endian).
struct BitmapInfoHeader {
  std::uint32_t size = 40;
  std::int32_t width = 0;
  std::int32_t height = 0;  // positive: bottom-up rows
  std::uint16_t planes = 1;
  std::uint16_t bitCount = 24;
  std::uint32_t compression = 0;  // 0 = uncompressed RGB
  std::uint32_t sizeImage = 0;    // bytes of pixel data
  std::int32_t xPelsPerMeter = 0;
  std::int32_t yPelsPerMeter = 0;
  std::uint32_t clrUsed = 0;
  std::uint32_t clrImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

// Bytes per row: width x bytes per pixel rounded up to a multiple of 4 (worked out in 64 bits: a
// file's header may claim any width).
constexpr int BitmapStride(int width, int bitCount) {
  return static_cast<int>((std::int64_t{width} * bitCount + 31) / 32 * 4);
}

// A header for a 24-bit bottom-up bitmap of the given size, with sizeImage filled in.
constexpr BitmapInfoHeader MakeBitmapHeader24(int width, int height) {
  BitmapInfoHeader h;
  h.width = width;
  h.height = height;
  h.bitCount = 24;
  h.sizeImage = static_cast<std::uint32_t>(BitmapStride(width, 24) * height);
  return h;
}

// Receives a picture as a 24-bit bottom-up bitmap, valid only during the call.
using BitmapSink = std::function<void(const BitmapInfoHeader& header, const std::uint8_t* bits)>;

}  // namespace calvex
