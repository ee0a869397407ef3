// AviAudioReader and ConvertToPCM: the audio track of an AVI as PCM, for the whole file or for a
// section given in video frames.
#include <algorithm>
#include <cstdio>
#include <vector>

extern "C" {
#include <libavutil/opt.h>
}

#include "media_library/avi_source.h"
#include "media_library/file_util.h"
#include "media_library/media_library.h"
#include "media_library/pcm_decoder.h"

namespace calvex::media {

using namespace detail;

struct AviAudioReader::Impl {
  AviFile file;
  PcmDecoder decoder;
  std::int64_t remaining = 0;

  Status Open(const std::string& path, WaveFormat& format, AudioSectionRequest& section);
  void Read(std::uint8_t* buffer, std::int32_t& sampleFrames);
};

namespace {

// The audio sample frame at which video frame `frame` starts, rounded to the nearest sample.
std::int64_t SampleAtVideoFrame(const AVStream& video, int sampleRate, std::int64_t frame) {
  return av_rescale_rnd(frame, static_cast<std::int64_t>(video.time_base.num) * sampleRate,
                        video.time_base.den, AV_ROUND_NEAR_INF);
}

// The times come from the video's frame duration, which a header may set to months: a section
// takes no more of the `held` sample frames than the sound holds.
void SectionSamples(const AVStream& video, int sampleRate, std::int32_t firstFrame,
                    std::int32_t frameCount, std::int64_t held, std::int64_t& start,
                    std::int64_t& count) {
  const std::int64_t first = std::max<std::int32_t>(firstFrame, 0);
  const std::int64_t frames = std::max<std::int32_t>(frameCount, 0);
  held = std::max<std::int64_t>(held, 0);
  start = std::min(SampleAtVideoFrame(video, sampleRate, first), held);
  count = std::clamp(SampleAtVideoFrame(video, sampleRate, first + frames), start, held) - start;
}

}  // namespace

Status AviSectionSamples(const std::string& path, std::int32_t sampleRate, std::int32_t firstFrame,
                         std::int32_t frameCount, std::int64_t held, std::int64_t& start,
                         std::int64_t& count) {
  AviFile file;
  if (const Status s = OpenAviFile(path, file); s != kOk) return s;
  const AVStream* video = file.VideoStream();
  if (video == nullptr) return kAviNoVideo;
  SectionSamples(*video, sampleRate, firstFrame, frameCount, held, start, count);
  return kOk;
}

Status AviAudioReader::Impl::Open(const std::string& path, WaveFormat& format,
                                  AudioSectionRequest& section) {
  if (const Status s = OpenAviFile(path, file); s != kOk) return s;
  if (file.audio < 0) return kAviNoAudio;
  if (const Status s = decoder.Open(file.format.get(), file.audio); s != kOk) return s;
  format = decoder.Format();

  // The header's length, but no more than the data holds: a header may claim any length, and
  // what it claims beyond the data would be made up with silence.
  std::int64_t total = AudioSampleFrames(*file.AudioStream());
  std::int64_t held = HeldAudioSampleFrames(file);
  if (held < 0 || total <= 0) held = CountDecodedSamples(path, "avi");
  total = total > 0 ? std::min(total, held) : held;
  std::int64_t start = 0;
  remaining = total;
  const AVStream* video = file.VideoStream();
  if (section.totalVideoFrames != 0 && video != nullptr)
    SectionSamples(*video, static_cast<int>(format.samplesPerSec), section.firstFrame,
                   section.frameCount, total, start, remaining);
  if (start > 0) decoder.Seek(start);
  section.frameCount = static_cast<std::int32_t>(std::min<std::int64_t>(remaining, INT32_MAX));
  return kOk;
}

void AviAudioReader::Impl::Read(std::uint8_t* buffer, std::int32_t& sampleFrames) {
  const std::int64_t wanted = std::min<std::int64_t>(std::max(sampleFrames, 0), remaining);
  std::int64_t got = decoder.Read(buffer, wanted);
  if (got < wanted) {
    // The stream ended before its announced length: the rest is silence, so the count the
    // caller was promised holds.
    const WaveFormat& f = decoder.Format();
    std::fill(buffer + got * f.blockAlign, buffer + wanted * f.blockAlign,
              f.bitsPerSample == 8 ? 0x80 : 0);
    got = wanted;
  }
  remaining -= got;
  sampleFrames = static_cast<std::int32_t>(got);
}

AviAudioReader::AviAudioReader() = default;
AviAudioReader::~AviAudioReader() = default;

Status AviAudioReader::RAVIAudioOpen(const std::string& path, WaveFormat& format,
                                     AudioSectionRequest& section) {
  impl_ = std::make_unique<Impl>();
  const Status s = impl_->Open(path, format, section);
  if (s != kOk) impl_.reset();
  return s;
}

Status AviAudioReader::RAVIAudioRead(std::uint8_t* buffer, std::int32_t& sampleFrames) {
  if (!impl_) {
    sampleFrames = 0;
    return kAviNoAudio;
  }
  impl_->Read(buffer, sampleFrames);
  return kOk;
}

void AviAudioReader::RAVIAudioClose() {
  impl_.reset();
}

namespace {

ProgressRecord AudioTime(std::int64_t samples, std::uint32_t rate) {
  ProgressRecord r;
  const std::int64_t tenths = rate > 0 ? samples * 10 / rate : 0;
  r.fraction = static_cast<std::int32_t>(tenths % 10);
  r.seconds = static_cast<std::int32_t>(tenths / 10 % 60);
  r.minutes = static_cast<std::int32_t>(tenths / 600 % 60);
  r.hours = static_cast<std::int32_t>(tenths / 36000);
  return r;
}

// Writes what `reader` delivers, through `resampler` when there is one (interleaved 16-bit out).
Status WritePcm(AviAudioReader& reader, std::int64_t total, const WaveFormat& format,
                SwrContext* resampler, const WaveFormat& written, std::FILE* out,
                ConversionContext& context) {
  constexpr std::int32_t kChunk = 16384;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(kChunk) * format.blockAlign);
  std::vector<std::uint8_t> converted;
  std::int64_t done = 0;
  for (bool draining = false;;) {
    std::int32_t n = 0;
    if (!draining) {
      n = kChunk;
      reader.RAVIAudioRead(buffer.data(), n);
    }
    if (n <= 0) {
      if (resampler == nullptr || draining) break;
      draining = true;  // then what the resampler still holds
      n = 0;
    }
    const std::uint8_t* data = buffer.data();
    std::size_t bytes = static_cast<std::size_t>(n) * format.blockAlign;
    if (resampler != nullptr) {
      const int room = swr_get_out_samples(resampler, n);
      converted.resize(static_cast<std::size_t>(std::max(room, 0)) * written.blockAlign);
      std::uint8_t* outPlanes[1] = {converted.data()};
      const std::uint8_t* inPlanes[1] = {buffer.data()};
      const int made =
          swr_convert(resampler, outPlanes, std::max(room, 0), draining ? nullptr : inPlanes, n);
      if (made < 0) return kAudioFormatUnreadable;
      data = converted.data();
      bytes = static_cast<std::size_t>(made) * written.blockAlign;
      if (draining && made == 0) break;
    }
    if (std::fwrite(data, 1, bytes, out) != bytes) {
      context.RaiseDiskFull();
      return kDiskFull;
    }
    done += n;
    const int thousandths = total > 0 ? static_cast<int>(done * 1000 / total) : 1000;
    if (context.Progress(AudioTime(done, format.samplesPerSec), ProgressKind::kAudio, thousandths))
      return kCancelled;
  }
  return kOk;
}

// A resampler from `from` to 16-bit PCM with `to`'s rate and channels.
SwrPtr MakeResampler(const WaveFormat& from, const WaveFormat& to) {
  AVChannelLayout in{}, out{};
  av_channel_layout_default(&in, from.channels);
  av_channel_layout_default(&out, to.channels);
  SwrContext* swr = nullptr;
  const int r =
      swr_alloc_set_opts2(&swr, &out, AV_SAMPLE_FMT_S16, static_cast<int>(to.samplesPerSec), &in,
                          from.bitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16,
                          static_cast<int>(from.samplesPerSec), 0, nullptr);
  SwrPtr resampler(swr);
  av_channel_layout_uninit(&in);
  av_channel_layout_uninit(&out);
  if (r < 0) return nullptr;
  // Integer filtering: the samples come out the same on every CPU.
  av_opt_set_sample_fmt(swr, "internal_sample_fmt", AV_SAMPLE_FMT_S16P, 0);
  if (!SetPlainChannelMatrix(swr, from.channels, to.channels) || swr_init(swr) < 0) return nullptr;
  return resampler;
}

}  // namespace

