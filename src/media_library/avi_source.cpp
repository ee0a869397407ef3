#include "media_library/avi_source.h"

extern "C" {
#include <libavutil/rational.h>
}

#include <algorithm>

namespace calvex::media::detail {

Status OpenAviFile(const std::string& path, AviFile& file) {
  file.path = path;
  file.format = OpenInput(path, "avi");
  if (!file.format) return kMediaAviOpen1;
  file.video = FindStream(file.format.get(), AVMEDIA_TYPE_VIDEO);
  file.audio = FindStream(file.format.get(), AVMEDIA_TYPE_AUDIO);
  return kOk;
}

std::uint32_t PackedFrameRate(const AVStream& video) {
  AVRational rate = av_inv_q(video.time_base);
  if (rate.num <= 0 || rate.den <= 0) rate = video.r_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) return 0;
  int num = 0;
  int den = 0;
  av_reduce(&num, &den, rate.num, rate.den, 65535);
  return static_cast<std::uint32_t>(num) << 16 | static_cast<std::uint32_t>(den);
}

StreamChunks ChunksOf(AviFile& file, int index) {
  if (index < 0) return {};
  // The demuxer numbers the streams in the order of their headers, as the chunk ids do.
  if (!file.chunks) file.chunks = TallyChunks(file.path, static_cast<int>(file.format->nb_streams));
  return index < static_cast<int>(file.chunks->size())
             ? (*file.chunks)[static_cast<std::size_t>(index)]
             : StreamChunks{};
}

std::int64_t VideoFrameCount(AviFile& file) {
  const AVStream* video = file.VideoStream();
  if (video == nullptr) return 0;
  const std::int64_t held = ChunksOf(file, file.video).chunks;
  const std::int64_t declared = video->nb_frames > 0 ? video->nb_frames : video->duration;
  return declared > 0 ? std::min(declared, held) : held;
}

std::int64_t AudioSampleFrames(const AVStream& audio) {
  std::int64_t length = audio.nb_frames > 0 ? audio.nb_frames : audio.duration;
  if (length <= 0) return 0;
  const std::int64_t rate = audio.codecpar->sample_rate;
  return av_rescale(length, static_cast<std::int64_t>(audio.time_base.num) * rate,
                    audio.time_base.den);
}

std::int64_t HeldAudioSampleFrames(AviFile& file) {
  const AVStream* audio = file.AudioStream();
  if (audio == nullptr) return 0;
  // PCM holds exactly this many; ADPCM, whose blocks start with a few bytes of state, fewer.
  const std::int64_t bits = av_get_exact_bits_per_sample(audio->codecpar->codec_id);
  const std::int64_t channels = audio->codecpar->ch_layout.nb_channels;
  if (bits <= 0 || channels <= 0) return -1;
  return ChunksOf(file, file.audio).bytes * 8 / (bits * channels);
}

}  // namespace calvex::media::detail
