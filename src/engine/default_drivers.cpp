// Each subsystem wires its driver or reader on its own line below (a line apart from the others,
// so that the changes of different subsystems merge without touching each other).
#include "engine/default_drivers.h"

#include "media_library/media_library.h"

// AVI to MPEG driver header:
#include "engine/avi_to_mpeg_driver.h"

// WAV to MP2 driver header:
#include "audio_encoder/audio_encoder_driver.h"

// MPEG to AVI driver header:
#include "video_decoder/mpeg_to_avi_driver.h"

// MP2 to WAV driver header:
#include "audio_decoder/mp2_to_wav.h"

namespace calvex {
namespace {

// The answer of a conversion whose driver has not landed yet.
template <typename Job>
Status NotYet(Job&, ConversionContext&) {
  return kNotSupported;
}

template <typename Info>
Status NoReaderYet(const std::string&, Info&) {
  return kNotSupported;
}

// Whether a driver is wired (anything but NotYet).
template <typename Job>
bool Wired(const std::function<Status(Job&, ConversionContext&)>& driver) {
  using Function = Status (*)(Job&, ConversionContext&);
  const Function* f = driver.template target<Function>();
  return driver && (f == nullptr || *f != &NotYet<Job>);
}

Status ConvertAviAudioToPcm(PcmConversionJob& job, ConversionContext& context) {
  return media::ConvertToPCM(job.source, job.pcmPath, job.format, context);
}

}  // namespace

DriverSet DefaultDrivers() {
  DriverSet d;
  d.convertToPcm = ConvertAviAudioToPcm;

  d.aviToMpeg = ConvertAviToMpeg;

  d.wavToMp2 = ConvertWavToMp2;

  d.mpegToAvi = video_decoder::ConvertMpegToAvi;

  d.mp2ToWav = audio_decoder::ConvertMp2ToWav;

  return d;
}

InfoReaders DefaultInfoReaders() {
  InfoReaders r;
  r.avi = media::RAVIGetInfo;

  r.wav = media::ReadWavInfo;

  r.mpeg = video_decoder::ReadMpegInfo;

  r.mp2 = audio_decoder::ReadMp2Info;

  return r;
}

bool DriverAvailable(ConversionKind kind) {
  const DriverSet d = DefaultDrivers();
  switch (kind) {
    case ConversionKind::kAviToMpeg:
      return Wired(d.aviToMpeg);
    case ConversionKind::kWavToMp2:
      return Wired(d.wavToMp2);
    case ConversionKind::kMpegToAvi:
      return Wired(d.mpegToAvi);
    case ConversionKind::kMp2ToWav:
      return Wired(d.mp2ToWav);
    case ConversionKind::kNone:
      break;
  }
  return false;
}

}  // namespace calvex
