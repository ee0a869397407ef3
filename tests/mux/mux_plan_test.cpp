#include "mux/mux_plan.h"

#include <gtest/gtest.h>

#include <vector>

#include "mux/mux_params.h"

namespace calvex::mux {
namespace {

MuxParams Params(int num, int den, int n, int layer = 2, int kbps = 128, int hz = 44100) {
  return {num, den, n, layer, kbps, hz};
}

// Four pictures I0 P3 B1 B2 at 25 pictures per second: 20 header bytes, then 4000, 1000, 600 and
// 1200 bytes (the last with the end code).
std::vector<std::uint32_t> SmallIndex() {
  return {MakeIndexWord(0, 20), MakeIndexWord(2, 4000), MakeIndexWord(-1, 1000),
          MakeIndexWord(-1, 600), MakeIndexWord(-2, 1200)};
}

TEST(MuxPlan, ClockPeriodsAndAudioFrameBytes) {
  const auto index = SmallIndex();
  MuxPlan p;
  ASSERT_EQ(PlanMultiplex(index, Params(25, 1, 4), 0, p), kOk);
  EXPECT_DOUBLE_EQ(p.videoPeriod, 3600.0);
  EXPECT_NEAR(p.audioPeriod, 2351.0204, 1e-4);  // 1152 / 44100 s
  EXPECT_NEAR(p.audioFrameBytes, 417.9592, 1e-4);
  EXPECT_EQ(p.samplesPerAudioFrame, 1152);

  ASSERT_EQ(PlanMultiplex(index, Params(30000, 1001, 4), 0, p), kOk);
  EXPECT_NEAR(p.videoPeriod, 3003.0, 1e-9);
  ASSERT_EQ(PlanMultiplex(index, Params(30, 1, 4, 1, 384, 48000), 0, p), kOk);
  EXPECT_DOUBLE_EQ(p.videoPeriod, 3000.0);
  EXPECT_EQ(p.samplesPerAudioFrame, 384);
  EXPECT_DOUBLE_EQ(p.audioPeriod, 720.0);
  EXPECT_DOUBLE_EQ(p.audioFrameBytes, 384.0);  // Layer I, 384 kbit/s at 48 kHz
}

TEST(MuxPlan, BufferWalkBoundsDelayAndMuxRate) {
  MuxPlan p;
  ASSERT_EQ(PlanMultiplex(SmallIndex(), Params(25, 1, 4), 10001, p), kOk);
  EXPECT_EQ(p.videoBytes, 6820);
  EXPECT_DOUBLE_EQ(p.averagePicture, 1705.0);
  // Walk: 1705 - 4000 - 20 = -2315, then -1610, -505, 0.
  EXPECT_DOUBLE_EQ(p.walkMin, -2315.0);
  EXPECT_DOUBLE_EQ(p.walkMax, 0.0);
  EXPECT_EQ(p.videoBufferBound, 3);  // ceil(2315 / 1024)
  EXPECT_EQ(p.startDelay, 4888);     // ceil(2315 / 1705 x 3600) = ceil(4887.98)
  EXPECT_EQ(p.audioBufferBound, 7);  // ceil(4888 / 2351.02 x 417.96 / 128) = ceil(6.79)
  EXPECT_DOUBLE_EQ(p.duration, 0.16);
  EXPECT_EQ(p.videoPackets, 4);
  EXPECT_EQ(p.audioPackets, 5);
  // 9 x 9 + 18 + 25 x ceil(0.32) + 6820 + 10001
  EXPECT_EQ(p.sizeEstimate, 16945);
  EXPECT_EQ(p.muxRate, 2119);  // ceil(16945 / 0.16 / 50) = ceil(2118.1)
  EXPECT_DOUBLE_EQ(p.audioShare, 1.25);
  EXPECT_DOUBLE_EQ(p.ticksPerBit, 90000.0 / (2119 * 400.0));
  EXPECT_EQ(p.reorderDelay, 1);
}

TEST(MuxPlan, WalkThatNeverEmptiesNeedsNoDelay) {
  // A small first picture ahead of large ones: the walk starts above zero and rises.
  const std::vector<std::uint32_t> index = {MakeIndexWord(0, 10), MakeIndexWord(0, 100),
                                            MakeIndexWord(0, 3000), MakeIndexWord(-1, 3000)};
  MuxPlan p;
  ASSERT_EQ(PlanMultiplex(index, Params(25, 1, 3), 500, p), kOk);
  EXPECT_GT(p.walkMin, 0.0);
  EXPECT_EQ(p.startDelay, 0);
  EXPECT_EQ(p.audioBufferBound, 0);
}

TEST(MuxPlan, ReorderDelayFollowsTheLatestShownPicture) {
  // Display order 0 1 2 3 coded as I0 P3 B1 B2: B pictures are shown one period after decoding.
  MuxPlan p;
  ASSERT_EQ(PlanMultiplex(SmallIndex(), Params(25, 1, 4), 0, p), kOk);
  EXPECT_EQ(p.reorderDelay, 1);
  // Coded as I0 P4 B1 B2 B3: picture 3 is coded fourth and shown two periods after that.
  const std::vector<std::uint32_t> wide = {MakeIndexWord(0, 20),   MakeIndexWord(3, 900),
                                           MakeIndexWord(-1, 300), MakeIndexWord(-1, 300),
                                           MakeIndexWord(-1, 300), MakeIndexWord(-2, 300)};
  ASSERT_EQ(PlanMultiplex(wide, Params(25, 1, 5), 0, p), kOk);
  EXPECT_EQ(p.reorderDelay, 1);
  // Coded as I0 P4 B2 B1 B3: picture 1 is decoded fourth (k = 3), two periods before it is due.
  const std::vector<std::uint32_t> late = {MakeIndexWord(0, 20),   MakeIndexWord(3, 900),
                                           MakeIndexWord(0, 300),  MakeIndexWord(-2, 300),
                                           MakeIndexWord(-1, 300), MakeIndexWord(-2, 300)};
  ASSERT_EQ(PlanMultiplex(late, Params(25, 1, 5), 0, p), kOk);
  EXPECT_EQ(p.reorderDelay, 2);
}

TEST(MuxPlan, RefusesInputsThatCannotMakeAStream) {
  const auto index = SmallIndex();
  MuxPlan p;
  EXPECT_EQ(PlanMultiplex(index, Params(25, 1, 0), 0, p), kMuxInternal);     // no pictures
  EXPECT_EQ(PlanMultiplex(index, Params(25, 1, 3), 0, p), kMuxInternal);     // index too long
  EXPECT_EQ(PlanMultiplex(index, Params(25, 0, 4), 0, p), kMuxInternal);     // no rate
  EXPECT_EQ(PlanMultiplex(index, Params(25, 1, 4, 3), 0, p), kMuxInternal);  // Layer III
  EXPECT_EQ(PlanMultiplex(index, Params(25, 1, 4, 2, 0), 0, p), kMuxInternal);
  EXPECT_EQ(PlanMultiplex(index, Params(25, 1, 4, 2, 128, 0), 0, p), kMuxInternal);
  EXPECT_EQ(PlanMultiplex(index, Params(25, 1, 4), -1, p), kMuxInternal);
  const std::vector<std::uint32_t> empty = {MakeIndexWord(0, 0), MakeIndexWord(-1, 0)};
  EXPECT_EQ(PlanMultiplex(empty, Params(25, 1, 1), 0, p), kMuxInternal);
}

TEST(MuxPlan, IndexWordsKeepSizeAndSignedStep) {
  EXPECT_EQ(IndexWordSize(MakeIndexWord(-1, 12345)), 12345);
  EXPECT_EQ(IndexWordStep(MakeIndexWord(-1, 12345)), -1);
  EXPECT_EQ(IndexWordStep(MakeIndexWord(2, 0x03FFFFFF)), 2);
  EXPECT_EQ(IndexWordSize(MakeIndexWord(-32, 0x03FFFFFF)), 0x03FFFFFF);
  EXPECT_EQ(IndexWordStep(MakeIndexWord(-32, 0x03FFFFFF)), -32);
  EXPECT_EQ(IndexWordStep(MakeIndexWord(31, 1)), 31);
}

}  // namespace
}  // namespace calvex::mux
