// Variable-length coding of coefficients and motion vectors, and the macroblock layer rules.
#include "video_encoder/macroblock_coding.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "video_encoder/encoder_test_support.h"

namespace calvex::video {
namespace {

using testing::MemorySink;

// The bits written by `write`, as a string of 0 and 1.
std::string Bits(const std::function<void(BitWriter&)>& write) {
  MemorySink sink;
  BitWriter w(sink);
  write(w);
  const int total = static_cast<int>(w.BitCount());
  w.Align();
  w.Flush();
  std::string s;
  for (int i = 0; i < total; ++i)
    s += (sink.bytes[static_cast<std::size_t>(i / 8)] >> (7 - i % 8)) & 1 ? '1' : '0';
  return s;
}

TEST(CoefficientCoding, EscapesLargeLevels) {
  EXPECT_EQ(Bits([](BitWriter& w) { WriteRunLevel(w, 3, 200, false); }),
            "000001"
            "000011"
            "00000000"
            "11001000");
  EXPECT_EQ(Bits([](BitWriter& w) { WriteRunLevel(w, 3, -200, false); }),
            "000001"
            "000011"
            "10000000"
            "00111000");
  EXPECT_EQ(Bits([](BitWriter& w) { WriteRunLevel(w, 0, -128, false); }),
            "000001"
            "000000"
            "10000000"
            "10000000");
  EXPECT_EQ(Bits([](BitWriter& w) { WriteRunLevel(w, 2, 127, false); }),
            "000001"
            "000010"
            "01111111");
  // Table codes: run 0 level 1 is "11s" in dct_coeff_next and "1s" as a first coefficient.
  EXPECT_EQ(Bits([](BitWriter& w) { WriteRunLevel(w, 0, 1, false); }), "110");
  EXPECT_EQ(Bits([](BitWriter& w) { WriteRunLevel(w, 0, -1, true); }), "11");
  EXPECT_EQ(Bits([](BitWriter& w) { WriteRunLevel(w, 0, 2, true); }), "01000");
  // run 1 level 18 has a code; run 2 level 6 does not.
  EXPECT_EQ(Bits([](BitWriter& w) { WriteRunLevel(w, 1, 18, false); }), "00000000000100000");
  EXPECT_EQ(Bits([](BitWriter& w) { WriteRunLevel(w, 2, 6, false); }).substr(0, 6), "000001");
}

TEST(CoefficientCoding, IntraBlockDcDifferences) {
  Block b{};
  b[0] = 5;
  int predictor = 0;
  // Luminance size 3 is "101", then 5 in 3 bits, then end of block.
  EXPECT_EQ(Bits([&](BitWriter& w) { WriteIntraBlock(w, b.data(), false, predictor); }),
            "101"
            "101"
            "10");
  EXPECT_EQ(predictor, 5);
  b[0] = 2;  // difference -3: size 2 ("01"), -3 + 3 = 0 in 2 bits
  EXPECT_EQ(Bits([&](BitWriter& w) { WriteIntraBlock(w, b.data(), false, predictor); }),
            "01"
            "00"
            "10");
  b[0] = 2;  // no difference, chrominance size 0 is "00"
  EXPECT_EQ(Bits([&](BitWriter& w) { WriteIntraBlock(w, b.data(), true, predictor); }),
            "00"
            "10");
}

// The counted bits of whole blocks (the high preset's costs) are the bits the blocks are
// written with, for sparse and dense blocks, short codes and escapes.
TEST(CoefficientCoding, CountedBlockBitsAreTheBitsWritten) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 2000; ++trial) {
    Block b{};
    const int levels = 1 + trial % 40, reach = trial % 3 == 0 ? 300 : 3;
    for (int k = 0; k < levels; ++k)
      b[random() % 64] =
          static_cast<std::int16_t>(static_cast<int>(random() % (2 * reach + 1)) - reach);
    b[0] = static_cast<std::int16_t>(random() % 256);
    std::uint64_t nonZero = 0;
    for (std::size_t n = 0; n < 64; ++n)
      if (b[n] != 0) nonZero |= std::uint64_t{1} << n;
    const bool chroma = trial % 2;
    int writtenDc = trial % 256, countedDc = trial % 256;
    const std::string intra =
        Bits([&](BitWriter& w) { WriteIntraBlock(w, b.data(), chroma, writtenDc); });
    EXPECT_EQ(IntraBlockBits(b.data(), nonZero, chroma, countedDc), static_cast<int>(intra.size()));
    EXPECT_EQ(countedDc, writtenDc);
    b[0] = 0;
    if (nonZero & ~std::uint64_t{1}) {
      const std::string inter = Bits([&](BitWriter& w) { WriteNonIntraBlock(w, b.data()); });
      EXPECT_EQ(NonIntraBlockBits(b.data(), nonZero & ~std::uint64_t{1}),
                static_cast<int>(inter.size()));
    }
  }
}

// Both forms of the scan order against the zigzag table: single levels, and random masks.
TEST(CoefficientCoding, ScanOrderOfMasks) {
  std::mt19937_64 rng(9);
  for (int round = 0; round < 1000; ++round) {
    const std::uint64_t raster = round < 64 ? std::uint64_t{1} << round : rng() & rng();
    std::uint64_t expected = 0;
    for (int n = 0; n < 64; ++n)
      expected |= (raster >> video_tables::kZigzag[static_cast<std::size_t>(n)] & 1) << n;
    EXPECT_EQ(InScanOrder(raster), expected) << std::hex << raster;
    EXPECT_EQ(InScanOrderByBytes(raster), expected) << std::hex << raster;
  }
}

TEST(MotionCoding, CodesAndResiduals) {
  // f_code 2 (range -32..31): delta 20 gives motion_code 10 and residual 1.
  EXPECT_EQ(Bits([](BitWriter& w) { WriteMotionCode(w, 20, 2); }),
            "000001001"
            "0"
            "1");
  EXPECT_EQ(Bits([](BitWriter& w) { WriteMotionCode(w, 0, 2); }), "1");
  EXPECT_EQ(Bits([](BitWriter& w) { WriteMotionCode(w, -1, 1); }),
            "01"
            "1");
  // Differences beyond the range wrap around: 31 - (-32) = 63 is sent as -1.
  EXPECT_EQ(Bits([](BitWriter& w) { WriteMotionCode(w, 63, 2); }),
            Bits([](BitWriter& w) { WriteMotionCode(w, -1, 2); }));
  EXPECT_EQ(Bits([](BitWriter& w) { WriteMotionCode(w, -17, 1); }),
            Bits([](BitWriter& w) { WriteMotionCode(w, 15, 1); }));
}

}  // namespace
}  // namespace calvex::video
