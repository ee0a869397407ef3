#include "mpeg_audio/audio_tables.h"

#include <gtest/gtest.h>

#include <cmath>

namespace calvex::audio {
namespace {

TEST(AudioTables, ScaleFactorsFollowTwoToTheOneMinusJThirds) {
  for (int j = 0; j < 63; ++j)
    EXPECT_NEAR(kScaleFactors[j], std::pow(2.0, 1.0 - j / 3.0), 1e-8 * kScaleFactors[j]) << j;
  EXPECT_EQ(kScaleFactors[0], 2.0);
  EXPECT_EQ(kScaleFactors[62], 1.20155435e-06);
  EXPECT_EQ(kScaleFactors[63], 1e-20);
}

TEST(AudioTables, WindowsHoldThePrintedValues) {
  EXPECT_EQ(kAnalysisWindow[0], 0.0);
  for (int i = 1; i <= 6; ++i) EXPECT_EQ(kAnalysisWindow[i], -0.000000477) << i;
  EXPECT_EQ(kAnalysisWindow[7], -0.000000954);
  EXPECT_EQ(kAnalysisWindow[255], -0.035758972);
  EXPECT_EQ(kAnalysisWindow[256], 0.035780907);
  EXPECT_EQ(kAnalysisWindow[511], 0.000000477);
  EXPECT_EQ(kSynthesisWindow[1], -0.000015259);
  EXPECT_EQ(kSynthesisWindow[256], 1.144989014);
}

TEST(AudioTables, AllocationTablesHaveTheirLimitsAndFieldWidths) {
  // Tables 3-B.2a to d, and the half sampling rates' table.
  const int limits[5] = {27, 30, 8, 12, 30};
  for (int t = 0; t < 5; ++t) {
    const AllocationTable& table = Layer2AllocationTable(t);
    EXPECT_EQ(table.sblimit, limits[t]);
    for (int sb = 0; sb < 32; ++sb) {
      const int width = table.FieldWidth(sb);
      if (sb >= table.sblimit) {
        EXPECT_EQ(width, 0) << t << " " << sb;
        continue;
      }
      EXPECT_TRUE(width >= 2 && width <= 4) << t << " " << sb;
      // Every allocation value the field can carry names a quantiser with more steps than the last.
      for (int a = 1; a < (1 << width); ++a) {
        const AllocationEntry& e = table.At(sb, a);
        EXPECT_GT(e.steps, a > 1 ? table.At(sb, a - 1).steps : 0) << t << " " << sb << " " << a;
        EXPECT_TRUE(e.grouping == 1 || e.grouping == 3);
        EXPECT_LE(e.quantClass, 16);
      }
    }
  }
  const AllocationTable& c = kLayer2AllocationTables[2];
  auto same = [](const AllocationEntry& e, int steps, int bits, int group, int q) {
    return e.steps == steps && e.bits == bits && e.grouping == group && e.quantClass == q;
  };
  EXPECT_TRUE(same(c.At(0, 1), 3, 5, 1, 0));
  EXPECT_TRUE(same(c.At(0, 2), 5, 7, 1, 1));
  EXPECT_TRUE(same(c.At(0, 3), 9, 10, 1, 3));
  EXPECT_TRUE(same(c.At(0, 4), 15, 4, 3, 4));
  EXPECT_TRUE(same(kLayer2AllocationTables[0].At(0, 2), 7, 3, 3, 2));
  EXPECT_TRUE(same(kLayer2AllocationTables[0].At(0, 15), 65535, 16, 3, 16));
  EXPECT_TRUE(same(kLayer2AllocationTables[0].At(26, 3), 65535, 16, 3, 16));
}

TEST(AudioTables, Layer2TableChoice) {
  // 48 kHz, 128 kbit/s stereo: 64 per channel, table a. 32 kHz, 64 kbit/s stereo: table d.
  EXPECT_EQ(Layer2TableFor(64, 1), 0);
  EXPECT_EQ(Layer2TableFor(32, 2), 3);
  EXPECT_EQ(Layer2TableFor(192, 1), 0);
  EXPECT_EQ(Layer2TableFor(96, 0), 1);
  EXPECT_EQ(Layer2TableFor(192, 2), 1);
  EXPECT_EQ(Layer2TableFor(80, 0), 0);
  EXPECT_EQ(Layer2TableFor(48, 0), 2);
  EXPECT_EQ(Layer2TableFor(48, 1), 2);
  EXPECT_EQ(Layer2TableFor(48, 2), 3);
}

TEST(AudioTables, Layer1ViewSkipsTheFiveAndNineStepQuantisers) {
  EXPECT_EQ(kLayer1View.snr[1], 7.00);
  EXPECT_EQ(kLayer1View.snr[2], 16.00);
  EXPECT_EQ(kLayer1View.snr[3], 25.28);
  EXPECT_EQ(kLayer1View.snr[14], 92.01);
  EXPECT_EQ(kLayer1View.snr[15], 98.01);
  EXPECT_EQ(kLayer1View.a[0], 0.75);   // 3 steps
  EXPECT_EQ(kLayer1View.a[1], 0.875);  // 7 steps
  EXPECT_EQ(kLayer1View.b[1], -0.125);
  EXPECT_EQ(kLayer1View.a[2], 0.9375);  // 15 steps
  EXPECT_EQ(kLayer1View.a[14], 0.999984741);
  // The shared tables are untouched.
  EXPECT_EQ(kSnrDb[2], 11.00);
  EXPECT_EQ(kQuantA[1], 0.625);
}

TEST(AudioTables, AbsoluteThresholdTellingRows) {
  const int lines[] = {0, 1, 10, 50, 100, 200, 300, 400, 500, 512};
  const double rows[][3] = {
      {10156347392.0, 488357088.0, 247592464.0},
      {33708348.0, 5898447.0, 3987838.75},
      {108576.95, 69141.3, 62479.5},
      {20452.08, 11136.21, 8907.13},
      {4872.34, 11239.26, 15694.14},
      {27716.45, 77756.66, 140196.64},
      {114482.1, 14714232.0, 224252560.0},
      {7477175.0, 124950298624.0, 96324681728.0},
      {60776765194240.0, 60776765194240.0, 60776765194240.0},
      {60776765194240.0, 60776765194240.0, 60776765194240.0},
  };
  for (int r = 0; r < 10; ++r) {
    EXPECT_EQ(AbsoluteThresholdFor(2)[lines[r]], rows[r][0]) << lines[r];
    EXPECT_EQ(AbsoluteThresholdFor(0)[lines[r]], rows[r][1]) << lines[r];
    EXPECT_EQ(AbsoluteThresholdFor(1)[lines[r]], rows[r][2]) << lines[r];
  }
  double smallest[3] = {1e30, 1e30, 1e30};
  for (int code = 0; code < 3; ++code)
    for (double v : AbsoluteThresholdFor(code)) smallest[code] = std::min(smallest[code], v);
  EXPECT_EQ(smallest[2], 4861.13);
  EXPECT_EQ(smallest[0], 4849.95);
  EXPECT_EQ(smallest[1], 4849.95);
}

}  // namespace
}  // namespace calvex::audio
