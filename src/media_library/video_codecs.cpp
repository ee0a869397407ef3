#include "media_library/video_codecs.h"

#include <algorithm>
#include <cmath>

namespace calvex::media::detail {
namespace {

// Cinepak and Microsoft Video 1 code whole 4x4 blocks and have no rate control; MPEG-4 is written
// under Xvid's code, which players everywhere know; FFV1 is coded intra-only so that every frame is
// a key frame.
constexpr VideoCodecSpec kCodecs[] = {
    {0, 0, "Full Frames (Uncompressed)", nullptr, AV_PIX_FMT_BGR24, 0, 10000, 1, 1, true},
    {Fourcc('c', 'v', 'i', 'd'), 0, "Cinepak Codec", "cinepak", AV_PIX_FMT_RGB24,
     kCodecQuality | kCodecTemporal, 7500, 15, 4, false},
    {Fourcc('M', 'S', 'V', 'C'), Fourcc('C', 'R', 'A', 'M'), "Microsoft Video 1", "msvideo1",
     AV_PIX_FMT_RGB555, kCodecTemporal, 7500, 15, 4, false},
    {Fourcc('M', 'J', 'P', 'G'), 0, "Motion JPEG", "mjpeg", AV_PIX_FMT_YUVJ420P,
     kCodecQuality | kCodecDataRate, 8500, 1, 1, false},
    {Fourcc('H', 'F', 'Y', 'U'), 0, "HuffYUV (lossless)", "huffyuv", AV_PIX_FMT_RGB24, 0, 10000, 1,
     1, false},
    {Fourcc('F', 'F', 'V', '1'), 0, "FFV1 (lossless)", "ffv1", AV_PIX_FMT_BGR0, 0, 10000, 1, 1,
     false},
    {Fourcc('X', 'V', 'I', 'D'), Fourcc('D', 'I', 'V', 'X'), "MPEG-4 Part 2 (Xvid compatible)",
     "mpeg4", AV_PIX_FMT_YUV420P, kCodecQuality | kCodecDataRate | kCodecTemporal, 7500, 15, 2,
     false},
};

// Four-character codes compare without regard to letter case.
bool SameCode(std::uint32_t a, std::uint32_t b) {
  return (a | 0x20202020u) == (b | 0x20202020u);
}

}  // namespace

const std::vector<const VideoCodecSpec*>& AvailableVideoCodecs() {
  static const std::vector<const VideoCodecSpec*> available = [] {
    std::vector<const VideoCodecSpec*> list;
    for (const VideoCodecSpec& c : kCodecs)
      if (c.encoder == nullptr || avcodec_find_encoder_by_name(c.encoder) != nullptr)
        list.push_back(&c);
    return list;
  }();
  return available;
}

const VideoCodecSpec* FindVideoCodec(std::uint32_t fourcc) {
  for (const VideoCodecSpec* c : AvailableVideoCodecs()) {
    if (fourcc == 0 ? c->fourcc == 0
                    : c->fourcc != 0 && (SameCode(c->fourcc, fourcc) ||
                                         (c->alsoKnownAs != 0 && SameCode(c->alsoKnownAs, fourcc))))
      return c;
  }
  return nullptr;
}

int QualityToQscale(std::int32_t quality, std::int32_t defaultQuality) {
  if (quality <= 0) quality = defaultQuality;
  quality = std::clamp(quality, 1, 10000);
  // Geometric: each quarter of the range below the best doubles the quantiser, from 2 at 10000
  // to 31 at 0, so that the scale is even to the eye.
  const double q = 2.0 * std::pow(15.5, (10000.0 - quality) / 10000.0);
  return std::clamp(static_cast<int>(std::lround(q)), 2, 31);
}

}  // namespace calvex::media::detail
