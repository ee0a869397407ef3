#include "audio_encoder/audio_encoder_driver.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "audio_encoder/audio_encoder.h"
#include "media_library/media_library.h"

namespace calvex {

namespace {

using audio::PcmSource;

class WaveSource final : public PcmSource {
 public:
  explicit WaveSource(media::WaveReader& reader) : reader_(reader) {}
  Status Read(std::uint8_t* buffer, std::size_t bytes, std::size_t& delivered) override {
    return reader_.ReadWave(buffer, bytes, delivered);
  }

 private:
  media::WaveReader& reader_;
};

class AviAudioSource final : public PcmSource {
 public:
  AviAudioSource(media::AviAudioReader& reader, std::size_t frameBytes)
      : reader_(reader), frameBytes_(frameBytes) {}
  Status Read(std::uint8_t* buffer, std::size_t bytes, std::size_t& delivered) override {
    std::int32_t frames = static_cast<std::int32_t>(bytes / frameBytes_);
    delivered = 0;
    if (frames == 0) return kOk;
    if (Status s = reader_.RAVIAudioRead(buffer, frames); s != kOk) return s;
    delivered = static_cast<std::size_t>(frames < 0 ? 0 : frames) * frameBytes_;
    return kOk;
  }

 private:
  media::AviAudioReader& reader_;
  std::size_t frameBytes_;
};

// `length` bytes of a raw PCM file from where it stands; what the file lacks of them is silence,
// as the AVI's own audio reader makes up a stream that ends early.
class RawFileSource final : public PcmSource {
 public:
  RawFileSource(std::FILE* f, std::uint64_t length, std::uint8_t silence)
      : file_(f), left_(length), silence_(silence) {}
  ~RawFileSource() override { std::fclose(file_); }
  Status Read(std::uint8_t* buffer, std::size_t bytes, std::size_t& delivered) override {
    bytes = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, left_));
    delivered = std::fread(buffer, 1, bytes, file_);
    if (delivered < bytes) {
      if (std::ferror(file_)) return kReadFailed;
      std::fill(buffer + delivered, buffer + bytes, silence_);
      delivered = bytes;
    }
    left_ -= delivered;
    return kOk;
  }

 private:
  std::FILE* file_;
  std::uint64_t left_;
  std::uint8_t silence_;
};

// Zeros for as long as asked: the sound of a Video CD made from a silent movie.
class SilenceSource final : public PcmSource {
 public:
  Status Read(std::uint8_t* buffer, std::size_t bytes, std::size_t& delivered) override {
    std::fill_n(buffer, bytes, std::uint8_t{0});
    delivered = bytes;
    return kOk;
  }
};

class ContextObserver final : public audio::EncodeObserver {
 public:
  explicit ContextObserver(ConversionContext& context) : context_(context) {}
  bool Progress(const ProgressRecord& record, int thousandths) override {
    return context_.Progress(record, ProgressKind::kAudio, thousandths);
  }

 private:
  ConversionContext& context_;
};

std::uint64_t ValuesToCode(const audio::PcmFormat& f, std::uint64_t sampleFrames) {
  return sampleFrames * static_cast<std::uint64_t>(f.channels < 0 ? 0 : f.channels) *
         static_cast<std::uint64_t>(audio::RateMultiplierFor(f.sampleRateHz));
}

audio::PcmFormat FormatOf(const WaveFormat& w) {
  return {w.channels, static_cast<int>(w.samplesPerSec), w.bitsPerSample};
}

std::size_t FrameBytes(const audio::PcmFormat& f) {
  const int bytes = (f.bitsPerSample == 8 ? 1 : 2) * (f.channels > 0 ? f.channels : 1);
  return static_cast<std::size_t>(bytes);
}

}  // namespace

