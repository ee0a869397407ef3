#include "ui/pages/field_rules.h"

#include <gtest/gtest.h>

#include "core/settings.h"

namespace calvex::ui {
namespace {

TEST(FieldRules, FieldsReadBlankAsMixedAndRejectNonDigits) {
  EXPECT_EQ(ParseIntField(""), kMixedValue);
  EXPECT_EQ(ParseIntField("  "), kMixedValue);
  EXPECT_EQ(ParseIntField(" 352 "), 352);
  EXPECT_EQ(ParseIntField("35a"), kInvalidField);
  EXPECT_EQ(ParseIntField("-2"), kInvalidField);
  EXPECT_EQ(ParseIntField("12345678901"), kInvalidField);
  EXPECT_EQ(IntFieldText(kMixedValue), "");
  EXPECT_EQ(IntFieldText(160), "160");
}

TEST(FieldRules, RatesKeepThreeDecimalsBothWays) {
  EXPECT_EQ(ParseThousandthsField("29.97"), 29970);
  EXPECT_EQ(ParseThousandthsField("23.976"), 23976);
  EXPECT_EQ(ParseThousandthsField("30"), 30000);
  EXPECT_EQ(ParseThousandthsField(".5"), 500);
  EXPECT_EQ(ParseThousandthsField("1.2345"), kInvalidField);
  EXPECT_EQ(ParseThousandthsField("2x"), kInvalidField);
  EXPECT_EQ(ParseThousandthsField("."), kInvalidField);
  for (int t : {30000, 29970, 23976, 25000, 12500, 5125})
    EXPECT_EQ(ParseThousandthsField(ThousandthsText(t)), t) << t;
  EXPECT_EQ(ThousandthsText(29970), "29.97");
  EXPECT_EQ(ThousandthsText(30000), "30");
}

TEST(FieldRules, PictureSizeSpinStepsByTwoWithinItsLimits) {
  EXPECT_EQ(StepAviSize(kMixedValue, +1), 160);
  EXPECT_EQ(StepAviSize(kMixedValue, -1), 160);
  EXPECT_EQ(StepAviSize(320, +1), 322);
  EXPECT_EQ(StepAviSize(320, -1), 318);
  EXPECT_EQ(StepAviSize(61, +1), 64);
  EXPECT_EQ(StepAviSize(64, -1), 64);
  EXPECT_EQ(StepAviSize(101, +1), 104);  // odd results are raised by one
  EXPECT_EQ(StepAviSize(352, +1), 352);
  EXPECT_EQ(StepAviSize(480, -1), 352);
}

TEST(FieldRules, DataRateSpinStepsByTenWithinItsLimits) {
  EXPECT_EQ(StepAviDataRate(kMixedValue, +1), 150);
  EXPECT_EQ(StepAviDataRate(150, +1), 160);
  EXPECT_EQ(StepAviDataRate(150, -1), 140);
  EXPECT_EQ(StepAviDataRate(155, +1), 160);
  EXPECT_EQ(StepAviDataRate(155, -1), 150);
  EXPECT_EQ(StepAviDataRate(200, +1), 200);
  EXPECT_EQ(StepAviDataRate(60, -1), 60);
}

TEST(FieldRules, BitrateSpinsWalkTheLayersLists) {
  EXPECT_EQ(StepBitrate(256, 2, +1), 320);
  EXPECT_EQ(StepBitrate(384, 2, +1), 384);
  EXPECT_EQ(StepBitrate(100, 2, +1), 112);
  EXPECT_EQ(StepBitrate(100, 2, -1), 96);
  EXPECT_EQ(StepBitrate(32, 2, -1), 32);
  EXPECT_EQ(StepBitrate(448, 2, -1), 384);
  EXPECT_EQ(StepBitrate(416, 1, +1), 448);
  EXPECT_EQ(StepBitrate(448, 1, +1), 448);
  EXPECT_EQ(StepBitrate(64, 1, -1), 32);
  EXPECT_EQ(StepBitrate(256, kMixedValue, +1), 288);
  EXPECT_EQ(StepBitrate(448, kMixedValue, +1), 448);
  EXPECT_EQ(StepBitrate(kMixedValue, 2, +1), 32);
}

TEST(FieldRules, FrameRateAndRangeSpins) {
  EXPECT_EQ(StepMpegFrameRate(kMixedValue, +1), 30000);
  EXPECT_EQ(StepMpegFrameRate(29970, +1), 30000);
  EXPECT_EQ(StepMpegFrameRate(29970, -1), 28000);
  EXPECT_EQ(StepMpegFrameRate(10000, -1), 10000);
  EXPECT_EQ(StepInRange(kMixedValue, +1, 1, 30), 1);
  EXPECT_EQ(StepInRange(30, +1, 1, 30), 30);
  EXPECT_EQ(StepInRange(5, -1, 1, 30), 4);
}

TEST(FieldRules, LinkedSizeFollowsTheReferencePicture) {
  EXPECT_EQ(LinkedSize(352, 320, 240), 264);
  EXPECT_EQ(LinkedSize(264, 240, 320), 352);
  EXPECT_EQ(LinkedSize(101, 320, 240), 75);  // truncated, not made even
  EXPECT_EQ(LinkedSize(kMixedValue, 320, 240), kMixedValue);
  EXPECT_EQ(LinkedSize(100, 0, 240), kMixedValue);
}

}  // namespace
}  // namespace calvex::ui
