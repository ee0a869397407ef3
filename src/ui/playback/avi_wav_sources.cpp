// AVI pictures and sound, and WAV sound, through the media layer's readers.
#include <algorithm>
#include <cstring>
#include <vector>

#include "media_library/media_library.h"
#include "ui/frame_view.h"
#include "ui/playback/media_sources_impl.h"

namespace calvex::ui::playback {
namespace {

// Fast play of an AVI, which has no index of key pictures here, shows every tenth picture.
constexpr std::int32_t kAviFastStride = 10;
constexpr std::int32_t kSoundBlockFrames = 2048;

class AviPictureSource final : public PictureSource {
 public:
  AviPictureSource(std::unique_ptr<media::AviReader> reader, const BitmapInfoHeader& format,
                   std::int32_t frameCount)
      : reader_(std::move(reader)), format_(format), frameCount_(frameCount) {}

  Status Run(std::int32_t first, PictureSink& sink) override {
    std::vector<std::uint8_t> bits(format_.sizeImage);
    for (std::int32_t f = std::max(first, 0); f < frameCount_ && !sink.Stopped();) {
      if (const Status s = reader_->RAVIGetFrame(f, bits.data()); s != kOk) return s;
      if (!sink.Deliver({f, ImageFromBitmap(format_, bits.data())})) return kOk;
      f += sink.KeyPicturesOnly() ? kAviFastStride : 1;
    }
    return kOk;
  }

 private:
  std::unique_ptr<media::AviReader> reader_;
  BitmapInfoHeader format_;
  std::int32_t frameCount_;
};

class AviSoundSource final : public SoundSource {
 public:
  AviSoundSource(std::string path, const MediaInfo& info) : path_(std::move(path)), info_(info) {}

  Status Run(std::int32_t first, SoundSink& sink) override {
    media::AviAudioReader reader;
    WaveFormat format{};
    media::AudioSectionRequest section;
    if (first > 0) {
      // A section from the frame to the end starts at that frame's own sample.
      section.totalVideoFrames = info_.frameCount;
      section.firstFrame = first;
      section.frameCount = std::max(info_.frameCount - first, 1);
    }
    if (const Status s = reader.RAVIAudioOpen(path_, format, section); s != kOk) return s;
    sink.Begin(FrameTime(info_, first));
    return DeliverPcm(format, sink, [&](std::uint8_t* buffer, std::int32_t& frames) {
      return reader.RAVIAudioRead(buffer, frames);
    });
  }

 private:
  std::string path_;
  MediaInfo info_;
};

class WavSoundSource final : public SoundSource {
 public:
  WavSoundSource(std::string path, const MediaInfo& info) : path_(std::move(path)), info_(info) {}

  Status Run(std::int32_t first, SoundSink& sink) override {
    media::WaveReader reader;
    media::WaveRecord record;
    if (const Status s = reader.OpenWaveFile(path_, record); s != kOk) return s;
    const WaveFormat& format = record.format;
    const std::size_t frameBytes = std::max<std::size_t>(format.blockAlign, 1);
    // The reader only reads on: the samples before the start are read and dropped.
    const std::int64_t skip = FrameTime(info_, std::max(first, 0)) * format.samplesPerSec / 1000000;
    std::vector<std::uint8_t> buffer(frameBytes * kSoundBlockFrames);
    for (std::int64_t left = skip; left > 0 && !sink.Stopped();) {
      const std::size_t want = std::min<std::int64_t>(left, kSoundBlockFrames) * frameBytes;
      std::size_t got = 0;
      if (const Status s = reader.ReadWave(buffer.data(), want, got); s != kOk) return s;
      if (got == 0) return kOk;
      left -= static_cast<std::int64_t>(got / frameBytes);
    }
    sink.Begin(format.samplesPerSec == 0 ? 0 : skip * 1000000 / format.samplesPerSec);
    return DeliverPcm(format, sink, [&](std::uint8_t* out, std::int32_t& frames) {
      std::size_t got = 0;
      const Status s = reader.ReadWave(out, static_cast<std::size_t>(frames) * frameBytes, got);
      frames = static_cast<std::int32_t>(got / frameBytes);
      return s;
    });
  }

