// The SSE2 and AVX2 kernels against the plain references, on random input and at plane edges.
#include "video_encoder/kernels.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "video_encoder/picture.h"

namespace calvex::video {
namespace {

std::vector<const Kernels*> FastKernels() {
  std::vector<const Kernels*> k{&Sse2Kernels()};
  if (const Kernels* a = Avx2Kernels()) k.push_back(a);
  return k;
}

// A plane whose allocation ends exactly at its last sample, so that reading past a block's
// samples is caught by AddressSanitizer.
struct TightPlane {
  int width, height;
  std::vector<std::uint8_t> data;
  TightPlane(int w, int h, std::mt19937& rng, int spread = 256)
      : width(w), height(h), data(static_cast<std::size_t>(w) * h) {
    const int base = (256 - spread) / 2;
    for (auto& v : data)
      v = static_cast<std::uint8_t>(base + static_cast<int>(rng() % static_cast<unsigned>(spread)));
  }
  const std::uint8_t* At(int x, int y) const {
    return data.data() + static_cast<std::size_t>(y) * width + x;
  }
};

TEST(Kernels, DistancesMatchTheReference) {
  std::mt19937 rng(42);
  const Kernels& ref = ReferenceKernels();
  for (int round = 0; round < 300; ++round) {
    const int w = 16 * (2 + static_cast<int>(rng() % 3)),
              h = 16 * (2 + static_cast<int>(rng() % 2));
    const int spread = round % 3 == 0 ? 8 : 256;  // near-identical pictures hit the limits
    TightPlane cur(w, h, rng, spread), refp(w, h, rng, spread);
    const int cx = static_cast<int>(rng() % static_cast<unsigned>(w - 15));
    const int cy = static_cast<int>(rng() % static_cast<unsigned>(h - 15));
    // Reference positions include the last possible one (the plane's bottom-right corner).
    const int hx = static_cast<int>(rng() % 2), hy = static_cast<int>(rng() % 2);
    const int rx =
        round % 5 == 0 ? w - 16 - hx : static_cast<int>(rng() % static_cast<unsigned>(w - 16));
    const int ry =
        round % 5 == 0 ? h - 16 - hy : static_cast<int>(rng() % static_cast<unsigned>(h - 16));
    const std::uint8_t* c = cur.At(cx, cy);
    const std::uint8_t* r = refp.At(rx, ry);
    const int limit = static_cast<int>(rng() % 20000);
    for (const Kernels* k : FastKernels()) {
      const int full = ref.sadFullPel(c, refp.At(rx + hx, ry + hy), w, 65536);
      EXPECT_EQ(k->sadFullPel(c, refp.At(rx + hx, ry + hy), w, 65536), full) << k->name;
      // Below the limit the exact value; otherwise anything at or above it.
      const int limited = k->sadFullPel(c, refp.At(rx + hx, ry + hy), w, limit);
      if (full < limit)
        EXPECT_EQ(limited, full) << k->name;
      else
        EXPECT_GE(limited, limit) << k->name;
      EXPECT_EQ(k->sadHalfPel(c, r, w, hx, hy), ref.sadHalfPel(c, r, w, hx, hy)) << k->name;
      EXPECT_EQ(k->sseHalfPel(c, r, w, hx, hy), ref.sseHalfPel(c, r, w, hx, hy)) << k->name;
      const int hx2 = static_cast<int>(rng() % 2), hy2 = static_cast<int>(rng() % 2);
      const std::uint8_t* r2 = refp.At(w - 16 - hx2, h - 16 - hy2);
      EXPECT_EQ(k->sseBidirectional(c, r, hx, hy, r2, hx2, hy2, w),
                ref.sseBidirectional(c, r, hx, hy, r2, hx2, hy2, w))
          << k->name;
    }
  }
}

TEST(Kernels, PredictionAverageAndSumsMatchTheReference) {
  std::mt19937 rng(7);
  const Kernels& ref = ReferenceKernels();
  for (int round = 0; round < 200; ++round) {
    const int size = round % 2 ? 16 : 8;
    const int w = size * 3, h = size * 3;
    TightPlane src(w, h, rng);
    const int hx = static_cast<int>(rng() % 2), hy = static_cast<int>(rng() % 2);
    const int x = round % 4 == 0 ? w - size - hx
                                 : static_cast<int>(rng() % static_cast<unsigned>(w - size - 1));
    const int y = round % 4 == 0 ? h - size - hy
                                 : static_cast<int>(rng() % static_cast<unsigned>(h - size - 1));
    std::vector<std::uint8_t> expected(static_cast<std::size_t>(size) * size);
    ref.predict(expected.data(), size, src.At(x, y), w, size, hx, hy);
    int s = 0, s2 = 0;
    ref.blockSums(src.At(w - size, h - size), w, size, &s, &s2);
    for (const Kernels* k : FastKernels()) {
      std::vector<std::uint8_t> got(expected.size());
      k->predict(got.data(), size, src.At(x, y), w, size, hx, hy);
      EXPECT_EQ(got, expected) << k->name;
      std::vector<std::uint8_t> a = got, b = got;
      ref.average(a.data(), src.At(0, 0), size, size);
      k->average(b.data(), src.At(0, 0), size, size);
      EXPECT_EQ(a, b) << k->name;
      int ks = 0, ks2 = 0;
      k->blockSums(src.At(w - size, h - size), w, size, &ks, &ks2);
      EXPECT_EQ(ks, s);
      EXPECT_EQ(ks2, s2);
    }
  }
}

TEST(Kernels, ForwardDctMatchesTheReference) {
  std::mt19937 rng(11);
  for (int round = 0; round < 2000; ++round) {
    Block input;
    const int range = round % 4 == 0 ? 4 : 256;  // small differences land near the rounding points
    for (auto& v : input)
      v = static_cast<std::int16_t>(static_cast<int>(rng() % (2 * range)) - range);
    if (round == 0) input.fill(255);
    if (round == 1) input.fill(-256);
    Block expected = input;
    ReferenceKernels().forwardDct(expected.data());
    for (const Kernels* k : FastKernels()) {
      Block got = input;
      k->forwardDct(got.data());
      EXPECT_EQ(got, expected) << k->name << " round " << round;
    }
  }
}

TEST(Kernels, ColourConversionAndFiltersMatchTheReference) {
  std::mt19937 rng(5);
  const Kernels& ref = ReferenceKernels();
  for (int count : {1, 2, 3, 17, 64, 333}) {
    std::vector<std::uint8_t> bgr(3 * static_cast<std::size_t>(count));
    for (auto& v : bgr) v = static_cast<std::uint8_t>(rng());
    if (count > 2) bgr[0] = bgr[1] = bgr[2] = 255;
    std::vector<std::uint8_t> y(static_cast<std::size_t>(count)), cb(y.size()), cr(y.size());
    ref.convertRow(bgr.data(), count, y.data(), cb.data(), cr.data());
    for (const Kernels* k : FastKernels()) {
      std::vector<std::uint8_t> y2(y.size()), cb2(y.size()), cr2(y.size());
      k->convertRow(bgr.data(), count, y2.data(), cb2.data(), cr2.data());
      EXPECT_EQ(y2, y) << k->name;
      EXPECT_EQ(cb2, cb);
      EXPECT_EQ(cr2, cr);
    }
  }
  for (int width : {16, 32, 48, 176, 240}) {
    const int rows = 32;
    TightPlane src(width, rows, rng);
    std::vector<std::uint8_t> h(static_cast<std::size_t>(width / 2) * rows),
        v(static_cast<std::size_t>(width) * rows / 2);
    for (int r = 0; r < rows; ++r)
      ref.filterRow(src.At(0, r), width, h.data() + r * (width / 2), width / 2);
    ref.filterColumns(src.data.data(), width, rows, v.data(), rows / 2);
    for (const Kernels* k : FastKernels()) {
      std::vector<std::uint8_t> h2(h.size()), v2(v.size());
      for (int r = 0; r < rows; ++r)
        k->filterRow(src.At(0, r), width, h2.data() + r * (width / 2), width / 2);
      k->filterColumns(src.data.data(), width, rows, v2.data(), rows / 2);
      EXPECT_EQ(h2, h) << k->name << " width " << width;
      EXPECT_EQ(v2, v) << k->name << " width " << width;
    }
  }
}

}  // namespace
}  // namespace calvex::video
