// The plan of a system stream, derived before anything is written: clock periods, the video
// buffer walk with its bound and start-up delay, the audio buffer bound, the size estimate and the
// mux rate, and the share of audio packets.
#pragma once

#include <cstdint>
#include <span>

#include "core/status.h"
#include "mux/mux_params.h"

namespace calvex::mux {

// Data bytes a packet carries at most.
inline constexpr int kPacketDataBytes = 2048;
// The system clock: 90 kHz ticks.
inline constexpr double kClockHz = 90000.0;

struct MuxPlan {
  double videoPeriod = 0;  // Tv, ticks per picture
  int samplesPerAudioFrame = 0;
  double audioPeriod = 0;       // Ta, ticks per audio frame
  double audioFrameBytes = 0;   // F
  std::int64_t videoBytes = 0;  // V, the sum of all index sizes
  std::int64_t audioBytes = 0;
  double averagePicture = 0;  // A = V / N
  double walkMin = 0;         // the video buffer walk's extremes
  double walkMax = 0;
  std::int32_t videoBufferBound = 0;  // units of 1024 bytes
  std::int32_t startDelay = 0;        // D, ticks
  std::int32_t audioBufferBound = 0;  // units of 128 bytes
  double duration = 0;                // S, seconds
  std::int64_t videoPackets = 0;      // Pv
  std::int64_t audioPackets = 0;      // Pa
  std::int64_t sizeEstimate = 0;      // E, bytes
  std::int32_t muxRate = 0;           // units of 50 bytes per second
  double audioShare = 0;              // r = Pa / Pv, audio packets per video packet
  double ticksPerBit = 0;
  // Pictures between the decoding of the first picture and the presentation of the first
  // displayed one (1 for ISO/IEC 11172-2 reordering; more when a picture is shown still later
  // after its decoding).
  int reorderDelay = 1;
};

// Derives the plan from the picture index table (params.outputFrameCount + 1 words), the
// parameters and the audio file's size. Returns 0, or 103 when the inputs cannot make a stream
// (no pictures, an index of the wrong length, no video bytes, a rate, layer or audio value out of
// range, or a mux rate beyond the 22 bits of the pack header).
Status PlanMultiplex(std::span<const std::uint32_t> index, const MuxParams& params,
                     std::int64_t audioBytes, MuxPlan& plan);

}  // namespace calvex::mux
