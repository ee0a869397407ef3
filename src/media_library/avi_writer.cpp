// AviWriter (being built; answers 142 until it lands).
#include "media_library/media_library.h"

namespace calvex::media {

struct AviWriter::Impl {};
AviWriter::AviWriter() = default;
AviWriter::~AviWriter() = default;
Status AviWriter::aviSaveBegin(const BitmapInfoHeader&, const WaveFormat*, const AviStreamInfo&,
                               const std::string&, const MpegToAviParams&, std::int32_t,
                               const std::string&) {
  return kNotSupported;
}
Status AviWriter::aviSaveFrames(const BitmapInfoHeader&, const std::uint8_t*, std::int32_t) {
  return kNotSupported;
}
Status AviWriter::aviSaveEnd() {
  return kNotSupported;
}

}  // namespace calvex::media
