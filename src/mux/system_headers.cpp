#include "mux/system_headers.h"

#include "mux/vcd_sectors.h"

namespace calvex::mux {

namespace {

constexpr std::uint32_t kPackStartCode = 0x000001BA;
constexpr std::uint32_t kSystemHeaderStartCode = 0x000001BB;
constexpr std::uint32_t kPacketStartCodePrefix = 0x000001;

std::uint32_t Bits(std::int64_t value, int high, int low) {
  return static_cast<std::uint32_t>((static_cast<std::uint64_t>(value) >> low) &
                                    ((std::uint64_t{1} << (high - low + 1)) - 1));
}

// The 33-bit clock value split by marker bits, as pack headers and time stamps carry it.
void WriteClock(audio::BitStream& out, std::int64_t t) {
  out.PutBits(Bits(t, 32, 30), 3);
  out.PutBit(1);
  out.PutBits(Bits(t, 29, 15), 15);
  out.PutBit(1);
  out.PutBits(Bits(t, 14, 0), 15);
  out.PutBit(1);
}

}  // namespace

void WritePackHeader(audio::BitStream& out, std::int64_t scr, std::int32_t muxRate) {
  out.PutBits(kPackStartCode, 32);
  out.PutBits(0x2, 4);
  WriteClock(out, scr);
  out.PutBit(1);
  out.PutBits(static_cast<std::uint32_t>(muxRate), 22);
  out.PutBit(1);
}

void WriteSystemHeader(audio::BitStream& out, std::int32_t muxRate, bool constrained,
                       std::int32_t audioBufferBound, std::int32_t videoBufferBound) {
  out.PutBits(kSystemHeaderStartCode, 32);
  out.PutBits(12, 16);  // header_length: six fixed bytes and two stream entries
  out.PutBit(1);
  out.PutBits(static_cast<std::uint32_t>(muxRate), 22);  // rate_bound
  out.PutBit(1);
  out.PutBits(1, 6);  // audio_bound
  out.PutBit(1);      // fixed_flag
  out.PutBit(constrained ? 1 : 0);
  out.PutBit(1);  // system_audio_lock_flag
  out.PutBit(1);  // system_video_lock_flag
  out.PutBit(1);
  out.PutBits(1, 5);  // video_bound
  out.PutBits(0xFF, 8);
  out.PutBits(kAudioStreamId, 8);
  out.PutBits(0x3, 2);
  out.PutBit(0);
  out.PutBits(static_cast<std::uint32_t>(audioBufferBound), 13);
  out.PutBits(kVideoStreamId, 8);
  out.PutBits(0x3, 2);
  out.PutBit(1);
  out.PutBits(static_cast<std::uint32_t>(videoBufferBound), 13);
}

void WriteVideoCdSystemHeader(audio::BitStream& out, bool video, bool constrained) {
  out.PutBits(kSystemHeaderStartCode, 32);
  out.PutBits(9, 16);  // header_length: six fixed bytes and one stream entry
  out.PutBit(1);
  out.PutBits(static_cast<std::uint32_t>(kVcdMuxRate), 22);  // rate_bound
  out.PutBit(1);
  out.PutBits(video ? 0 : 1, 6);  // audio_bound
  out.PutBit(1);                  // fixed_flag
  out.PutBit(constrained ? 1 : 0);
  out.PutBit(1);  // system_audio_lock_flag
  out.PutBit(1);  // system_video_lock_flag
  out.PutBit(1);
  out.PutBits(video ? 1 : 0, 5);  // video_bound
  out.PutBits(0xFF, 8);
  out.PutBits(video ? kVideoStreamId : kAudioStreamId, 8);
  out.PutBits(0x3, 2);
  out.PutBit(video ? 1 : 0);
  out.PutBits(static_cast<std::uint32_t>(video ? kVcdVideoBufferBound : kVcdAudioBufferBound), 13);
}

void WritePaddingPacket(audio::BitStream& out, int bytes) {
  out.PutBits(kPacketStartCodePrefix, 24);
  out.PutBits(0xBE, 8);
  out.PutBits(static_cast<std::uint32_t>(bytes - 6), 16);
  for (int i = 6; i < bytes; ++i) out.PutBits(0xFF, 8);
}

void WriteTimeStamp(audio::BitStream& out, std::uint32_t prefix, std::int64_t t) {
  out.PutBits(prefix, 4);
  WriteClock(out, t);
}

void WritePacketHeader(audio::BitStream& out, std::uint8_t streamId, int packetLength,
                       std::int32_t bufferBound, std::int64_t pts, std::int64_t dts, int stuffing) {
  out.PutBits(kPacketStartCodePrefix, 24);
  out.PutBits(streamId, 8);
  out.PutBits(static_cast<std::uint32_t>(packetLength + stuffing), 16);
  for (int i = 0; i < stuffing; ++i) out.PutBits(0xFF, 8);
  out.PutBits(0x1, 2);
  out.PutBit(streamId == kVideoStreamId ? 1 : 0);
  out.PutBits(static_cast<std::uint32_t>(bufferBound), 13);
  if (pts < 0) {
    out.PutBits(0x0F, 8);
  } else if (dts < 0) {
    WriteTimeStamp(out, 0x2, pts);
  } else {
    WriteTimeStamp(out, 0x3, pts);
    WriteTimeStamp(out, 0x1, dts);
  }
}

}  // namespace calvex::mux
