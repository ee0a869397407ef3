// Temporary stand-in so that callers can link while the FFmpeg-backed layer is being built.
#include "media_library/media_library.h"

namespace calvex::media {

Status RAVIGetInfo(const std::string&, AviInfo&) {
  return kNotSupported;
}
Status ConvertToPCM(const std::string&, const std::string&, WaveFormat&, ConversionContext&) {
  return kNotSupported;
}

struct AviReader::Impl {};
AviReader::AviReader() = default;
AviReader::~AviReader() = default;
Status AviReader::RAVIOpen(const std::string&, BitmapInfoHeader&, AviOpenInfo&) {
  return kNotSupported;
}
Status AviReader::RAVIGetFrame(std::int32_t, std::uint8_t*) {
  return kNotSupported;
}
void AviReader::RAVIClose() {}

struct AviAudioReader::Impl {};
AviAudioReader::AviAudioReader() = default;
AviAudioReader::~AviAudioReader() = default;
Status AviAudioReader::RAVIAudioOpen(const std::string&, WaveFormat&, AudioSectionRequest&) {
  return kNotSupported;
}
Status AviAudioReader::RAVIAudioRead(std::uint8_t*, std::int32_t&) {
  return kNotSupported;
}
void AviAudioReader::RAVIAudioClose() {}

struct WaveReader::Impl {};
WaveReader::WaveReader() = default;
WaveReader::~WaveReader() = default;
Status WaveReader::OpenWaveFile(const std::string&, WaveRecord&) {
  return kNotSupported;
}
Status WaveReader::ReadWave(std::uint8_t*, std::size_t, std::size_t&) {
  return kNotSupported;
}
void WaveReader::CloseWaveFile() {}

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
