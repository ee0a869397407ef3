// The order and shape of every pack and packet of a system stream, fixed before a byte is
// written: which stream each packet carries, how many data bytes, which packets open a pack, and
// which access unit each time stamp belongs to. The schedule depends on the plan and the stream
// layouts only, never on the start-up delay, so the decoder buffer check (decoder_buffers.h) can
// run on it before the delay is final.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "mux/mux_plan.h"

namespace calvex::mux {

// Presentation and decoding times on the 90 kHz system clock. Pictures are decoded in coding
// order one period apart from the start-up delay on; the picture of display number d is shown
// `reorderDelay` periods after the first decoding plus d periods; the audio starts together with
// the first picture shown.
class StreamClock {
 public:
  StreamClock(const MuxPlan& plan, std::span<const std::uint32_t> index, std::int64_t startDelay)
      : plan_(plan), index_(index), startDelay_(startDelay) {}

  std::int64_t startDelay() const { return startDelay_; }
  // Decoding time of the picture of coding number k.
  std::int64_t VideoDecodingTime(std::int64_t k) const;
  // Presentation time of the picture of coding number k.
  std::int64_t VideoPresentationTime(std::int64_t k) const;
  // Presentation (and decoding) time of audio frame m.
  std::int64_t AudioPresentationTime(std::int64_t m) const;

 private:
  const MuxPlan& plan_;
  std::span<const std::uint32_t> index_;
  std::int64_t startDelay_;
};

struct ScheduledPacket {
  std::int64_t startBit = 0;    // where the packet, or the pack header before it, begins
  std::int64_t dataOffset = 0;  // of its first data byte within its elementary stream
  std::int32_t dataBytes = 0;
  // The access unit (picture coding number, or audio frame number) whose time stamp the packet
  // carries; -1 when it carries none.
  std::int32_t stampedUnit = -1;
  // Video: the first picture whose start code lies beyond this packet (pictures before it are
  // complete once the packet is written).
  std::int32_t nextPicture = 0;
  bool video = true;
  bool packHeader = false;
  bool systemHeader = false;
  bool hasDecodingTime = false;  // a stamped video packet writes a DTS besides the PTS

  // Bytes of the packet header after packet_length: STD buffer fields and time stamps.
  int StampBytes() const;
  // The value of packet_length.
  int PacketLength() const { return StampBytes() + dataBytes; }
  // Where the first data byte begins.
  std::int64_t DataStartBit() const;
};

inline constexpr int kPackHeaderBytes = 12;
inline constexpr int kSystemHeaderBytes = 18;  // with one audio and one video stream entry
inline constexpr int kPacketStartBytes = 6;    // start code prefix, stream id, packet_length
// Time stamps are due again once this many ticks passed since the last one of their stream; so is
// a pack header since the last pack.
inline constexpr std::int64_t kStampInterval = 45000;

// The system_clock_reference of a pack header that begins at `startBit`: ISO/IEC 11172-1 times
// the byte that holds the field's last bit, the pack header's ninth, by when it has arrived at the
// mux rate.
inline std::int64_t PackClockReference(std::int64_t startBit, double ticksPerBit) {
  return static_cast<std::int64_t>(static_cast<double>(startBit + 9 * 8) * ticksPerBit);
}

// Lays out all packets. `audioFrames` are the frame offsets of the audio file. Video packets and
// audio packets alternate by the audio credit (plan.audioShare per video packet, one per audio
// packet); a packet carries the time stamp of the first access unit whose first byte it holds,
// when that is the first such packet of its stream or more than kStampInterval ticks passed since
// its stream's last stamp. The last picture decoded, the last picture shown and the last audio
// frame begin packets of their own, stamped too, so that a reader finds where each stream ends.
// Returns the bits of the whole stream, end code included.
std::int64_t SchedulePackets(const MuxPlan& plan, std::span<const std::uint32_t> index,
                             std::span<const std::int64_t> audioFrames,
                             std::vector<ScheduledPacket>& packets);

}  // namespace calvex::mux
