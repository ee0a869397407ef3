// Same-size 8-bit planar YUV into the 24-bit bottom-up bitmaps the encoder reads, without swscale:
// the picture converter's own path for the pictures most AVIs decode to (4:2:0 and 4:2:2 from
// Motion JPEG, DV, MPEG-4 and raw I420; also 4:1:1 and 4:1:0). Internal to the media layer.
//
// It computes exactly what swscale's point sampler with accurate rounding writes for these
// pictures (the same bytes, so that converting through either gives the same MPEG file): each
// pixel takes the chroma sample that covers it, and each component is one step of swscale's
// 24-bit lookup: value(i) = clip((i x cy - (384 << 16) - oy + 0x8000) >> 16) at the index
// i = Y + yoffs + the chroma's offset, with the matrix and range worked into cy, oy, yoffs and
// the offsets as swscale works them in. Only even sizes: at odd widths swscale interpolates the
// chroma of every pixel instead.
#pragma once

#include <array>
#include <cstdint>

namespace calvex::media::detail {

// The lookup for one matrix and range.
struct YuvToBgrTables {
  // Offsets of the luma index by chroma value: red by Cr, blue by Cb, green by both.
  std::array<std::int16_t, 256> red{}, greenByCb{}, greenByCr{}, blue{};
  // The same as steps: offset(v) = (v x step >> 16) - (step >> 9), for Cr to red, Cb to blue,
  // Cb to green and Cr to green.
  std::array<std::int32_t, 4> steps{};
  std::int32_t lumaScale = 0;  // cy
  std::int32_t bias = 0;       // yoffs x cy - (384 << 16) - oy + 0x8000

  // `coefficients`: swscale's four matrix coefficients (sws_getCoefficients: Cr to red, Cb to
  // blue, Cb to green, Cr to green, each 16.16); `fullRange` for JPEG-range sources.
  static YuvToBgrTables For(const int coefficients[4], bool fullRange);

  std::uint8_t Value(int index) const {
    const std::int64_t v = (static_cast<std::int64_t>(index) * lumaScale + bias) >> 16;
    return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
  }
};

// A planar picture: three planes, chroma subsampled by 1 << chromaShiftX across (1 or 2) and
// 1 << chromaShiftY down (0 or 1).
struct YuvPlanes {
  const std::uint8_t* y = nullptr;
  const std::uint8_t* cb = nullptr;
  const std::uint8_t* cr = nullptr;
  int yStride = 0, cbStride = 0, crStride = 0;
  int chromaShiftX = 1, chromaShiftY = 1;
};

// Whether the fast path takes a picture of this shape (even sizes, the shifts above).
bool YuvToBgrTakes(int width, int height, int chromaShiftX, int chromaShiftY);

// Writes width x height pixels into `bits` (rows padded to 4 bytes with zeros, the last row of
// memory the top of the picture).
void YuvToBottomUpBgr(const YuvToBgrTables& t, const YuvPlanes& in, int width, int height,
                      std::uint8_t* bits);

// One row of pixels in pairs sharing a chroma sample (`width` even), plainly; exposed for the
// test of the vector version.
void YuvRowToBgrPlain(const YuvToBgrTables& t, const std::uint8_t* y, const std::uint8_t* cb,
                      const std::uint8_t* cr, int width, int chromaShiftX, std::uint8_t* bgr);

// The same for chromaShiftX 1 with AVX2; nullptr without it.
using YuvRowToBgrFn = void (*)(const YuvToBgrTables&, const std::uint8_t*, const std::uint8_t*,
                               const std::uint8_t*, int, std::uint8_t*);
YuvRowToBgrFn YuvRowToBgrAvx2();
// The same with AVX-512 (BW, VBMI), quicker for full-range rows; nullptr without it.
YuvRowToBgrFn YuvRowToBgrAvx512();

}  // namespace calvex::media::detail
