// The SSE2, AVX2 and AVX-512 kernels against the plain references, on random input and at plane
// edges.
#include "video_encoder/kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <random>
#include <vector>

#include "video_encoder/encoder_test_support.h"
#include "video_encoder/kernels_common.h"
#include "video_encoder/picture.h"

namespace calvex::video {
namespace {

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

// Window searches with every window size, ties (near-flat pictures) and ranks in any order.
TEST(Kernels, WindowSearchMatchesTheReference) {
  std::mt19937 rng(42);
  const Kernels& ref = ReferenceKernels();
  for (int round = 0; round < 400; ++round) {
    const int cols = 1 + static_cast<int>(rng() % kMaxSearchWindow);
    const int rows = 1 + static_cast<int>(rng() % kMaxSearchWindow);
    const int spread = round % 4 == 0 ? 1 : (round % 4 == 1 ? 6 : 256);
    // The reference is exactly as large as the kernel may read, so that ASan sees overreads.
    TightPlane cur(16, 16, rng, spread), window(SearchReadWidth(cols), rows + 15, rng, spread);
    std::vector<std::uint16_t> rank(kRankStride * (kMaxSearchWindow + 1));
    std::vector<std::uint16_t> order(static_cast<std::size_t>(cols) * rows);
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint16_t>(i);
    std::shuffle(order.begin(), order.end(), rng);
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < cols; ++x)
        rank[static_cast<std::size_t>(y * kRankStride + x)] =
            order[static_cast<std::size_t>(y * cols + x)];
    const std::uint32_t expected =
        ref.searchWindow(cur.At(0, 0), 16, window.At(0, 0), window.width, cols, rows, rank.data());
    for (const Kernels* k : testing::VectorKernels())
      EXPECT_EQ(
          k->searchWindow(cur.At(0, 0), 16, window.At(0, 0), window.width, cols, rows, rank.data()),
          expected)
          << k->name << " " << cols << "x" << rows << " spread " << spread;
  }
}

TEST(Kernels, DistancesMatchTheReference) {
  std::mt19937 rng(43);
  const Kernels& ref = ReferenceKernels();
  for (int round = 0; round < 300; ++round) {
    const int w = 16 * (1 + static_cast<int>(rng() % 3)), h = 16 + static_cast<int>(rng() % 8);
    const int spread = round % 3 == 0 ? 8 : 256;
    TightPlane a(w, h, rng, spread), b(w, h, rng, spread), c(w, h, rng, spread);
    // Blocks anywhere, including the last one of the plane.
    auto pick = [&](const TightPlane& p) {
      if (round % 5 == 0) return p.At(w - 16, h - 16);
      return p.At(static_cast<int>(rng() % static_cast<unsigned>(w - 15)),
                  static_cast<int>(rng() % static_cast<unsigned>(h - 15)));
    };
    const std::uint8_t *pa = pick(a), *pb = pick(b), *pc = pick(c);
    // SADs against up to nine blocks of either plane, the block itself among them.
    const int count = 1 + round % kMaxSadBlocks;
    const std::uint8_t* blocks[kMaxSadBlocks];
    for (int i = 0; i < count; ++i) blocks[i] = i == 3 ? pa : pick(i % 2 ? b : c);
    int expected[kMaxSadBlocks];
    ref.sad16Blocks(pa, blocks, count, w, expected);
    for (const Kernels* k : testing::VectorKernels()) {
      int got[kMaxSadBlocks];
      std::fill_n(got, kMaxSadBlocks, -1);
      k->sad16Blocks(pa, blocks, count, w, got);
      for (int i = 0; i < kMaxSadBlocks; ++i)
        EXPECT_EQ(got[i], i < count ? expected[i] : -1) << k->name << " block " << i;
      EXPECT_EQ(k->sse16(pa, pb, w), ref.sse16(pa, pb, w)) << k->name;
      EXPECT_EQ(k->sseAverage16(pa, pb, pc, w), ref.sseAverage16(pa, pb, pc, w)) << k->name;
    }
  }
}

TEST(Kernels, HalfPelRowsMatchTheReference) {
  std::mt19937 rng(44);
  const Kernels& ref = ReferenceKernels();
  for (int width = 1; width <= 100; ++width) {
    TightPlane src(width, 2, rng);
    for (bool last : {false, true}) {
      const std::uint8_t* q = last ? nullptr : src.At(0, 1);
      std::vector<std::uint8_t> h(static_cast<std::size_t>(width), 7), v = h, hv = h;
      ref.halfPelRow(src.At(0, 0), q, width, h.data(), v.data(), hv.data());
      for (const Kernels* k : testing::VectorKernels()) {
        std::vector<std::uint8_t> h2(h.size(), 7), v2 = h2, hv2 = h2;
        k->halfPelRow(src.At(0, 0), q, width, h2.data(), v2.data(), hv2.data());
        EXPECT_EQ(h2, h) << k->name << " width " << width;
        EXPECT_EQ(v2, v) << k->name << " width " << width;
        EXPECT_EQ(hv2, hv) << k->name << " width " << width;
      }
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
    int s[4], s2[4];
    ref.blockSums(src.At(w - 16, h - 16), w, s, s2);
    for (const Kernels* k : testing::VectorKernels()) {
      std::vector<std::uint8_t> got(expected.size());
      k->predict(got.data(), size, src.At(x, y), w, size, hx, hy);
      EXPECT_EQ(got, expected) << k->name;
      std::vector<std::uint8_t> a = got, b = got;
      ref.average(a.data(), size, src.At(w - size, h - size), w, size);
      k->average(b.data(), size, src.At(w - size, h - size), w, size);
      EXPECT_EQ(a, b) << k->name;
      int ks[4], ks2[4];
      k->blockSums(src.At(w - 16, h - 16), w, ks, ks2);
      for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(ks[i], s[i]) << k->name;
        EXPECT_EQ(ks2[i], s2[i]) << k->name;
      }
    }
  }
}

TEST(Kernels, SubtractBlockMatchesTheReference) {
  std::mt19937 rng(12);
  for (int round = 0; round < 50; ++round) {
    TightPlane src(8 + round % 9, 8, rng), pred(src.width, 8, rng);
    const int x = src.width - 8;
    Block expected, got;
    ReferenceKernels().subtractBlock(src.At(x, 0), pred.At(x, 0), src.width, expected.data());
    for (const Kernels* k : testing::VectorKernels()) {
      k->subtractBlock(src.At(x, 0), pred.At(x, 0), src.width, got.data());
      EXPECT_EQ(got, expected) << k->name;
    }
  }
}

// Sparse blocks, (place, value) pairs, whose coefficients sit at or next to the points where the
// rounding steps: halves (1e-6 away, as flat areas give) and sums found within 2e-10 of them.
constexpr int kNearRoundingPoints[][6] = {
    {0, 4, 0, 0, 0, 0},       {0, 4, 63, 4, 0, 0},      {0, 132, 9, -55, 18, 29},
    {0, 132, 9, 55, 18, -29}, {0, 132, 1, -55, 10, 29}, {0, 132, 1, -55, 10, -29},
    {0, -193, 1, 5, 63, 0},   {0, 5, 1, 193, 8, 0},
};

TEST(Kernels, ForwardDctsMatchTheReference) {
  std::mt19937 rng(11);
  for (const auto& pairs : kNearRoundingPoints)
    for (int sign : {1, -1}) {
      Block input{};
      for (int i = 0; i < 6; i += 2)
        input[static_cast<std::size_t>(pairs[i])] += static_cast<std::int16_t>(sign * pairs[i + 1]);
      Block expected = input;
      ReferenceKernels().forwardDct(expected.data());
      for (const Kernels* k : testing::VectorKernels()) {
        Block got = input;
        k->forwardDct(got.data());
        EXPECT_EQ(got, expected) << k->name << " block " << pairs[1] << " " << pairs[3];
      }
    }
  for (int round = 0; round < 20000; ++round) {
    Block input;
    const int range = round % 4 == 0 ? 4 : 256;  // small differences land near the rounding points
    for (auto& v : input)
      v = static_cast<std::int16_t>(static_cast<int>(rng() % (2 * range)) - range);
    if (round == 0) input.fill(255);
    if (round == 1) input.fill(-256);
    if (round == 2) input.fill(0);
    // Rows or columns of zeros: their products are zeros of either sign.
    for (int line = 0; line < 8; ++line) {
      if (round % 3 == 1 && (rng() & 1))
        std::fill_n(input.begin() + 8 * line, 8, static_cast<std::int16_t>(0));
      if (round % 5 == 2 && (rng() & 1))
        for (int row = 0; row < 8; ++row) input[static_cast<std::size_t>(8 * row + line)] = 0;
    }
    Block expected = input;
    ReferenceKernels().forwardDct(expected.data());
    // The float DCT: the same on every kernel set, within 1 of the double one.
    Block expectedFloat = input;
    ReferenceKernels().forwardDctFloat(expectedFloat.data());
    for (std::size_t n = 0; n < 64; ++n)
      ASSERT_LE(std::abs(expectedFloat[n] - expected[n]), 1) << "round " << round;
    for (const Kernels* k : testing::VectorKernels()) {
      Block got = input;
      k->forwardDct(got.data());
      EXPECT_EQ(got, expected) << k->name << " round " << round;
      got = input;
      k->forwardDctFloat(got.data());
      EXPECT_EQ(got, expectedFloat) << k->name << " float, round " << round;
    }
  }
}

// Every quantiser against every 16-bit coefficient, at every place of the block.
TEST(Kernels, QuantisersMatchTheReferenceForEveryValue) {
  const Kernels& ref = ReferenceKernels();
  for (const Kernels* k : testing::VectorKernels())
    for (int mquant = 2; mquant <= 62; mquant += 2)
      for (int first = -32768; first < 32768; first += 64) {
        Block input;
        for (int n = 0; n < 64; ++n)  // each value visits a different raster index
          input[static_cast<std::size_t>((n + first / 64) & 63)] =
              static_cast<std::int16_t>(first + n);
        for (bool intra : {true, false}) {
          // Small values too, as the coefficients mostly are; the vector intra path needs them.
          Block small = input;
          for (auto& v : small) v = static_cast<std::int16_t>(v % 2047);
          for (const Block& b : {input, small}) {
            Block expected = b, got = b;
            const auto quantise = intra ? &Kernels::quantiseIntra : &Kernels::quantiseNonIntra;
            const std::uint64_t expectedMask = (ref.*quantise)(expected.data(), mquant);
            const std::uint64_t gotMask = (k->*quantise)(got.data(), mquant);
            ASSERT_EQ(got, expected)
                << k->name << " intra " << intra << " mquant " << mquant << " from " << first;
            ASSERT_EQ(gotMask, expectedMask) << k->name;
          }
        }
      }
}

// Blocks as the dequantisers leave them: sparse or dense, small or at the limits.
TEST(Kernels, InverseDctAndAddMatchTheReference) {
  std::mt19937 rng(13);
  const Kernels& ref = ReferenceKernels();
  for (int round = 0; round < 3000; ++round) {
    Block input{};
    const int range = round % 3 == 0 ? 2048 : (round % 3 == 1 ? 40 : 300);
    const int count = round % 4 == 0 ? 64 : 1 + static_cast<int>(rng() % 6);
    for (int i = 0; i < count; ++i)
      input[rng() % 64] = static_cast<std::int16_t>(static_cast<int>(rng() % (2 * range)) - range);
    if (round == 0) input.fill(2047);
    if (round == 1) input.fill(-2048);
    Block expected = input;
    ref.inverseDct(expected.data());
    TightPlane pred(8, 8, rng);
    std::vector<std::uint8_t> sum(64), sum2(64);
    ref.addBlock(pred.At(0, 0), expected.data(), 8, sum.data());
    for (const Kernels* k : testing::VectorKernels()) {
      Block got = input;
      k->inverseDct(got.data());
      ASSERT_EQ(got, expected) << k->name << " round " << round;
      k->addBlock(pred.At(0, 0), got.data(), 8, sum2.data());
      EXPECT_EQ(sum2, sum) << k->name;
    }
  }
}

// The vector conversions against the double-precision formula for every one of the 2^24
// colours, in rows of several lengths so that each lands on the vector loops, their tails and the
// rows shorter than a vector.
TEST(Kernels, ColourConversionIsExactForEveryColour) {
  constexpr int kRow = 4099;
  constexpr std::array<int, 9> kLengths = {kRow, 1, kRow - 1, 2, 17, kRow - 2, 3, 64, 333};
  std::vector<std::uint8_t> bgr(3 * kRow), y(kRow), cb(kRow), cr(kRow);
  std::vector<ColourSample> expected(kRow);
  int mismatches = 0;
  std::uint32_t first = 0;
  for (std::size_t row = 0; first < (1u << 24); ++row) {
    const int count = static_cast<int>(std::min<std::uint32_t>(
        static_cast<std::uint32_t>(kLengths[row % kLengths.size()]), (1u << 24) - first));
    for (int i = 0; i < count; ++i) {
      const std::uint32_t c = first + static_cast<std::uint32_t>(i);
      std::uint8_t* px = &bgr[3 * static_cast<std::size_t>(i)];
      px[0] = static_cast<std::uint8_t>(c);
      px[1] = static_cast<std::uint8_t>(c >> 8);
      px[2] = static_cast<std::uint8_t>(c >> 16);
      expected[static_cast<std::size_t>(i)] = ConvertPixel(px[2], px[1], px[0]);
    }
    for (const Kernels* k : testing::VectorKernels()) {
      k->convertRow(bgr.data(), count, y.data(), cb.data(), cr.data());
      for (std::size_t u = 0; u < static_cast<std::size_t>(count); ++u) {
        const ColourSample& e = expected[u];
        if ((y[u] != e.y || cb[u] != e.cb || cr[u] != e.cr) && ++mismatches <= 5)
          ADD_FAILURE() << k->name << " colour " << (first + u) << ": " << int{y[u]} << " "
                        << int{cb[u]} << " " << int{cr[u]};
      }
    }
    first += static_cast<std::uint32_t>(count);
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(Kernels, ChromaFiltersMatchTheReference) {
  std::mt19937 rng(5);
  const Kernels& ref = ReferenceKernels();
  for (int width = 1; width <= 80; ++width) {
    const int rows = 1 + width % 13;
    // The row filter reads 5 samples before and 4 after its 2 x width inputs.
    TightPlane line(2 * width + 10, 1, rng);
    std::vector<std::uint8_t> h(static_cast<std::size_t>(width));
    ref.filterRow(line.At(5, 0), width, h.data());
    TightPlane src(width, rows, rng);
    const int outRows = rows + 3;
    std::vector<std::uint8_t> v(static_cast<std::size_t>(width) * outRows);
    ref.filterColumns(src.data.data(), width, rows, v.data(), outRows);
    for (const Kernels* k : testing::VectorKernels()) {
      std::vector<std::uint8_t> h2(h.size()), v2(v.size());
      k->filterRow(line.At(5, 0), width, h2.data());
      k->filterColumns(src.data.data(), width, rows, v2.data(), outRows);
      EXPECT_EQ(h2, h) << k->name << " width " << width;
      EXPECT_EQ(v2, v) << k->name << " width " << width;
    }
  }
}

}  // namespace
}  // namespace calvex::video
