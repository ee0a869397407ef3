// The chunks of a WAV file that the readers need: its format, where its samples are and how many
// there are. Internal to the media layer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/status.h"
#include "core/wave_format.h"

namespace calvex::media::detail {

inline constexpr std::uint16_t kWaveFormatIeeeFloat = 3;
inline constexpr std::uint16_t kWaveFormatExtensible = 0xFFFE;

struct WaveHeader {
  std::uint64_t fileSize = 0;
  WaveFormat format{};              // as the "fmt " chunk gives it
  std::vector<std::uint8_t> extra;  // the format-specific bytes after it
  // For WAVE_FORMAT_EXTENSIBLE files: the tag of the sub-format, else format.formatTag.
  std::uint16_t effectiveTag = 0;
  std::uint64_t dataOffset = 0;
  std::uint64_t dataSize = 0;  // limited to what the file holds
  std::uint32_t declaredDataSize = 0;
  std::int64_t factSamples = -1;  // sample frames from the "fact" chunk, -1 when absent

  bool IsPcm() const { return effectiveTag == kWaveFormatPcm; }
};

// Reads the header chunks. 101 when the file cannot be opened, 115 when it is not a RIFF WAVE
// file, 116 when its "fmt " or "data" chunk is missing or makes no sense.
Status ReadWaveHeader(const std::string& path, WaveHeader& header);

}  // namespace calvex::media::detail
