// Video CD packing: a system stream cut into 2324-byte sectors, each one pack at the fixed mux
// rate of a CD drive reading 75 sectors a second (3528 x 50 bytes per second). The first sector
// holds the system header of the video stream and padding, the first audio sector is preceded by
// one with the audio stream's system header and padding; every other sector carries one video
// packet, one audio packet followed by 20 zero bytes, or a padding packet when neither stream may
// send (a decoder buffer would overflow). The sectors are chosen by the system target decoder of
// the player: 46 KB of video buffer and 4 KB of audio buffer, the packet of the stream whose next
// access unit is due first, and a start-up delay long enough for every access unit to arrive in
// time.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "mux/packet_schedule.h"

namespace calvex::mux {

inline constexpr int kVcdSectorBytes = 2324;
inline constexpr std::int32_t kVcdMuxRate = 3528;         // units of 50 bytes per second
inline constexpr std::int32_t kVcdVideoBufferBound = 46;  // units of 1024 bytes
inline constexpr std::int32_t kVcdAudioBufferBound = 32;  // units of 128 bytes
inline constexpr int kVcdAudioTrailBytes = 20;            // zeros after each audio packet

enum class VcdSectorKind { kVideoHeader, kAudioHeader, kVideo, kAudio, kPadding, kEnd };

struct VcdSector {
  VcdSectorKind kind = VcdSectorKind::kPadding;
  std::int64_t dataOffset = 0;  // of the first data byte within its elementary stream
  std::int32_t dataBytes = 0;
  std::int32_t stampedUnit = -1;  // picture coding number or audio frame; -1 for none
  bool hasDecodingTime = false;

  // Bytes of the packet header after packet_length: STD buffer fields and time stamps.
  int StampBytes() const;
  // Data bytes the sector's packet carries at most with these stamps.
  int Capacity() const;
};

struct VcdSchedule {
  std::vector<VcdSector> sectors;  // the last one of kind kEnd, with the end code
  std::int64_t startDelay = 0;     // D as the clock writes it
  std::int64_t lateTicks = 0;      // by how much the latest access unit still arrives late
};

// The plan with the Video CD mux rate put in (its clock speed and the sector times).
MuxPlan VideoCdPlan(const MuxPlan& plan);

// Lays out every sector of the stream. `plan` from VideoCdPlan; `audioFrames` the offsets of the
// audio file's frames.
VcdSchedule ScheduleVcdSectors(const MuxPlan& plan, std::span<const std::uint32_t> index,
                               std::span<const std::int64_t> audioFrames);

}  // namespace calvex::mux