Status EncodeMpegAudio(const std::string& source, const std::string& destination,
                       AudioEncodeParams& params, int sourceKind,
                       const ConversionSettings* settings, ConversionContext& context) {
  audio::EncodeSource src;
  media::WaveReader wave;
  media::AviAudioReader avi;
  std::unique_ptr<PcmSource> pcm;

  if (sourceKind == kAudioSourceWave) {
    media::WaveRecord record;
    if (Status s = wave.OpenWaveFile(source, record); s != kOk) return s;
    src.format = FormatOf(record.format);
    // Floating-point samples come as they are stored: not a sample size the encoder codes.
    if (record.format.formatTag != kWaveFormatPcm) src.format.bitsPerSample = 0;
    src.totalValues = record.totalValues != 0 ? record.totalValues
                                              : ValuesToCode(src.format, record.sampleFrames);
    src.sourceFrames = record.sampleFrames;
    pcm = std::make_unique<WaveSource>(wave);
  } else if (sourceKind == kAudioSourceSilence) {
    if (settings == nullptr) return kInternalError;
    src.format = {2, kVideoCdSampleRateHz, 16};
    src.sourceFrames = static_cast<std::uint32_t>(
        static_cast<std::uint64_t>(std::max(settings->outputFrameCount, 0)) *
        static_cast<std::uint64_t>(settings->targetRateDen) * kVideoCdSampleRateHz /
        static_cast<std::uint64_t>(std::max(settings->targetRateNum, 1)));
    src.totalValues = ValuesToCode(src.format, src.sourceFrames);
    pcm = std::make_unique<SilenceSource>();
  } else if (settings != nullptr && !settings->pcmTempPath.empty()) {
    // The whole file's sound, converted once for all sections: a section reads its own samples.
    src.format = {settings->aviInfo.audioChannels, settings->aviInfo.audioSampleRate,
                  settings->aviInfo.audioBitsPerSample};
    const std::size_t frameBytes = FrameBytes(src.format);
    std::error_code ec;
    const auto size = std::filesystem::file_size(settings->pcmTempPath, ec);
    const std::int64_t held = ec ? 0 : static_cast<std::int64_t>(size / frameBytes);
    std::int64_t start = 0;
    std::int64_t frames = held;
    if (settings->HasSection()) {
      if (Status s = media::AviSectionSamples(
              source, src.format.sampleRateHz, settings->sectionFirst,
              settings->sectionLast - settings->sectionFirst + 1, held, start, frames);
          s != kOk)
        return s;
    }
    std::FILE* f = std::fopen(settings->pcmTempPath.c_str(), "rb");
    if (f == nullptr) return kAviNoAudio;
    if (fseeko(f, static_cast<off_t>(start) * static_cast<off_t>(frameBytes), SEEK_SET) != 0) {
      std::fclose(f);
      return kReadFailed;
    }
    frames = std::clamp<std::int64_t>(frames, 0, UINT32_MAX);
    pcm = std::make_unique<RawFileSource>(f, static_cast<std::uint64_t>(frames) * frameBytes,
                                          src.format.bitsPerSample == 8 ? 0x80 : 0);
    src.sourceFrames = static_cast<std::uint32_t>(frames);
    src.totalValues = ValuesToCode(src.format, src.sourceFrames);
  } else {
    media::AudioSectionRequest section;
    if (settings != nullptr && settings->HasSection()) {
      section.totalVideoFrames = settings->sourceFrameCount != 0 ? settings->sourceFrameCount
                                                                 : settings->aviInfo.frameCount;
      section.firstFrame = settings->sectionFirst;
      section.frameCount = settings->sectionLast - settings->sectionFirst + 1;
    }
    WaveFormat format;
    if (Status s = avi.RAVIAudioOpen(source, format, section); s != kOk) return s;
    src.format = FormatOf(format);
    src.sourceFrames = static_cast<std::uint32_t>(section.frameCount < 0 ? 0 : section.frameCount);
    src.totalValues = ValuesToCode(src.format, src.sourceFrames);
    pcm = std::make_unique<AviAudioSource>(avi, FrameBytes(src.format));
  }
  src.pcm = pcm.get();

  ContextObserver observer(context);
  const audio::EncodeResult result = audio::EncodeAudioStream(src, params, destination, observer);
  if (result.writeFailed) context.RaiseDiskFull();
  // No partial output: what the encoder created is removed (only a regular file, never a device
  // such as /dev/full that a write test named).
  std::error_code ec;
  if (result.status != kOk && result.created && std::filesystem::is_regular_file(destination, ec))
    std::filesystem::remove(destination, ec);
  pcm.reset();
  if (sourceKind == kAudioSourceWave)
    wave.CloseWaveFile();
  else if (settings == nullptr || settings->pcmTempPath.empty())
    avi.RAVIAudioClose();
  return result.status;
}

Status EncodeWaveToMpegAudio(const std::string& source, const std::string& destination,
                             AudioEncodeParams& params, ConversionContext& context) {
  return EncodeMpegAudio(source, destination, params, kAudioSourceWave, nullptr, context);
}

Status ConvertWavToMp2(WavToMp2Job& job, ConversionContext& context) {
  if (job.audio == nullptr) return kInternalError;
  return EncodeWaveToMpegAudio(job.source, job.destination, *job.audio, context);
}

}  // namespace calvex
