#include "engine/default_drivers.h"

#include "audio_decoder/mp2_to_wav.h"
#include "audio_encoder/audio_encoder_driver.h"
#include "engine/avi_to_mpeg_driver.h"
#include "media_library/media_library.h"
#include "video_decoder/mpeg_to_avi_driver.h"

namespace calvex {
namespace {

Status ConvertAviAudioToPcm(PcmConversionJob& job, ConversionContext& context) {
  return media::ConvertToPCM(job.source, job.pcmPath, job.format, context, job.sampleRateHz,
                             job.channels);
}

Status CountSourceFrames(FrameCountJob& job, ConversionContext& context) {
  switch (job.kind) {
    case ConversionKind::kAviToMpeg:
      return media::AviFrameCount(job.source, job.frames);
    case ConversionKind::kMpegToAvi:
      return video_decoder::CountMpegFrames(job.source, job.frames, context);
    default:
      return kNotSupported;
  }
}

}  // namespace

DriverSet DefaultDrivers() {
  DriverSet d;
  d.convertToPcm = ConvertAviAudioToPcm;
  d.aviToMpeg = ConvertAviToMpeg;
  d.wavToMp2 = ConvertWavToMp2;
  d.mpegToAvi = video_decoder::ConvertMpegToAvi;
  d.mp2ToWav = audio_decoder::ConvertMp2ToWav;
  d.countFrames = CountSourceFrames;
  return d;
}

InfoReaders DefaultInfoReaders() {
  InfoReaders r;
  r.avi = media::RAVIGetInfo;
  r.wav = media::ReadWavInfo;
  r.mpeg = video_decoder::ReadMpegInfo;
  r.mp2 = audio_decoder::ReadMp2Info;
  r.mpegAndPicture = video_decoder::ReadMpegInfoAndPicture;
  r.aviAudioSampleRate = media::AviAudioSampleRate;
  return r;
}

}  // namespace calvex
