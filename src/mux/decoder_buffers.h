// The system target decoder of ISO/IEC 11172-1 run over a packet schedule: bytes enter a stream's
// buffer as the multiplex delivers them at the mux rate, and each access unit (a picture with the
// headers ahead of it, or an audio frame) leaves it whole at its decoding time. The multiplexer
// uses it to make its start-up delay long enough for every access unit to arrive in time and its
// buffer bounds large enough for what the buffers really hold.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "mux/packet_schedule.h"

namespace calvex::mux {

struct DecoderBufferUse {
  // Ticks by which the latest access unit's last byte arrives after its decoding time (0 when all
  // arrive in time).
  std::int64_t lateTicks = 0;
  // The most bytes each buffer holds, just before an access unit leaves it.
  std::int64_t videoPeakBytes = 0;
  std::int64_t audioPeakBytes = 0;
};

DecoderBufferUse SimulateDecoderBuffers(const MuxPlan& plan, std::span<const std::uint32_t> index,
                                        std::span<const std::int64_t> audioFrames,
                                        std::span<const ScheduledPacket> packets,
                                        const StreamClock& clock);

}  // namespace calvex::mux
