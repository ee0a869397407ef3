#include "video_encoder/colour_conversion.h"

#include <algorithm>
#include <cstring>

#include "engine/bitmap.h"

namespace calvex::video {

ColourConverter::ColourConverter(const Kernels& kernels, const PictureGeometry& geometry)
    : k_(kernels), g_(geometry) {
  cbFull_.Allocate(g_.width16, g_.height16);
  crFull_.Allocate(g_.width16, g_.height16);
  cbHalf_.Allocate(g_.width16 / 2, g_.height16);
  crHalf_.Allocate(g_.width16 / 2, g_.height16);
}

void ExtendBorders(Plane& p, int width, int height) {
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = p.Row(y);
    std::fill(row + width, row + p.width, row[width - 1]);
  }
  for (int y = height; y < p.height; ++y) std::memcpy(p.Row(y), p.Row(height - 1), p.width);
}

void ColourConverter::Convert(const std::uint8_t* bitmap, PictureBuffer& dst) {
  const int stride = BitmapStride(g_.width, 24);
  for (int y = 0; y < g_.height; ++y) {
    const std::uint8_t* src = bitmap + static_cast<std::ptrdiff_t>(g_.height - 1 - y) * stride;
    k_.convertRow(src, g_.width, dst.y.Row(y), cbFull_.Row(y), crFull_.Row(y));
  }
  ExtendBorders(dst.y, g_.width, g_.height);
  ExtendBorders(cbFull_, g_.width, g_.height);
  ExtendBorders(crFull_, g_.width, g_.height);
  for (int y = 0; y < g_.height16; ++y) {
    k_.filterRow(cbFull_.Row(y), g_.width16, cbHalf_.Row(y), g_.width16 / 2);
    k_.filterRow(crFull_.Row(y), g_.width16, crHalf_.Row(y), g_.width16 / 2);
  }
  k_.filterColumns(cbHalf_.pixels.data(), g_.width16 / 2, g_.height16, dst.cb.pixels.data(),
                   g_.height16 / 2);
  k_.filterColumns(crHalf_.pixels.data(), g_.width16 / 2, g_.height16, dst.cr.pixels.data(),
                   g_.height16 / 2);
}

}  // namespace calvex::video
