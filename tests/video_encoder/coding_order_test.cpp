// Coding order, picture types, temporal references and group structure.
#include "video_encoder/coding_order.h"

#include <gtest/gtest.h>

#include <string>

namespace calvex::video {
namespace {

// "I0 P3 B1 ..." with the temporal reference after a slash.
std::string Describe(int n) {
  std::string s;
  for (const CodedPicture& p : CodingOrder(n)) {
    if (!s.empty()) s += ' ';
    s += "?IPB"[p.pictureType];
    s += std::to_string(p.displayNumber) + "/" + std::to_string(p.temporalReference());
  }
  return s;
}

TEST(CodingOrder, ShortSequences) {
  EXPECT_EQ(Describe(1), "I0/0");
  EXPECT_EQ(Describe(2), "I0/0 P1/1");
  EXPECT_EQ(Describe(3), "I0/0 P2/2 B1/1");
  EXPECT_EQ(Describe(6), "I0/0 P3/3 B1/1 B2/2 P5/5 B4/4");
}

TEST(CodingOrder, TwelveAndThirteen) {
  EXPECT_EQ(Describe(12), "I0/0 P3/3 B1/1 B2/2 P6/6 B4/4 B5/5 P9/9 B7/7 B8/8 I11/1 B10/0");
  EXPECT_EQ(Describe(13), "I0/0 P3/3 B1/1 B2/2 P6/6 B4/4 B5/5 P9/9 B7/7 B8/8 I12/2 B10/0 B11/1");
  const auto order = CodingOrder(12);
  EXPECT_TRUE(order[0].startsGroup);
  EXPECT_EQ(order[0].groupP, 3);
  EXPECT_EQ(order[0].groupB, 6);
  EXPECT_TRUE(order[10].startsGroup);
  EXPECT_EQ(order[10].groupFirst, 10);
  EXPECT_EQ(order[10].groupP, 0);
  EXPECT_EQ(order[10].groupB, 1);
  EXPECT_TRUE(order[2].firstB);
  EXPECT_FALSE(order[3].firstB);
}

TEST(CodingOrder, LongSequenceGroups) {
  const auto order = CodingOrder(40);
  int groups = 0;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const CodedPicture& p = order[i];
    if (p.startsGroup) {
      ++groups;
      EXPECT_EQ(p.pictureType, 1);
      if (i > 0) {
        EXPECT_EQ(p.groupP + p.groupB + 1, std::min(12, 40 - p.groupFirst)) << i;
      }
    }
    EXPECT_GE(p.temporalReference(), 0);
    EXPECT_LT(p.temporalReference(), 12);
  }
  EXPECT_EQ(groups, 4);  // 0-9, 10-21, 22-33, 34-39
  // Every display number is coded exactly once.
  std::vector<int> seen(40, 0);
  for (const auto& p : order) ++seen[static_cast<std::size_t>(p.displayNumber)];
  for (int s : seen) EXPECT_EQ(s, 1);
}

}  // namespace
}  // namespace calvex::video
