#include "video_encoder/stream_headers.h"

namespace calvex::video {

bool MeetsConstrainedParameters(int width, int height, int rateNum, int rateDen,
                                std::uint32_t bitRate) {
  if (width > 768 || height > 576) return false;
  const std::int64_t mbs = static_cast<std::int64_t>((width + 15) / 16) * ((height + 15) / 16);
  if (mbs > 396) return false;
  // macroblocks per second = mbs x rateNum / rateDen <= 396 x 25
  if (rateDen <= 0 || mbs * rateNum > static_cast<std::int64_t>(396 * 25) * rateDen) return false;
  const std::uint64_t coded = (static_cast<std::uint64_t>(bitRate) + 399) / 400;
  return coded * 400 <= 1856000;
}

void WriteSequenceHeader(BitWriter& w, const SequenceHeaderFields& f) {
  w.Align();
  w.PutBits(0x000001B3, 32);
  w.PutBits(static_cast<std::uint32_t>(f.width), 12);
  w.PutBits(static_cast<std::uint32_t>(f.height), 12);
  w.PutBits(1, 4);  // pel_aspect_ratio: square
  w.PutBits(static_cast<std::uint32_t>(f.pictureRateCode), 4);
  std::uint64_t rate = (static_cast<std::uint64_t>(f.bitRate) + 399) / 400;
  if (rate < 1) rate = 1;
  if (rate > 0x3FFFE) rate = 0x3FFFE;  // 0x3FFFF would mean a variable rate
  w.PutBits(static_cast<std::uint32_t>(rate), 18);
  w.PutBits(1, 1);    // marker_bit
  w.PutBits(20, 10);  // vbv_buffer_size
  w.PutBits(f.constrainedParameters ? 1 : 0, 1);
  w.PutBits(0, 1);  // load_intra_quantizer_matrix
  w.PutBits(0, 1);  // load_non_intra_quantizer_matrix
}

std::uint32_t TimeCode(int n, int roundedFps, bool dropFrame) {
  const std::uint32_t pictures = static_cast<std::uint32_t>(n % roundedFps);
  const int s = n / roundedFps;
  const std::uint32_t seconds = static_cast<std::uint32_t>(s % 60);
  const std::uint32_t minutes = static_cast<std::uint32_t>((s / 60) % 60);
  const std::uint32_t hours = static_cast<std::uint32_t>((s / 3600) % 24);
  return (dropFrame ? 1u << 24 : 0u) | hours << 19 | minutes << 13 | 1u << 12 | seconds << 6 |
         pictures;
}

void WriteGroupHeader(BitWriter& w, std::uint32_t timeCode, bool closedGop) {
  w.Align();
  w.PutBits(0x000001B8, 32);
  w.PutBits(timeCode, 25);
  w.PutBits(closedGop ? 1 : 0, 1);
  w.PutBits(0, 1);  // broken_link
}

void WriteSequenceEnd(BitWriter& w) {
  w.Align();
  w.PutBits(0x000001B7, 32);
}

}  // namespace calvex::video
