// The pack header, system header and packet header of an ISO/IEC 11172-1 system stream, written
// most significant bit first through the shared bit-stream writer.
#pragma once

#include <cstdint>

#include "mpeg_audio/bit_stream.h"

namespace calvex::mux {

inline constexpr std::uint8_t kVideoStreamId = 0xE0;
inline constexpr std::uint8_t kAudioStreamId = 0xC0;

// Pack start code, system_clock_reference and mux_rate (units of 50 bytes per second): 12 bytes.
void WritePackHeader(audio::BitStream& out, std::int64_t scr, std::int32_t muxRate);

// System header for one audio stream (bound in units of 128 bytes) and one video stream (units of
// 1024 bytes): 18 bytes.
void WriteSystemHeader(audio::BitStream& out, std::int32_t muxRate, bool constrained,
                       std::int32_t audioBufferBound, std::int32_t videoBufferBound);

// The system header of a Video CD stream's first sector: only that stream (video, or audio), at
// the Video CD mux rate with its buffer bound; 15 bytes.
void WriteVideoCdSystemHeader(audio::BitStream& out, bool video, bool constrained);

// A padding packet of `bytes` bytes in all (6 or more): its header and 0xFF bytes.
void WritePaddingPacket(audio::BitStream& out, int bytes);

// A 33-bit time stamp after its 4-bit prefix ('0010' PTS alone, '0011' PTS before a DTS, '0001'
// the DTS): 5 bytes.
void WriteTimeStamp(audio::BitStream& out, std::uint32_t prefix, std::int64_t t);

// Packet start up to the data: start code prefix, stream id, packet_length, the STD buffer scale
// (1 for video: units of 1024 bytes, 0 for audio: units of 128) and size, then the PTS (pts >= 0)
// with the DTS (dts >= 0), or the byte 0x0F. `stuffing` bytes 0xFF (at most 16) come first.
void WritePacketHeader(audio::BitStream& out, std::uint8_t streamId, int packetLength,
                       std::int32_t bufferBound, std::int64_t pts, std::int64_t dts,
                       int stuffing = 0);

}  // namespace calvex::mux
