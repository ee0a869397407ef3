// WavWriter (being built; answers 142 until it lands).
#include "media_library/media_library.h"

namespace calvex::media {

struct WavWriter::Impl {};
WavWriter::WavWriter() = default;
WavWriter::~WavWriter() = default;
Status WavWriter::myWAVOutputBegin(const std::string&, const WaveFormat&, std::int32_t,
                                   std::int32_t, std::int32_t) {
  return kNotSupported;
}
Status WavWriter::myWAVOutput(const std::int16_t*, std::int32_t) {
  return kNotSupported;
}
Status WavWriter::myWAVOutputEnd() {
  return kNotSupported;
}

}  // namespace calvex::media
