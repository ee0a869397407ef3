// What the multiplexer is told about the two elementary streams it interleaves: the record the
// AVI to MPEG driver fills, and how it reads the video encoder's picture index table.
#pragma once

#include <cstdint>

namespace calvex::mux {

// Filled by the driver: the output frame rate and picture count from the working settings, then
// the audio values the audio encoder actually coded.
struct MuxParams {
  std::int32_t targetRateNum = 30;  // frame rate = num / den
  std::int32_t targetRateDen = 1;
  std::int32_t outputFrameCount = 0;  // N, coded pictures
  std::int32_t audioLayer = 2;        // 1 or 2
  std::int32_t audioBitrateKbps = 128;
  std::int32_t audioSampleRateHz = 44100;
};
static_assert(sizeof(MuxParams) == 24);

// How the packs are cut: as the plan says (packets of up to 2048 data bytes at the planned mux
// rate), or Video CD sectors (vcd_sectors.h).
enum class MuxFormat { kStandard, kVideoCd };

// Word k of the picture index table (N + 1 words, in coding order): bits 0-25 count the video
// bytes written since word k - 1, taken just before picture k's start code (word N ends with the
// sequence end code); bits 26-31 hold the signed display number of picture k minus k.
constexpr std::int64_t IndexWordSize(std::uint32_t word) {
  return static_cast<std::int64_t>(word & 0x03FFFFFFu);
}
constexpr int IndexWordStep(std::uint32_t word) {
  return static_cast<std::int32_t>(word) >> 26;
}
constexpr std::uint32_t MakeIndexWord(int step, std::uint32_t size) {
  return (static_cast<std::uint32_t>(step) << 26) | (size & 0x03FFFFFFu);
}

}  // namespace calvex::mux
