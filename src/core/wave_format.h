// The wave format record that audio descriptions and WAV outputs use (the Windows WAVEFORMATEX
// layout, 18 bytes, little-endian, no padding).
#pragma once

#include <cstdint>

namespace calvex {

inline constexpr std::uint16_t kWaveFormatPcm = 1;
inline constexpr std::uint16_t kWaveFormatMsAdpcm = 2;

#pragma pack(push, 1)
struct WaveFormat {
  std::uint16_t formatTag = 0;
  std::uint16_t channels = 0;
  std::uint32_t samplesPerSec = 0;
  std::uint32_t avgBytesPerSec = 0;
  std::uint16_t blockAlign = 0;
  std::uint16_t bitsPerSample = 0;
  std::uint16_t extraSize = 0;  // bytes of format-specific data that follow
};
#pragma pack(pop)
static_assert(sizeof(WaveFormat) == 18);

// A PCM format with the derived block alignment and byte rate filled in.
constexpr WaveFormat MakePcmFormat(int channels, int samplesPerSec, int bitsPerSample) {
  WaveFormat f;
  f.formatTag = kWaveFormatPcm;
  f.channels = static_cast<std::uint16_t>(channels);
  f.samplesPerSec = static_cast<std::uint32_t>(samplesPerSec);
  // In 64 bits: a decoder may report any channel count and rate (callers check what fits).
  f.blockAlign = static_cast<std::uint16_t>(std::int64_t{channels} * bitsPerSample / 8);
  f.avgBytesPerSec =
      static_cast<std::uint32_t>(std::int64_t{channels} * bitsPerSample / 8 * samplesPerSec);
  f.bitsPerSample = static_cast<std::uint16_t>(bitsPerSample);
  return f;
}

}  // namespace calvex
