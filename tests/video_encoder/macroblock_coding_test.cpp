// Variable-length coding of coefficients and motion vectors, and the macroblock layer rules.
#include "video_encoder/macroblock_coding.h"

#include <gtest/gtest.h>

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
