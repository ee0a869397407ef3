#include "ui/pages/field_rules.h"

#include <algorithm>
#include <cmath>

#include "core/settings.h"

namespace calvex::ui {

std::int32_t ParseIntField(const QString& text) {
  const QString t = text.trimmed();
  if (t.isEmpty()) return kMixedValue;
  if (t.size() > 9) return kInvalidField;
  std::int32_t v = 0;
  for (const QChar c : t) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return kInvalidField;
    v = v * 10 + (c.unicode() - '0');
  }
  return v;
}

QString IntFieldText(std::int32_t value) {
  return value == kMixedValue ? QString() : QString::number(value);
}

std::int32_t ParseThousandthsField(const QString& text) {
  const QString t = text.trimmed();
  if (t.isEmpty()) return kMixedValue;
  const qsizetype dot = t.indexOf(QLatin1Char('.'));
  const QString whole = dot < 0 ? t : t.left(dot);
  QString fraction = dot < 0 ? QString() : t.mid(dot + 1);
  if (fraction.size() > 3 || (whole.isEmpty() && fraction.isEmpty())) return kInvalidField;
  const std::int32_t w = whole.isEmpty() ? 0 : ParseIntField(whole);
  if (w == kInvalidField || w > 2000000) return kInvalidField;
  while (fraction.size() < 3) fraction += QLatin1Char('0');
  const std::int32_t f = ParseIntField(fraction);
  if (f == kInvalidField) return kInvalidField;
  return w * 1000 + f;
}

QString ThousandthsText(std::int32_t thousandths) {
  if (thousandths == kMixedValue) return {};
  QString text = QString::asprintf("%d.%03d", thousandths / 1000, thousandths % 1000);
  while (text.endsWith(QLatin1Char('0'))) text.chop(1);
  if (text.endsWith(QLatin1Char('.'))) text.chop(1);
  return text;
}

std::int32_t StepAviSize(std::int32_t value, int direction) {
  if (value == kMixedValue || value == kInvalidField) return 160;
  std::int32_t v = value + 2 * direction;
  v = std::max(v, 64);
  if (v % 2 != 0) ++v;
  return std::min(v, 352);
}

std::int32_t StepAviDataRate(std::int32_t value, int direction) {
  if (value == kMixedValue || value == kInvalidField) return 150;
  std::int32_t v = direction > 0 ? (value / 10 + 1) * 10 : ((value + 9) / 10 - 1) * 10;
  return std::clamp(v, 60, 200);
}

const std::vector<std::int32_t>& BitrateList(std::int32_t layer) {
  static const std::vector<std::int32_t> kLayer1 = [] {
    std::vector<std::int32_t> v;
    for (int r = 32; r <= 448; r += 32) v.push_back(r);
    return v;
  }();
  static const std::vector<std::int32_t> kLayer2 = {32,  48,  56,  64,  80,  96,  112,
                                                    128, 160, 192, 224, 256, 320, 384};
  static const std::vector<std::int32_t> kMixed = [] {
    std::vector<std::int32_t> v = {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256};
    for (int r = 288; r <= 448; r += 32) v.push_back(r);
    return v;
  }();
  if (layer == 1) return kLayer1;
  if (layer == 2) return kLayer2;
  return kMixed;
}

std::int32_t StepBitrate(std::int32_t value, std::int32_t layer, int direction) {
  const std::vector<std::int32_t>& list = BitrateList(layer);
  const std::int32_t v = (value == kMixedValue || value == kInvalidField) ? 0 : value;
  if (direction > 0) {
    const auto next = std::upper_bound(list.begin(), list.end(), v);
    return next == list.end() ? list.back() : *next;
  }
  const auto lower = std::lower_bound(list.begin(), list.end(), v);
  return lower == list.begin() ? list.front() : *(lower - 1);
}

std::int32_t StepMpegFrameRate(std::int32_t thousandths, int direction) {
  if (thousandths == kMixedValue || thousandths == kInvalidField) return 30000;
  return std::clamp(thousandths / 1000 + direction, 10, 30) * 1000;
}

std::int32_t StepInRange(std::int32_t value, int direction, std::int32_t low, std::int32_t high) {
  if (value == kMixedValue || value == kInvalidField) return low;
  return std::clamp(value + direction, low, high);
}

std::int32_t LinkedSize(std::int32_t value, std::int32_t referenceThis,
                        std::int32_t referenceOther) {
  if (value == kMixedValue || value == kInvalidField || referenceThis <= 0 || referenceOther <= 0)
    return kMixedValue;
  return static_cast<std::int32_t>(
      std::trunc(static_cast<double>(referenceOther) / static_cast<double>(referenceThis) * value));
}

}  // namespace calvex::ui
