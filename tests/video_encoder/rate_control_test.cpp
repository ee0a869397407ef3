// Test Model 5 rate control numbers.
#include "video_encoder/rate_control.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "video_encoder/coding_order.h"

namespace calvex::video {
namespace {

constexpr double kBitRate = 1097728;  // 150 KB/s less 16 KB/s of audio, x 8192

TEST(RateControl, SequenceStartAt1097728BitsPerSecond) {
  RateControl rc(kBitRate, 30.0, 330);
  EXPECT_EQ(rc.reaction(), 73182);
  EXPECT_EQ(rc.complexityI(), 1527274);
  EXPECT_EQ(rc.complexityP(), 572728);
  EXPECT_EQ(rc.complexityB(), 400909);
  EXPECT_EQ(rc.bufferI(), 23607);
  EXPECT_EQ(rc.bufferP(), 23607);
  EXPECT_EQ(rc.bufferB(), 33050);

  rc.StartGroup(3, 6);  // the first group: 10 pictures
  EXPECT_EQ(rc.remaining(), 365909);
  EXPECT_EQ(rc.StartPicture(1, 0), 20);  // 2 x floor(23607 / 73182 x 31 + 0.5)
}

TEST(RateControl, SmallQuantiserChangesAreIgnored) {
  RateControl rc(kBitRate, 30.0, 330);
  rc.StartGroup(3, 6);
  const int start = rc.StartPicture(1, 0);
  ASSERT_EQ(start, 20);
  // With no bits spent the buffer gives 20 before activity; a flat macroblock (low activity)
  // lowers it, a busy one raises it.
  const int flat = rc.MacroblockQuantiser(0, 1.0, 0);
  EXPECT_LT(flat, 20);
  EXPECT_EQ(flat % 2, 0);
  // Activity equal to the average keeps the buffer's quantiser; a change of up to 4 from the
  // previous one is ignored once the quantiser is 8 or more.
  const int q1 = rc.MacroblockQuantiser(1, 400.0, 0);
  EXPECT_EQ(q1, 20);
  const int q2 = rc.MacroblockQuantiser(2, 560.0, 0);  // would be 22
  EXPECT_EQ(q2, 20);
  const int q3 = rc.MacroblockQuantiser(3, 4000.0, 0);  // far busier: a real change
  EXPECT_GT(q3, 24);
  EXPECT_LE(q3, 62);
}

TEST(RateControl, QuantiserStaysWithinLimits) {
  RateControl rc(kBitRate, 30.0, 330);
  rc.StartGroup(3, 6);
  rc.StartPicture(1, 0);
  EXPECT_EQ(rc.MacroblockQuantiser(0, 1e9, 1e9), 62);  // an overspent picture
  EXPECT_EQ(rc.MacroblockQuantiser(1, 1.0, -1e9), 2);  // far under budget
  rc.EndPicture(1e6);
  EXPECT_GE(rc.StartPicture(2, 1e6), 2);
}

// A long still movie: every picture costs far less than its target, so the budget and the
// buffers gather a surplus picture after picture. The quantiser stays at its finest; it does not
// jump when the surplus passes 32 bits (after about 60,000 pictures).
TEST(RateControl, LongStillSequenceKeepsTheFinestQuantiser) {
  constexpr int kPictures = 120000;
  constexpr int kMacroblocks = 4;
  RateControl rc(kBitRate, 30.0, kMacroblocks);
  double bits = 0;
  int coarsest = 0;
  int n = 0;
  for (const CodedPicture& p : CodingOrder(kPictures)) {
    if (p.startsGroup) rc.StartGroup(p.groupP, p.groupB);
    int q = rc.StartPicture(p.pictureType, bits);
    for (int j = 0; j < kMacroblocks; ++j) q = std::max(q, rc.MacroblockQuantiser(j, 1.0, bits));
    bits += 2000;  // a picture the same as the one before
    rc.EndPicture(bits);
    if (++n > 100) coarsest = std::max(coarsest, q);
  }
  EXPECT_EQ(coarsest, 2);
  EXPECT_GT(rc.remaining(), INT32_MAX);
  EXPECT_LT(rc.bufferB(), INT32_MIN);
}

TEST(RateControl, VbvDelay) {
  RateControl rc(kBitRate, 30.0, 330);
  // First picture: the buffer starts seven-eighths full (23507.46 ticks).
  EXPECT_EQ(rc.VbvDelay(1, 0), 23507);
  // The next reference picture decodes one period (3000 ticks at 30 per second) later, less the
  // time its first bits spent arriving (1000 ticks' worth here); so does a B picture.
  const double bits1000 = 1097728.0 / 90000 * 1000;
  EXPECT_EQ(rc.VbvDelay(2, bits1000), static_cast<int>(23507.46 + 3000 - 1000));
  EXPECT_EQ(rc.VbvDelay(3, bits1000), static_cast<int>(23507.46 + 6000 - 1000));
  // Never below 0.
  EXPECT_EQ(rc.VbvDelay(3, 1e9), 0);
}

}  // namespace
}  // namespace calvex::video