 private:
  std::string path_;
  MediaInfo info_;
};

}  // namespace

int PlayableChannels(int channels) {
  return std::clamp(channels, 1, 2);
}

void ToPlayablePcm(const std::uint8_t* bytes, std::size_t frames, const WaveFormat& format,
                   std::vector<std::int16_t>& out) {
  const int channels = std::max<int>(format.channels, 1);
  const int kept = PlayableChannels(channels);
  const int sampleBytes = std::max(format.bitsPerSample / 8, 1);
  const bool isFloat = format.formatTag == 3 && sampleBytes == 4;
  out.resize(frames * static_cast<std::size_t>(kept));
  std::size_t o = 0;
  for (std::size_t f = 0; f < frames; ++f) {
    const std::uint8_t* frame = bytes + f * static_cast<std::size_t>(channels) * sampleBytes;
    for (int c = 0; c < kept; ++c) {
      const std::uint8_t* s = frame + static_cast<std::size_t>(c) * sampleBytes;
      std::int32_t v = 0;
      if (sampleBytes == 1) {
        v = (s[0] - 128) * 256;  // 8-bit samples are unsigned
      } else if (isFloat) {
        float x = 0;
        std::memcpy(&x, s, 4);
        v = static_cast<std::int32_t>(std::clamp(x, -1.0f, 1.0f) * 32767.0f);
      } else {
        // Little-endian: the two most significant bytes are the last two.
        v = static_cast<std::int16_t>(s[sampleBytes - 2] | (s[sampleBytes - 1] << 8));
      }
      out[o++] = static_cast<std::int16_t>(v);
    }
  }
}

Status DeliverPcm(const WaveFormat& format, SoundSink& sink,
                  const std::function<Status(std::uint8_t*, std::int32_t&)>& read) {
  const std::size_t frameBytes = static_cast<std::size_t>(std::max<int>(format.channels, 1)) *
                                 std::max(format.bitsPerSample / 8, 1);
  std::vector<std::uint8_t> buffer(frameBytes * kSoundBlockFrames);
  std::vector<std::int16_t> pcm;
  for (;;) {
    std::int32_t frames = kSoundBlockFrames;
    if (const Status s = read(buffer.data(), frames); s != kOk) return s;
    if (frames <= 0) return kOk;
    ToPlayablePcm(buffer.data(), static_cast<std::size_t>(frames), format, pcm);
    if (!sink.Write(pcm.data(), pcm.size())) return kOk;
  }
}

Status OpenAvi(const std::string& path, OpenedMedia& media) {
  auto reader = std::make_unique<media::AviReader>();
  BitmapInfoHeader format{};
  media::AviOpenInfo open;
  if (const Status s = reader->RAVIOpen(path, format, open); s != kOk) return s;
  MediaInfo& info = media.info;
  info.kind = MediaKind::kAvi;
  info.hasPictures = true;
  info.rate = static_cast<std::int32_t>(open.frameRatePacked >> 16);
  info.scale = static_cast<std::int32_t>(open.frameRatePacked & 0xFFFF);
  if (info.rate <= 0 || info.scale <= 0) {
    info.rate = 25;
    info.scale = 1;
  }
  info.frameCount = open.frameCount;
  info.width = format.width;
  info.height = format.height;
  media.pictures = std::make_unique<AviPictureSource>(std::move(reader), format, open.frameCount);
  if (open.audioFormatTag != 0 && open.audioSampleRate != 0) {
    info.hasSound = true;
    info.sampleRate = open.audioSampleRate;
    info.channels = PlayableChannels(open.audioChannels);
    media.sound = std::make_unique<AviSoundSource>(path, info);
  }
  return kOk;
}

Status OpenWav(const std::string& path, OpenedMedia& media) {
  media::WaveReader reader;
  media::WaveRecord record;
  if (const Status s = reader.OpenWaveFile(path, record); s != kOk) return s;
  if (record.format.samplesPerSec == 0 || record.format.channels == 0) return kWavCorrupted;
  MediaInfo& info = media.info;
  info.kind = MediaKind::kWav;
  info.hasSound = true;
  info.sampleRate = static_cast<int>(record.format.samplesPerSec);
  info.channels = PlayableChannels(record.format.channels);
  info.frameCount = static_cast<std::int32_t>(
      (std::int64_t{record.sampleFrames} * info.rate + record.format.samplesPerSec - 1) /
      record.format.samplesPerSec);
  media.sound = std::make_unique<WavSoundSource>(path, info);
  return kOk;
}

}  // namespace calvex::ui::playback
