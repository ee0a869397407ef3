#include "ui/playback/media_sources.h"

#include "core/settings.h"
#include "ui/playback/media_sources_impl.h"

namespace calvex::ui::playback {

// Rates and scales hold 16 bits (AVI) or less (MPEG): the products below stay within 64 bits.
std::int64_t FrameTime(const MediaInfo& info, std::int64_t frame) {
  if (info.rate <= 0 || frame <= 0) return 0;
  const std::int64_t q = frame * info.scale;
  return q / info.rate * 1000000 + q % info.rate * 1000000 / info.rate;
}

std::int32_t FrameAt(const MediaInfo& info, std::int64_t us) {
  if (info.scale <= 0 || us <= 0) return 0;
  const std::int64_t d = std::int64_t{info.scale} * 1000000;
  return static_cast<std::int32_t>(us / d * info.rate + us % d * info.rate / d);
}

Status OpenMedia(const std::string& path, const video_decoder::ScanCallbacks& scan,
                 OpenedMedia& media) {
  media = {};
  switch (KindByExtension(path)) {
    case ConversionKind::kAviToMpeg:
      return OpenAvi(path, media);
    case ConversionKind::kWavToMp2:
      return OpenWav(path, media);
    case ConversionKind::kMpegToAvi:
      return OpenMpeg(path, scan, media);
    default:
      return kNotSupported;
  }
}

}  // namespace calvex::ui::playback
