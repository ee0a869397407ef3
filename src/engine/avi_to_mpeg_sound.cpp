// The AVI to MPEG driver's sound path: the video into a temporary video stream, the AVI's audio
// into a temporary Layer I/II stream, then the multiplexer joins both into the destination.
#include <filesystem>

#include "audio_encoder/audio_encoder_driver.h"
#include "core/file_names.h"
#include "core/messages.h"
#include "core/temp_file.h"
#include "engine/avi_to_mpeg_driver.h"
#include "mux/multiplexer.h"

namespace calvex {

Status AviToMpegDriver::EncodeWithSound(AviToMpegJob& job, ConversionSettings& settings,
                                        ConversionContext& context) {
  // The temporary names keep their fixed prefixes and get a unique ending, so conversions into
  // one directory never share them; both are removed on every way out.
  const std::string directory = DirectoryOf(job.destination);
  TemporaryFile video;
  TemporaryFile sound;
  if (!video.Create(directory, std::string(MessageText(274))) ||
      !sound.Create(directory, std::string(MessageText(275))))
    return kTempCreateFailed;

  Status status = EncodeVideo(video.path(), settings, context);
  reader_.Close();
  if (status != kOk) return status;

  AudioEncodeParams& audio = *job.audio;
  // A Video CD needs its sound stream: a silent movie gets silence.
  const int soundKind = settings.aviInfo.HasAudio() ? kAudioSourceAvi : kAudioSourceSilence;
  status = EncodeMpegAudio(job.source, sound.path(), audio, soundKind, &settings, context);
  if (status != kOk) return status;

  // What the audio encoder coded, not what was asked for.
  const mux::MuxParams params{settings.targetRateNum,    settings.targetRateDen,
                              settings.outputFrameCount, audio.audioLayer,
                              audio.audioBitrateKbps,    audio.sampleRateHz};
  mux::Multiplexer multiplexer;
  const mux::MuxFormat format =
      settings.aviToMpeg.videoCd == 1 ? mux::MuxFormat::kVideoCd : mux::MuxFormat::kStandard;
  status = multiplexer.MultiplexSystemStream(job.destination, video.path(), sound.path(),
                                             pictureIndex_, params, context, format);
  if (status != kOk) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(job.destination, ec))
      std::filesystem::remove(job.destination, ec);
  }
  return status;
}

}  // namespace calvex
