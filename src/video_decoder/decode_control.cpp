#include "video_decoder/decode_control.h"

namespace calvex::video_decoder {

FrameRate FrameRateForCode(int pictureRateCode) {
  static constexpr FrameRate kRates[11] = {{30, 1},       {24000, 1001}, {24, 1}, {25, 1},
                                           {30000, 1001}, {30, 1},       {50, 1}, {60000, 1001},
                                           {60, 1},       {15, 1},       {10, 1}};
  if (pictureRateCode < 1 || pictureRateCode > 10) return {30, 1};
  return kRates[pictureRateCode];
}

void SetTimeCodeBase(DecodeControl& control, std::int32_t rate, std::int32_t scale) {
  float fps = static_cast<float>(rate) / static_cast<float>(scale > 0 ? scale : 1);
  if (scale != 1001) fps = static_cast<float>(static_cast<std::int64_t>(fps * 100.0f)) * 0.01f;
  if (fps <= 0) fps = 1;
  control.fps = fps;
  control.fpsWhole = static_cast<std::int32_t>(fps + 0.5f);
  if (control.fpsWhole < 1) control.fpsWhole = 1;
}

void FillTimeCode(const DecodeControl& control, std::int32_t frameCount, DecodedFrameInfo& info) {
  const std::int64_t m = std::int64_t{frameCount} + 1;
  info.fraction = static_cast<std::int32_t>(m % control.fpsWhole);
  const auto t = static_cast<std::int64_t>(static_cast<float>(m) / control.fps);
  info.seconds = static_cast<std::int32_t>(t % 60);
  info.minutes = static_cast<std::int32_t>((t / 60) % 60);
  info.hours = static_cast<std::int32_t>(t / 3600);
}

}  // namespace calvex::video_decoder
