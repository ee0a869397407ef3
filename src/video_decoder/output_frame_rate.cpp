#include "video_decoder/output_frame_rate.h"

#include <cstdlib>
#include <numeric>

namespace calvex::video_decoder {
namespace {

// Frames per second in thousandths, cut toward zero.
std::int64_t Thousandths(std::int64_t rate, std::int64_t scale) {
  return rate * 1000 / scale;
}

// ceil(k * num / den) for k, num >= 0 and den > 0, without overflow for the rates met here.
std::int64_t CeilProduct(std::int64_t k, std::int64_t num, std::int64_t den) {
  const std::int64_t whole = k / den, rest = k % den;
  return whole * num + (rest * num + den - 1) / den;
}

}  // namespace

OutputFrameRateChoice ChooseOutputFrameRate(const MpegToAviParams* params, AviFrameRate stream) {
  OutputFrameRateChoice choice{stream, false};
  if (params == nullptr || params->frameRatePacked == 0 || params->frameRatePacked == kMixedValue ||
      stream.rate <= 0 || stream.scale <= 0)
    return choice;
  const auto packed = static_cast<std::uint32_t>(params->frameRatePacked);
  const std::int64_t milli = packed >> 16, scale = packed & 0xFFFF;
  if (milli == 0 || scale == 0) return choice;
  // A difference of up to 2 thousandths is rounding (29.97 typed for 30000/1001).
  if (std::llabs(Thousandths(milli, scale) - Thousandths(stream.rate, stream.scale)) <= 2)
    return choice;
  const std::int64_t common = std::gcd(milli, scale);
  choice.rate = {static_cast<std::int32_t>(milli / common),
                 static_cast<std::int32_t>(scale / common)};
  choice.changed = true;
  return choice;
}

FrameRateChange::FrameRateChange(AviFrameRate source, AviFrameRate output)
    : num_(std::int64_t{source.scale} * output.rate),
      den_(std::int64_t{source.rate} * output.scale) {
  if (num_ <= 0 || den_ <= 0) num_ = den_ = 1;
  const std::int64_t common = std::gcd(num_, den_);
  num_ /= common;
  den_ /= common;
}

// Source picture k is shown from k / source to (k + 1) / source seconds; the output pictures
// that start in that time are ceil(k * num / den) .. ceil((k + 1) * num / den) - 1.
std::int32_t FrameRateChange::CopiesOfNext() {
  const std::int64_t copies = CeilProduct(next_ + 1, num_, den_) - CeilProduct(next_, num_, den_);
  ++next_;
  return static_cast<std::int32_t>(copies);
}

std::int64_t FrameRateChange::OutputPicturesFor(std::int64_t sourcePictures) const {
  return sourcePictures <= 0 ? 0 : CeilProduct(sourcePictures, num_, den_);
}

}  // namespace calvex::video_decoder
