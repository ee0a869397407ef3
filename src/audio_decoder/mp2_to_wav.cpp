#include "audio_decoder/mp2_to_wav.h"

#include <filesystem>

#include "audio_decoder/decode_mpeg_audio.h"

namespace calvex::audio_decoder {

Status ConvertMp2ToWav(Mp2ToWavJob& job, ConversionContext& context) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(job.source, ec);
  if (ec) return kOpenFailed;
  if (size == 0) return kEmptySource;

  AudioDecodeRequest request;
  request.source = job.source;
  request.sink = AudioSinkKind::kWavFile;
  request.destination = job.destination;
  request.output.rateDivisor = job.rateDivisor;
  request.output.bitsPerSample = job.bitsPerSample;
  request.wavFormat = job.format;
  request.sourceSize = static_cast<std::int64_t>(size);
  // No video: total frames, rate and scale stay 0, so no frame range applies.
  AudioDecodeResult result;
  return DecodeMpegAudio(request, context, result);
}

Status ReadMp2Info(const std::string& path, Mp2Info& info) {
  AudioDescription d;
  const Status s = ReadMpegAudioDescription(path, false, d);
  if (s != kOk) return s;
  info.sampleRate = d.sampleRate;
  info.bitsPerSample = d.bits;
  info.unused = d.channels;
  info.layer = d.layer;
  info.bitrateIndex = d.bitrateIndex;
  info.channelMode = d.ChannelMode();
  return kOk;
}

}  // namespace calvex::audio_decoder
