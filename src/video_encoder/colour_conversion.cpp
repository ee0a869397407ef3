#include "video_encoder/colour_conversion.h"

#include <algorithm>
#include <cstring>

#include "core/bitmap.h"

namespace calvex::video {

namespace {

// Samples before a chroma line, and after its width16 samples, that the row filter reads.
constexpr int kLeftPad = 16;
constexpr int kRightPad = 16;

}  // namespace

ColourConverter::ColourConverter(const Kernels& kernels, const PictureGeometry& geometry)
    : k_(kernels), g_(geometry) {
  const std::size_t line = static_cast<std::size_t>(kLeftPad + g_.width16 + kRightPad);
  cbLine_.assign(line, 0);
  crLine_.assign(line, 0);
  cbHalf_.Allocate(g_.chromaWidth(), g_.height);
  crHalf_.Allocate(g_.chromaWidth(), g_.height);
}

// Border extension and clamped filter taps come to the same: the padding columns and rows repeat
// the last real ones, so each chroma line is filtered with its first sample repeated to the left
// and its last real one to the right, and the column filter takes the last real row for every
// row below it.
void ColourConverter::Convert(const std::uint8_t* bitmap, PictureBuffer& dst) {
  const int stride = BitmapStride(g_.width, 24);
  const int chromaWidth = g_.chromaWidth();
  std::uint8_t* cb = cbLine_.data() + kLeftPad;
  std::uint8_t* cr = crLine_.data() + kLeftPad;
  for (int y = 0; y < g_.height; ++y) {
    const std::uint8_t* src = bitmap + static_cast<std::ptrdiff_t>(g_.height - 1 - y) * stride;
    std::uint8_t* luma = dst.y.Row(y);
    k_.convertRow(src, g_.width, luma, cb, cr);
    std::memset(luma + g_.width, luma[g_.width - 1],
                static_cast<std::size_t>(g_.width16 - g_.width));
    for (std::uint8_t* line : {cb, cr}) {
      std::memset(line - kLeftPad, line[0], kLeftPad);
      std::memset(line + g_.width, line[g_.width - 1],
                  static_cast<std::size_t>(g_.width16 - g_.width + kRightPad));
    }
    k_.filterRow(cb, chromaWidth, cbHalf_.Row(y));
    k_.filterRow(cr, chromaWidth, crHalf_.Row(y));
  }
  for (int y = g_.height; y < g_.height16; ++y)
    std::memcpy(dst.y.Row(y), dst.y.Row(g_.height - 1), static_cast<std::size_t>(g_.width16));
  k_.filterColumns(cbHalf_.pixels.data(), chromaWidth, g_.height, dst.cb.pixels.data(),
                   g_.chromaHeight());
  k_.filterColumns(crHalf_.pixels.data(), chromaWidth, g_.height, dst.cr.pixels.data(),
                   g_.chromaHeight());
}

}  // namespace calvex::video