Status ConvertToPCM(const std::string& aviPath, const std::string& pcmPath, WaveFormat& format,
                    ConversionContext& context, int sampleRateHz, int channels) {
  AviAudioReader reader;
  AudioSectionRequest whole;
  WaveFormat f;
  if (const Status s = reader.RAVIAudioOpen(aviPath, f, whole); s != kOk) return s;
  WaveFormat written = f;
  SwrPtr resampler;
  const bool rateChanges =
      sampleRateHz > 0 && static_cast<std::uint32_t>(sampleRateHz) != f.samplesPerSec;
  const bool channelsChange = channels > 0 && channels != f.channels;
  if (rateChanges || channelsChange) {
    written = MakePcmFormat(channelsChange ? channels : f.channels,
                            rateChanges ? sampleRateHz : static_cast<int>(f.samplesPerSec), 16);
    resampler = MakeResampler(f, written);
    if (!resampler) return kAudioFormatUnreadable;
  }
  std::FILE* out = std::fopen(pcmPath.c_str(), "wb");
  if (out == nullptr) return kTempCreateFailed;
  Status s = WritePcm(reader, whole.frameCount, f, resampler.get(), written, out, context);
  if (std::fclose(out) != 0 && s == kOk) {
    context.RaiseDiskFull();
    s = kDiskFull;
  }
  if (s != kOk) {
    RemoveUnfinishedFile(pcmPath);
    return s;
  }
  format = written;
  return kOk;
}

}  // namespace calvex::media
