// Colour conversion, border extension and the chroma filters.
#include "video_encoder/colour_conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>

#include "core/bitmap.h"
#include "video_encoder/kernels_common.h"

namespace calvex::video {
namespace {

TEST(ColourConversion, KnownColours) {
  const ColourSample white = ConvertPixel(255, 255, 255);
  EXPECT_EQ(white.y, 234);
  EXPECT_EQ(white.cb, 128);
  EXPECT_EQ(white.cr, 128);
  const ColourSample black = ConvertPixel(0, 0, 0);
  EXPECT_EQ(black.y, 16);
  EXPECT_EQ(black.cb, 128);
  EXPECT_EQ(black.cr, 128);
  const ColourSample red = ConvertPixel(255, 0, 0);
  EXPECT_EQ(red.y, 81);
  EXPECT_EQ(red.cb, 90);
  EXPECT_EQ(red.cr, 240);
}

// A 328 x 248 bitmap: left half red, right half blue, bottom row green. The padded planes are
// 336 x 256 and repeat the last real column and row.
TEST(ColourConversion, PadsToWholeMacroblocksAndReadsBottomUp) {
  const int w = 328, h = 248;
  const PictureGeometry g = PictureGeometry::For(w, h);
  EXPECT_EQ(g.width16, 336);
  EXPECT_EQ(g.height16, 256);
  const int stride = BitmapStride(w, 24);
  std::vector<std::uint8_t> bitmap(static_cast<std::size_t>(stride) * h);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = bitmap.data() + static_cast<std::size_t>(h - 1 - y) * stride;
    for (int x = 0; x < w; ++x) {
      std::uint8_t* px = row + 3 * x;  // blue, green, red
      if (y == h - 1) {
        px[0] = 0, px[1] = 255, px[2] = 0;
      } else if (x < w / 2) {
        px[0] = 0, px[1] = 0, px[2] = 255;
      } else {
        px[0] = 255, px[1] = 0, px[2] = 0;
      }
    }
  }
  for (const Kernels* k : {&ReferenceKernels(), &KernelsForCpu()}) {
    PictureBuffer out;
    out.Allocate(g);
    ColourConverter(*k, g).Convert(bitmap.data(), out);
    const std::uint8_t red = ConvertPixel(255, 0, 0).y, blue = ConvertPixel(0, 0, 255).y;
    const std::uint8_t green = ConvertPixel(0, 255, 0).y;
    EXPECT_EQ(out.y.Row(0)[0], red) << k->name;
    EXPECT_EQ(out.y.Row(0)[w - 1], blue);
    for (int x = w; x < g.width16; ++x) EXPECT_EQ(out.y.Row(10)[x], blue) << x;
    for (int y = h - 1; y < g.height16; ++y) EXPECT_EQ(out.y.Row(y)[5], green) << y;
    // Chroma far from the edges is the plain colour; the filter is flat there.
    EXPECT_EQ(out.cr.Row(20)[10], ConvertPixel(255, 0, 0).cr);
    EXPECT_EQ(out.cb.Row(20)[g.chromaWidth() - 1], ConvertPixel(0, 0, 255).cb);
  }
}

// The conversion as written out in full: every pixel converted, the planes extended to whole
// macroblocks, then the clamped filters along the rows and down the columns.
PictureBuffer ConvertPlainly(const std::uint8_t* bitmap, const PictureGeometry& g) {
  PictureBuffer out;
  out.Allocate(g);
  Plane cb, cr;
  cb.Allocate(g.width16, g.height16);
  cr.Allocate(g.width16, g.height16);
  const int stride = BitmapStride(g.width, 24);
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width; ++x) {
      const std::uint8_t* px = bitmap + (g.height - 1 - y) * stride + 3 * x;
      const ColourSample c = ConvertPixel(px[2], px[1], px[0]);
      out.y.Row(y)[x] = c.y;
      cb.Row(y)[x] = c.cb;
      cr.Row(y)[x] = c.cr;
    }
  for (Plane* p : {&out.y, &cb, &cr}) {
    for (int y = 0; y < g.height; ++y)
      for (int x = g.width; x < g.width16; ++x) p->Row(y)[x] = p->Row(y)[g.width - 1];
    for (int y = g.height; y < g.height16; ++y)
      std::copy_n(p->Row(g.height - 1), g.width16, p->Row(y));
  }
  for (const auto& [full, half] : {std::pair{&cb, &out.cb}, {&cr, &out.cr}}) {
    Plane rows;
    rows.Allocate(g.chromaWidth(), g.height16);
    for (int y = 0; y < g.height16; ++y)
      for (int x = 0; x < g.chromaWidth(); ++x)
        rows.Row(y)[x] = ClampedChromaTap(full->Row(y), 1, g.width16, 2 * x);
    for (int y = 0; y < g.chromaHeight(); ++y)
      for (int x = 0; x < g.chromaWidth(); ++x)
        half->Row(y)[x] = ClampedChromaTap(rows.Row(0) + x, rows.width, g.height16, 2 * y);
  }
  return out;
}

