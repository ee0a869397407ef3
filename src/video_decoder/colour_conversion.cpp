#include "video_decoder/colour_conversion.h"

#include <algorithm>

namespace calvex::video_decoder {

namespace {

constexpr ColourTables MakeTables() {
  ColourTables t{};
  for (int i = 0; i < 256; ++i) {
    t.luma[i] = kLumaGain * (i - 16) + 128;
    t.crToRed[i] = kCrToRed * (i - 128);
    t.cbToGreen[i] = kCbToGreen * (i - 128);
    t.crToGreen[i] = kCrToGreen * (i - 128);
    t.cbToBlue[i] = kCbToBlue * (i - 128);
  }
  return t;
}
constexpr ColourTables kTables = MakeTables();

inline std::uint8_t Clamp8(std::int32_t v) {
  return static_cast<std::uint8_t>(std::clamp(v >> 8, 0, 255));
}

}  // namespace

const ColourTables& YcbcrTables() {
  return kTables;
}

void ConvertPixel(int y, int cb, int cr, std::uint8_t* bgr) {
  const std::int32_t l = kTables.luma[y];
  bgr[0] = Clamp8(l + kTables.cbToBlue[cb]);
  bgr[1] = Clamp8(l + kTables.cbToGreen[cb] + kTables.crToGreen[cr]);
  bgr[2] = Clamp8(l + kTables.crToRed[cr]);
}

void ConvertRowPairReference(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb,
                             const std::uint8_t* cr, int width, std::uint8_t* out0,
                             std::uint8_t* out1) {
  for (int x = 0; x < width; ++x) {
    ConvertPixel(y0[x], cb[x >> 1], cr[x >> 1], out0 + 3 * x);
    if (out1 != nullptr) ConvertPixel(y1[x], cb[x >> 1], cr[x >> 1], out1 + 3 * x);
  }
}

void ConvertPictureToRgb(const DecoderDsp& dsp, const ColourPlanes& planes, int width, int height,
                         std::uint8_t* bitmap, std::ptrdiff_t bitmapStride) {
  for (int row = 0; row < height; row += 2) {
    const std::uint8_t* y0 = planes.y + row * planes.yStride;
    const bool pair = row + 1 < height;
    const std::uint8_t* cb = planes.cb + (row >> 1) * planes.cStride;
    const std::uint8_t* cr = planes.cr + (row >> 1) * planes.cStride;
    std::uint8_t* out0 = bitmap + (height - 1 - row) * bitmapStride;
    std::uint8_t* out1 = pair ? out0 - bitmapStride : nullptr;
    dsp.convertRowPair(y0, pair ? y0 + planes.yStride : nullptr, cb, cr, width, out0, out1);
  }
}

}  // namespace calvex::video_decoder
