// The AVI frame rate chosen from the record and the pictures dropped or repeated to reach it.
#include "video_decoder/output_frame_rate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

namespace calvex::video_decoder {
namespace {

MpegToAviParams RateRecord(std::int32_t milli, std::int32_t scale = 1000) {
  MpegToAviParams p;
  p.frameRateMilli = milli;
  p.frameRateScale = scale;
  p.frameRatePacked = static_cast<std::int32_t>(static_cast<std::uint32_t>(milli) << 16 |
                                                static_cast<std::uint32_t>(scale));
  return p;
}

// The choice for a record holding only a frame rate.
OutputFrameRateChoice ChooseFor(std::int32_t milli, AviFrameRate stream) {
  const MpegToAviParams record = RateRecord(milli);
  return ChooseOutputFrameRate(&record, stream);
}

// The output pictures each of `n` source pictures makes.
std::vector<int> Copies(AviFrameRate source, AviFrameRate output, int n) {
  FrameRateChange change(source, output);
  std::vector<int> copies;
  for (int k = 0; k < n; ++k) copies.push_back(change.CopiesOfNext());
  return copies;
}

TEST(OutputFrameRate, TheRecordsRateOnlyWhenItDiffersByMoreThanRounding) {
  const AviFrameRate ntsc{30000, 1001};
  // 29.970 and 29.968 are the stream's 29.970029... within two thousandths; 29.967 is not.
  for (int milli : {29970, 29968, 29972}) {
    const auto kept = ChooseFor(milli, ntsc);
    EXPECT_FALSE(kept.changed) << milli;
    EXPECT_EQ(kept.rate.rate, 30000);
    EXPECT_EQ(kept.rate.scale, 1001);
  }
  const auto other = ChooseFor(29967, ntsc);
  EXPECT_TRUE(other.changed);
  EXPECT_EQ(other.rate.rate, 29967);
  EXPECT_EQ(other.rate.scale, 1000);

  // Reduced to the smallest fraction.
  const auto fifteen = ChooseFor(15000, {30, 1});
  EXPECT_TRUE(fifteen.changed);
  EXPECT_EQ(fifteen.rate.rate, 15);
  EXPECT_EQ(fifteen.rate.scale, 1);
  // The stream's rate after halving is what the record is compared with.
  EXPECT_FALSE(ChooseFor(15000, {30, 2}).changed);

  // No record, no rate in it, or a mixed one: the stream's rate.
  MpegToAviParams none;
  EXPECT_FALSE(ChooseOutputFrameRate(nullptr, {25, 1}).changed);
  EXPECT_FALSE(ChooseOutputFrameRate(&none, {25, 1}).changed);
  none.frameRatePacked = kMixedValue;
  EXPECT_FALSE(ChooseOutputFrameRate(&none, {25, 1}).changed);
  EXPECT_FALSE(ChooseFor(0, {25, 1}).changed);
}

TEST(OutputFrameRate, PicturesAreDroppedOrRepeatedByPresentationTime) {
  // 30 to 15: every second picture, the first one first.
  EXPECT_EQ(Copies({30, 1}, {15, 1}, 6), (std::vector<int>{1, 0, 1, 0, 1, 0}));
  // 30 to 25: the sixth of every six is dropped.
  EXPECT_EQ(Copies({30, 1}, {25, 1}, 12), (std::vector<int>{1, 1, 1, 1, 1, 0, 1, 1, 1, 1, 1, 0}));
  // 25 to 30: the first of every five is shown twice.
  EXPECT_EQ(Copies({25, 1}, {30, 1}, 10), (std::vector<int>{2, 1, 1, 1, 1, 2, 1, 1, 1, 1}));
  // 15 to 30: every picture twice.
  EXPECT_EQ(Copies({15, 1}, {30, 1}, 3), (std::vector<int>{2, 2, 2}));
}

TEST(OutputFrameRate, OutputCountsKeepTheLengthOverLongRuns) {
  struct Case {
    AviFrameRate source, output;
  };
  for (const Case& c : {Case{{30000, 1001}, {25, 1}}, Case{{24000, 1001}, {30, 1}},
                        Case{{25, 1}, {2997, 100}}, Case{{60, 1}, {10, 1}}}) {
    const int n = 100000;  // an hour of pictures and more
    const std::vector<int> copies = Copies(c.source, c.output, n);
    const std::int64_t total = std::accumulate(copies.begin(), copies.end(), std::int64_t{0});
    FrameRateChange change(c.source, c.output);
    EXPECT_EQ(change.OutputPicturesFor(n), total);
    // n source pictures last n * scale / rate seconds; the output as long, to within a picture.
    const double seconds = static_cast<double>(n) * c.source.scale / c.source.rate;
    const double outputSeconds = static_cast<double>(total) * c.output.scale / c.output.rate;
    EXPECT_LT(std::abs(seconds - outputSeconds),
              static_cast<double>(c.output.scale) / c.output.rate);
  }
  EXPECT_EQ(FrameRateChange({30, 1}, {15, 1}).OutputPicturesFor(0), 0);
  EXPECT_EQ(FrameRateChange({30, 1}, {15, 1}).OutputPicturesFor(61), 31);
  // A frame count near the 32-bit limit does not overflow.
  EXPECT_EQ(FrameRateChange({30000, 1001}, {30, 1}).OutputPicturesFor(2147483647), 2149631131);
}

}  // namespace
}  // namespace calvex::video_decoder
