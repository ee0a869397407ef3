// Frame parameters, scale factors, selection patterns, the joint-stereo decision, the allocation
// loops and quantisation.
#include "audio_encoder/bit_allocation.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "audio_encoder/audio_encoder.h"

namespace calvex::audio {
namespace {

FrameParams Params(int layer, int mode, int kbps, int freqCode, int modeExt = 0) {
  FrameParams fp;
  fp.header.layer = layer;
  fp.header.mode = mode;
  fp.header.mode_ext = modeExt;
  fp.header.sampling_frequency = freqCode;
  fp.header.bitrate_index = BitrateIndexFor(layer, mode, kbps);
  DeriveFrameParams(fp);
  return fp;
}

SignalToMask AllSmr(double v) {
  SignalToMask s;
  for (auto& ch : s) ch.fill(v);
  return s;
}

TEST(BitrateIndex, RequestsMapToLegalIndices) {
  const std::tuple<int, int, int, int> cases[] = {
      // layer, mode, request, index
      {2, kModeStereo, 80, 4},           // 80 kbit/s is not used with two channels: 64
      {2, kModeSingleChannel, 48, 2},    // mono keeps 48
      {2, kModeSingleChannel, 80, 5},    // and 80
      {2, kModeSingleChannel, 256, 10},  // mono stops at 192
      {2, kModeJointStereo, 32, 4},      // two channels start at 64
      {2, kModeStereo, 100, 7},          // the next rate up: 112
      {2, kModeStereo, 1000, 14},        // beyond the table: the top
      {2, kModeStereo, 192, 10},        {1, kModeStereo, 100, 4},  // Layer I: 128
      {1, kModeSingleChannel, 32, 1},   {1, kModeStereo, 448, 14}, {1, kModeStereo, 0, 1},
  };
  for (const auto& [layer, mode, kbps, index] : cases)
    EXPECT_EQ(BitrateIndexFor(layer, mode, kbps), index) << layer << " " << mode << " " << kbps;
}

TEST(FrameParams, TableLimitAndBoundFollowTheHeader) {
  FrameParams fp = Params(2, kModeStereo, 128, 1);  // 48 kHz, 64 per channel
  EXPECT_EQ(fp.tableNumber, 0);
  EXPECT_EQ(fp.sblimit, 27);
  EXPECT_EQ(fp.jsbound, 27);
  EXPECT_EQ(fp.stereo, 2);
  fp = Params(2, kModeJointStereo, 64, 2);  // 32 kHz, 32 per channel
  EXPECT_EQ(fp.tableNumber, 3);
  EXPECT_EQ(fp.sblimit, 12);
  EXPECT_EQ(fp.jsbound, 4);
  fp = Params(2, kModeSingleChannel, 48, 0);
  EXPECT_EQ(fp.tableNumber, 2);
  EXPECT_EQ(fp.sblimit, 8);
  EXPECT_EQ(fp.stereo, 1);
  fp = Params(2, kModeStereo, 192, 0);  // 96 per channel at 44.1 kHz
  EXPECT_EQ(fp.sblimit, 30);
  fp = Params(1, kModeJointStereo, 192, 0, 2);
  EXPECT_EQ(fp.sblimit, 32);
  EXPECT_EQ(fp.jsbound, 12);
  EXPECT_EQ(fp.actualMode, kModeJointStereo);
}

TEST(ScaleFactors, PickTheSmallestFactorNotBelowThePeak) {
  ChannelSamples s{};
  s[0][5][0] = 1.0;         // exactly multiple[3]
  s[0][2][1] = -1.0000001;  // just above: multiple[2]
  s[0][0][2] = 3.0;         // beyond the table: 0
  s[1][0][0] = 1e-9;        // far below the last factor: 62
  ChannelScaleFactors idx{};
  ScaleFactors(s, idx, 3, 27, true);
  EXPECT_EQ(idx[0][0], 3);
  EXPECT_EQ(idx[0][1], 2);
  EXPECT_EQ(idx[0][2], 0);
  EXPECT_EQ(idx[0][3], 62);  // silence
  EXPECT_EQ(idx[1][0], 62);
  EXPECT_EQ(idx[2][27], 63);  // above sblimit
  EXPECT_EQ(idx[0][31], 63);
}

TEST(TransmissionPattern, EachClassPairSelectsAndRewrites) {
  struct Case {
    int s0, s1, s2, selection, t0, t1, t2;
  };
  const Case cases[] = {
      {10, 20, 30, 0, 10, 20, 30},  // 123: all three sent
      {20, 10, 10, 3, 20, 10, 10},  // 122
      {20, 10, 11, 3, 20, 10, 10},  // 122: part 2 takes part 1's larger factor
      {20, 15, 14, 3, 20, 14, 14},  // 133
      {10, 11, 20, 1, 10, 10, 20},  // 113
      {10, 12, 12, 2, 10, 10, 10},  // 111
      {10, 10, 10, 2, 10, 10, 10},  // 111
      {12, 11, 13, 2, 11, 11, 11},  // 222
      {12, 11, 10, 2, 10, 10, 10},  // 333
      {8, 9, 7, 2, 7, 7, 7},        // 444: the smaller of s0 and s2
      {10, 11, 10, 2, 10, 10, 10},  // 444
  };
  for (const Case& c : cases) {
    ScaleFactorIndices sf{};
    sf[1][0][3] = c.s0;
    sf[1][1][3] = c.s1;
    sf[1][2][3] = c.s2;
    ChannelSubbandValues sel{};
    FrameParams fp = Params(2, kModeStereo, 192, 0);
    TransmissionPattern(sf, sel, fp);
    EXPECT_EQ(sel[1][3], c.selection) << c.s0 << " " << c.s1 << " " << c.s2;
    EXPECT_EQ(std::make_tuple(sf[1][0][3], sf[1][1][3], sf[1][2][3]),
              std::make_tuple(c.t0, c.t1, c.t2))
        << c.s0 << " " << c.s1 << " " << c.s2;
  }
}

TEST(JointStereo, StereoWhenItFitsElseTheHighestBoundThatFits) {
  for (int layer : {1, 2}) {
    FrameParams fp = Params(layer, kModeJointStereo, layer == 1 ? 192 : 128, 0);
    ChannelSubbandValues sel{};
    SignalToMask smr = AllSmr(-10);  // everything masked: no bits needed
    ChooseJointStereoBound(smr, sel, 3000, fp);
    EXPECT_EQ(fp.header.mode, kModeStereo) << layer;
    EXPECT_EQ(fp.jsbound, fp.sblimit);

    // Need per bound, then an allowance that admits bound 8 but not 12.
    smr = AllSmr(40);
    int need[4];
    for (int ext = 0; ext < 4; ++ext) {
      FrameParams probe = fp;
      probe.jsbound = kJointStereoBound[ext];
      need[ext] =
          layer == 1 ? BitsForNoNoiseLayer1(smr, probe) : BitsForNoNoiseLayer2(smr, sel, probe);
    }
    ASSERT_LT(need[0], need[1]);
    ASSERT_LT(need[1], need[2]);
    ChooseJointStereoBound(smr, sel, need[1], fp);
    EXPECT_EQ(fp.header.mode, kModeJointStereo) << layer;
    EXPECT_EQ(fp.header.mode_ext, 1) << layer;
    EXPECT_EQ(fp.jsbound, 8);
    ChooseJointStereoBound(smr, sel, need[0] - 1, fp);  // nothing fits: bound 4
    EXPECT_EQ(fp.header.mode_ext, 0) << layer;
    EXPECT_EQ(fp.jsbound, 4);
  }
}

// The cheapest step the allocation could still take, in bits.
int CheapestFurtherStep(const FrameParams& fp, const ChannelSubbandValues& alloc,
                        const ChannelSubbandValues& sel) {
  int cheapest = 1 << 30;
  for (int sb = 0; sb < fp.sblimit; ++sb)
    for (int ch = 0; ch < fp.stereo; ++ch) {
      const int a = alloc[ch][sb];
      if (fp.header.layer == 1) {
        if (a < 14) cheapest = std::min(cheapest, a == 0 ? 30 : 12);
        continue;
      }
      const AllocationTable& t = *fp.alloc;
      if (a >= (1 << t.FieldWidth(sb)) - 1) continue;
      int cost = 12 * t.At(sb, a + 1).grouping * t.At(sb, a + 1).bits;
      if (a > 0)
        cost -= 12 * t.At(sb, a).grouping * t.At(sb, a).bits;
      else
        cost += 2 + 6 * kScaleFactorsPerSelection[sel[ch][sb]];
      cheapest = std::min(cheapest, cost);
    }
  return cheapest;
}

TEST(Allocation, GoesOnWhileBitsRemainEvenWhenEverythingIsMasked) {
  for (int layer : {1, 2}) {
    FrameParams fp = Params(layer, kModeStereo, layer == 1 ? 256 : 192, 0);
    SignalToMask smr = AllSmr(-20);
    smr[0][3] = 5;
    ChannelSubbandValues sel{}, alloc{};
    int bits = layer == 1 ? 384 / 44.1 * 256 : 1152 / 44.1 * 192;
    if (layer == 2) {
      ScaleFactorIndices sf{};
      TransmissionPattern(sf, sel, fp);
      AllocateBitsLayer2(smr, sel, alloc, bits, fp);
    } else {
      AllocateBitsLayer1(smr, alloc, bits, fp);
    }
    EXPECT_GE(bits, 0) << layer;
    EXPECT_LT(bits, CheapestFurtherStep(fp, alloc, sel)) << layer;
    int allocated = 0;
    for (int sb = 0; sb < 32; ++sb) allocated += alloc[0][sb] > 0;
    EXPECT_GT(allocated, 10) << layer;
  }
}

TEST(Allocation, TiesGoToTheLowestSubbandThenChannelZero) {
  // Room for exactly one first step: it goes to subband 0 of channel 0.
  FrameParams fp = Params(1, kModeStereo, 128, 0);
  SignalToMask smr = AllSmr(30);
  ChannelSubbandValues alloc{}, sel{};
  int bits = 32 + 4 * 64 + 30;
  AllocateBitsLayer1(smr, alloc, bits, fp);
  EXPECT_EQ(bits, 0);
  EXPECT_EQ(alloc[0][0], 1);
  EXPECT_EQ(alloc[1][0], 0);

  fp = Params(2, kModeStereo, 192, 0);
  ScaleFactorIndices sf{};
  TransmissionPattern(sf, sel, fp);  // equal factors: selection 2, one factor
  int fields = 0;
  for (int sb = 0; sb < fp.sblimit; ++sb) fields += 2 * fp.alloc->FieldWidth(sb);
  bits = 32 + fields + 12 * 5 + 2 + 6;  // 3 steps grouped: 5 bits per granule
  alloc = {};
  AllocateBitsLayer2(smr, sel, alloc, bits, fp);
  EXPECT_EQ(bits, 0);
  EXPECT_EQ(alloc[0][0], 1);
  EXPECT_EQ(alloc[1][0], 0);
  EXPECT_EQ(alloc[0][1], 0);
}

TEST(Allocation, JointSubbandsShareTheirAllocation) {
  FrameParams fp = Params(2, kModeJointStereo, 128, 0);
  fp.header.mode_ext = 1;
  fp.jsbound = 8;
  SignalToMask smr = AllSmr(25);
  smr[1][20] = 60;
  ChannelSubbandValues alloc{}, sel{};
  ScaleFactorIndices sf{};
  TransmissionPattern(sf, sel, fp);
  int bits = 1152 / 44.1 * 128;
  AllocateBitsLayer2(smr, sel, alloc, bits, fp);
  for (int sb = fp.jsbound; sb < 32; ++sb) EXPECT_EQ(alloc[0][sb], alloc[1][sb]) << sb;
  EXPECT_GT(alloc[0][20], 0);
  for (int sb = fp.sblimit; sb < 32; ++sb) EXPECT_EQ(alloc[0][sb], 0);
}

TEST(Quantise, LevelsSignsAndTheLargestCode) {
  // Three steps (Layer II class 0): below -1/3 of the factor, around zero, above 1/3.
  EXPECT_EQ(QuantiseSample(-0.9, 1.0, 0.75, -0.25, 1, 3), 0u);
  EXPECT_EQ(QuantiseSample(0.0, 1.0, 0.75, -0.25, 1, 3), 1u);
  EXPECT_EQ(QuantiseSample(0.9, 1.0, 0.75, -0.25, 1, 3), 2u);
  // A sample exactly at its factor would give the forbidden code `steps`: held at steps - 1.
  EXPECT_EQ(QuantiseSample(0.5, 0.5, 0.75, -0.25, 1, 3), 2u);
  EXPECT_EQ(QuantiseSample(1.0, 1.0, 0.875, -0.125, 2, 7), 6u);
  EXPECT_EQ(QuantiseSample(2.0, 1.0, 0.875, -0.125, 2, 7), 6u);
  EXPECT_EQ(QuantiseSample(-2.0, 1.0, 0.875, -0.125, 2, 7), 0u);
  // 15 steps: the sign flag is bit 3.
  EXPECT_EQ(QuantiseSample(0.01, 1.0, 0.9375, -0.0625, 3, 15), 7u);
  EXPECT_EQ(QuantiseSample(0.2, 1.0, 0.9375, -0.0625, 3, 15), 9u);
  EXPECT_EQ(QuantiseSample(-0.2, 1.0, 0.9375, -0.0625, 3, 15), 6u);
}

TEST(FramePadding, SlotLagSpreadsTheFraction) {
  FramePadding p(2, 128, 44100);  // 417.959... slots
  EXPECT_EQ(p.wholeSlots(), 417);
  long long slots = 0;
  std::vector<int> pads;
  for (int n = 1; n <= 1000; ++n) {
    pads.push_back(p.Next());
    slots += 417 + pads.back();
    EXPECT_LT(std::abs(slots - n * (1152 / 44.1 * 16)), 1.0) << n;
  }
  EXPECT_EQ(std::vector<int>(pads.begin(), pads.begin() + 4), (std::vector<int>{1, 1, 1, 1}));
  EXPECT_EQ(std::count(pads.begin(), pads.begin() + 49, 0), 2);

  FramePadding q(2, 192, 48000);
  EXPECT_EQ(q.wholeSlots(), 576);
  EXPECT_EQ(q.fraction(), 0.0);
  for (int n = 0; n < 100; ++n) EXPECT_EQ(q.Next(), 0);

  FramePadding r(1, 32, 44100);  // Layer I: 8.7 slots of 4 bytes
  EXPECT_EQ(r.wholeSlots(), 8);
}

TEST(ConfigureEncoding, RefusalsInTheDriversOrder) {
  AudioEncodeParams params;
  EncodingSetup setup;
  EXPECT_EQ(ConfigureEncoding({6, 96000, 24}, params, setup), kSampleSizeUnsupported);
  EXPECT_EQ(ConfigureEncoding({6, 96000, 16}, params, setup), kSampleRateUnsupported);
  EXPECT_EQ(ConfigureEncoding({6, 48000, 16}, params, setup), kChannelCountUnsupported);
  EXPECT_EQ(ConfigureEncoding({0, 48000, 8}, params, setup), kChannelCountUnsupported);

  params = {2, 1, 80, 0};  // Layer II joint stereo 80 kbit/s
  ASSERT_EQ(ConfigureEncoding({2, 22050, 16}, params, setup), kOk);
  EXPECT_EQ(params.audioBitrateKbps, 64);
  EXPECT_EQ(params.sampleRateHz, 44100);
  EXPECT_EQ(setup.multiplier, 2);
  EXPECT_EQ(setup.frame.header.mode, kModeJointStereo);

  params = {2, 1, 128, 0};  // joint stereo asked of a mono source
  ASSERT_EQ(ConfigureEncoding({1, 11025, 8}, params, setup), kOk);
  EXPECT_EQ(setup.frame.header.mode, kModeSingleChannel);
  EXPECT_EQ(setup.frame.header.mode_ext, 0);
  EXPECT_EQ(setup.multiplier, 4);
  EXPECT_EQ(params.audioBitrateKbps, 128);

  params = {1, 0, 100, 0};
  ASSERT_EQ(ConfigureEncoding({2, 32000, 16}, params, setup), kOk);
  EXPECT_EQ(params.audioBitrateKbps, 128);
  EXPECT_EQ(setup.frame.header.mode, kModeStereo);
  EXPECT_EQ(setup.frame.header.sampling_frequency, 2);
}

}  // namespace
}  // namespace calvex::audio
