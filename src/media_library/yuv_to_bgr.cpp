#include "media_library/yuv_to_bgr.h"

#include <cstring>

#include "core/bitmap.h"

namespace calvex::media::detail {
namespace {

// Offset of the luma index for chroma value v with step `inc` (16.16 luma steps per chroma
// step), centred on 128: (v x inc >> 16) - (inc >> 9), both shifts rounding down.
std::int16_t ChromaOffset(int v, std::int64_t inc) {
  return static_cast<std::int16_t>(((v * inc) >> 16) - (inc >> 9));
}

YuvRowToBgrFn RowFunction(int chromaShiftX) {
  static const YuvRowToBgrFn avx512 = YuvRowToBgrAvx512();
  static const YuvRowToBgrFn fastest = avx512 != nullptr ? avx512 : YuvRowToBgrAvx2();
  return chromaShiftX == 1 ? fastest : nullptr;
}

}  // namespace

YuvToBgrTables YuvToBgrTables::For(const int coefficients[4], bool fullRange) {
  std::int64_t crv = coefficients[0];
  std::int64_t cbu = coefficients[1];
  std::int64_t cgu = -static_cast<std::int64_t>(coefficients[2]);
  std::int64_t cgv = -static_cast<std::int64_t>(coefficients[3]);
  std::int64_t cy = 1 << 16;
  std::int64_t oy = 0;
  if (fullRange) {
    // The chroma of a full-range picture spans 0..255 instead of 16..240.
    crv = crv * 224 / 255;
    cbu = cbu * 224 / 255;
    cgu = cgu * 224 / 255;
    cgv = cgv * 224 / 255;
  } else {
    cy = cy * 255 / 219;
    oy = 16 << 16;
  }
  // Chroma steps measured in luma steps.
  crv = ((crv << 16) + 0x8000) / cy;
  cbu = ((cbu << 16) + 0x8000) / cy;
  cgu = ((cgu << 16) + 0x8000) / cy;
  cgv = ((cgv << 16) + 0x8000) / cy;

  YuvToBgrTables t;
  t.steps = {static_cast<std::int32_t>(crv), static_cast<std::int32_t>(cbu),
             static_cast<std::int32_t>(cgu), static_cast<std::int32_t>(cgv)};
  for (int v = 0; v < 256; ++v) {
    t.red[static_cast<std::size_t>(v)] = ChromaOffset(v, crv);
    t.blue[static_cast<std::size_t>(v)] = ChromaOffset(v, cbu);
    t.greenByCb[static_cast<std::size_t>(v)] = ChromaOffset(v, cgu);
    t.greenByCr[static_cast<std::size_t>(v)] = ChromaOffset(v, cgv);
  }
  const std::int64_t yoffs = fullRange ? 384 : 326;
  t.lumaScale = static_cast<std::int32_t>(cy);
  t.bias = static_cast<std::int32_t>(yoffs * cy - (384 << 16) - oy + 0x8000);
  return t;
}

bool YuvToBgrTakes(int width, int height, int chromaShiftX, int chromaShiftY) {
  return width > 0 && height > 0 && width % 2 == 0 && height % 2 == 0 &&
         (chromaShiftX == 1 || chromaShiftX == 2) && (chromaShiftY == 0 || chromaShiftY == 1);
}

void YuvRowToBgrPlain(const YuvToBgrTables& t, const std::uint8_t* y, const std::uint8_t* cb,
                      const std::uint8_t* cr, int width, int chromaShiftX, std::uint8_t* bgr) {
  for (int x = 0; x < width; ++x) {
    const int u = cb[x >> chromaShiftX], v = cr[x >> chromaShiftX];
    const int luma = y[x];
    bgr[3 * x] = t.Value(luma + t.blue[static_cast<std::size_t>(u)]);
    bgr[3 * x + 1] = t.Value(luma + t.greenByCb[static_cast<std::size_t>(u)] +
                             t.greenByCr[static_cast<std::size_t>(v)]);
    bgr[3 * x + 2] = t.Value(luma + t.red[static_cast<std::size_t>(v)]);
  }
}

void YuvToBottomUpBgr(const YuvToBgrTables& t, const YuvPlanes& in, int width, int height,
                      std::uint8_t* bits) {
  const int stride = BitmapStride(width, 24);
  const YuvRowToBgrFn fast = RowFunction(in.chromaShiftX);
  for (int row = 0; row < height; ++row) {
    const int c = row >> in.chromaShiftY;
    const std::uint8_t* y = in.y + static_cast<std::ptrdiff_t>(row) * in.yStride;
    const std::uint8_t* cb = in.cb + static_cast<std::ptrdiff_t>(c) * in.cbStride;
    const std::uint8_t* cr = in.cr + static_cast<std::ptrdiff_t>(c) * in.crStride;
    std::uint8_t* out = bits + static_cast<std::ptrdiff_t>(height - 1 - row) * stride;
    if (fast)
      fast(t, y, cb, cr, width, out);
    else
      YuvRowToBgrPlain(t, y, cb, cr, width, in.chromaShiftX, out);
    // Equal pictures give equal buffers: the row padding is zero.
    std::memset(out + 3 * width, 0, static_cast<std::size_t>(stride - 3 * width));
  }
}

}  // namespace calvex::media::detail