TEST(ColourConversion, MatchesThePlainConversionAtAnySize) {
  std::mt19937 rng(3);
  for (const auto& [w, h] :
       {std::pair{16, 16}, {18, 2}, {2, 18}, {328, 248}, {200, 136}, {352, 240}, {34, 30}}) {
    const PictureGeometry g = PictureGeometry::For(w, h);
    std::vector<std::uint8_t> bitmap(static_cast<std::size_t>(BitmapStride(w, 24)) * h);
    // Smooth areas, hard edges and noise, so that the filters' clipping is reached.
    for (std::size_t i = 0; i < bitmap.size(); ++i)
      bitmap[i] = static_cast<std::uint8_t>(i % 97 < 40 ? (i % 3) * 120 : rng());
    const PictureBuffer expected = ConvertPlainly(bitmap.data(), g);
    for (const Kernels* k : {&ReferenceKernels(), &Sse2Kernels(), &KernelsForCpu()}) {
      PictureBuffer out;
      out.Allocate(g);
      ColourConverter converter(*k, g);
      converter.Convert(bitmap.data(), out);
      EXPECT_EQ(out.y.pixels, expected.y.pixels) << k->name << " " << w << "x" << h;
      EXPECT_EQ(out.cb.pixels, expected.cb.pixels) << k->name << " " << w << "x" << h;
      EXPECT_EQ(out.cr.pixels, expected.cr.pixels) << k->name << " " << w << "x" << h;
    }
  }
}

TEST(ColourConversion, ChromaFilterTakesEdgeSamplesOutsideTheLine) {
  // A step at the very start: the first output sees the edge sample for taps left of 0.
  std::vector<std::uint8_t> line(32, 100);
  line[0] = 200;
  auto filter = [](const std::vector<std::uint8_t>& l, int i) {
    return ClampedChromaTap(l.data(), 1, static_cast<int>(l.size()), i);
  };
  // taps -5..0 all read 200 (weights 5 + 11 - 21 - 37 + 70 + 228 = 256), taps 1..6 read 100.
  EXPECT_EQ(filter(line, 0), (256 * 200 + 256 * 100 + 256) >> 9);
  EXPECT_EQ(filter(line, 30), 100);
  // Flat input stays flat (the weights sum to 512).
  const std::vector<std::uint8_t> flat(32, 77);
  for (int i = 0; i < 32; i += 2) EXPECT_EQ(filter(flat, i), 77);
  // Overshoot near black and white is clipped.
  std::vector<std::uint8_t> edge(32, 0);
  for (int i = 16; i < 32; ++i) edge[i] = 255;
  EXPECT_EQ(filter(edge, 12), 0);  // 37 x 255 + 21 x 255 of negative lobe on an all-black centre
  EXPECT_EQ(filter(edge, 18), 255);
}

}  // namespace
}  // namespace calvex::video
