// The rules of the parameter pages' fields that do not depend on widgets: reading a field's text
// into a record value (blank = kMixedValue), writing it back, the steps of the spin buttons and
// the linked width and height.
#pragma once

#include <QString>
#include <climits>
#include <cstdint>
#include <vector>

namespace calvex::ui {

// A field whose text is not a number: fails every range check with that field's bounds.
inline constexpr std::int32_t kInvalidField = INT32_MIN;

// Whole numbers: blank gives kMixedValue, digits give their value, anything else kInvalidField.
std::int32_t ParseIntField(const QString& text);
QString IntFieldText(std::int32_t value);

// Numbers with up to three decimals, returned in thousandths ("29.97" gives 29970).
std::int32_t ParseThousandthsField(const QString& text);
// Thousandths as the shortest text that keeps them ("30", "29.97", "23.976").
QString ThousandthsText(std::int32_t thousandths);

// The AVI to MPEG page's width and height spins: step 2, blank becomes 160, at least 64, odd
// values raised by 1, at most 352.
std::int32_t StepAviSize(std::int32_t value, int direction);
// The AVI to MPEG data rate spin: to the next multiple of 10 in the direction, blank becomes
// 150, 60..200.
std::int32_t StepAviDataRate(std::int32_t value, int direction);
// The audio bitrate spins: the next value of the layer's list (1, 2, or kMixedValue for a mixed
// selection), staying put at its ends.
std::int32_t StepBitrate(std::int32_t value, std::int32_t layer, int direction);
const std::vector<std::int32_t>& BitrateList(std::int32_t layer);
// The MPEG to AVI frame rate spin, in thousandths: 1 on the whole part, blank becomes 30
// (without a step), 10..30.
std::int32_t StepMpegFrameRate(std::int32_t thousandths, int direction);
// A plain spin with a range: 1 per step, blank becomes the low end.
std::int32_t StepInRange(std::int32_t value, int direction, std::int32_t low, std::int32_t high);

// Linked width and height: the other side for `value`, from the reference picture size
// (trunc(referenceOther / referenceThis x value)). Nothing (kMixedValue) without a reference or
// for a blank or invalid value.
std::int32_t LinkedSize(std::int32_t value, std::int32_t referenceThis,
                        std::int32_t referenceOther);

}  // namespace calvex::ui
