#include "audio_encoder/pcm_input.h"

#include <algorithm>
#include <cstring>

namespace calvex::audio {

Status MemoryPcmSource::Read(std::uint8_t* buffer, std::size_t bytes, std::size_t& delivered) {
  delivered = std::min(bytes, bytes_.size() - pos_);
  if (delivered > 0) std::memcpy(buffer, bytes_.data() + pos_, delivered);
  pos_ += delivered;
  return kOk;
}

int RateMultiplierFor(int sampleRateHz) {
  for (int m = 1; m <= 4; m *= 2) {
    const long long rate = static_cast<long long>(sampleRateHz) * m;
    if (rate == 44100 || rate == 48000 || rate == 32000) return m;
  }
  return 0;
}

PcmFrameReader::PcmFrameReader(PcmSource& source, const PcmFormat& format, int multiplier,
                               std::uint64_t totalValues)
    : source_(source),
      format_(format),
      multiplier_(multiplier),
      bytesPerSample_(format.bitsPerSample == 8 ? 1 : 2),
      remaining_(totalValues) {}

Status PcmFrameReader::Read(std::int16_t* values, std::size_t count, std::size_t& produced) {
  produced = 0;
  if (remaining_ == 0 || count == 0) return kOk;
  const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(count, remaining_));
  const auto channels = static_cast<std::size_t>(format_.channels);
  const auto mult = static_cast<std::size_t>(multiplier_);
  const std::size_t sourceValues = wanted / mult;
  const std::size_t bytes = sourceValues * static_cast<std::size_t>(bytesPerSample_);
  bytes_.resize(bytes);
  std::size_t got = 0;
  while (got < bytes) {
    std::size_t delivered = 0;
    if (Status s = source_.Read(bytes_.data() + got, bytes - got, delivered); s != kOk) return s;
    if (delivered == 0) break;
    got += delivered;
  }
  // Whole sample frames only.
  const std::size_t frames = got / static_cast<std::size_t>(bytesPerSample_) / channels;
  std::size_t out = 0;
  for (std::size_t f = 0; f < frames; ++f) {
    for (std::size_t c = 0; c < channels; ++c) {
      const std::size_t i = f * channels + c;
      std::int32_t x;
      if (bytesPerSample_ == 1)
        x = (static_cast<std::int32_t>(bytes_[i]) - 128) * 256;
      else
        x = static_cast<std::int16_t>(bytes_[2 * i] | (bytes_[2 * i + 1] << 8));
      std::int32_t& m = memory_[c];
      std::int32_t v[4];
      if (mult == 1) {
        v[0] = x;
      } else if (mult == 2) {
        v[0] = (m + x) >> 1;
        v[1] = x;
      } else {
        v[0] = (3 * m + x) >> 2;
        v[1] = (m + x) >> 1;
        v[2] = (3 * x + m) >> 2;
        v[3] = x;
      }
      m = x;
      for (std::size_t p = 0; p < mult; ++p)
        values[(f * mult + p) * channels + c] = static_cast<std::int16_t>(v[p]);
    }
    out += mult * channels;
  }
  remaining_ -= std::min<std::uint64_t>(remaining_, out);
  if (out < count && out > 0) {
    std::fill(values + out, values + count, std::int16_t{0});
    out = count;
    remaining_ = 0;
  }
  produced = out;
  return kOk;
}

Status PcmFrameReader::ReadAudioFrame(std::array<std::array<std::int16_t, 1152>, 2>& buffer,
                                      int layer, std::size_t& produced) {
  const auto channels = static_cast<std::size_t>(format_.channels);
  const std::size_t perChannel = layer == 1 ? 384 : 1152;
  interleaved_.resize(perChannel * channels);
  if (Status s = Read(interleaved_.data(), interleaved_.size(), produced); s != kOk) return s;
  if (produced == 0) return kOk;
  const std::size_t start = layer == 1 ? 64 : 0;
  if (layer == 1)
    for (auto& ch : buffer) std::copy(ch.begin() + 384, ch.begin() + 448, ch.begin());
  for (std::size_t i = 0; i < perChannel; ++i)
    for (std::size_t c = 0; c < 2; ++c)
      buffer[c][start + i] = c < channels ? interleaved_[i * channels + c] : std::int16_t{0};
  return kOk;
}

}  // namespace calvex::audio
