// Reads one elementary stream out of an ISO/IEC 11172-1 system stream: the audio decoder takes the
// audio packets' data (through BitStream::OpenBitStreamRead with a negative buffer size), the video
// decoder and the file scanner the video packets' data. Of several streams of the kind, the one
// with the lowest stream id that the first system header lists is read (without such an entry,
// the stream of the first packet of the kind); the others are passed over.
//
//   SystemStreamReader packets;
//   if (Status s = packets.OpenSystemStreamReader(path, PacketKind::kVideo); s != kOk) return s;
//   std::size_t n = packets.ReadSystemStreamData(buffer, sizeof buffer);   // 0 at the end
//
// The reader keeps its state in the object (several may be open at once). It is safe on truncated
// and hostile input: every length is bounded by the data actually present, headers that claim more
// than their packet holds are taken as empty packets, and nothing is allocated from a length.
//
// Link target: calvex_mpeg_audio.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/status.h"

namespace calvex::audio {

class BitStream;

// Which packets the reader hands over: video (stream ids 0xE0..0xEF) or audio (0xC0..0xDF), of
// one stream. Every other packet (padding, private streams, the other kind) is passed over whole.
enum class PacketKind : int { kVideo = 0, kAudio = 1 };

// Start codes of the system layer (the value after the 0x000001 prefix).
inline constexpr std::uint32_t kStartCodePrefix = 0x000001;
inline constexpr std::uint8_t kPackStartCode = 0xBA;
inline constexpr std::uint8_t kSystemHeaderStartCode = 0xBB;
inline constexpr std::uint8_t kPaddingStreamId = 0xBE;
inline constexpr std::uint8_t kEndCode = 0xB9;

constexpr bool IsAudioStreamId(std::uint32_t code) {
  return code >= 0xC0 && code <= 0xDF;
}
constexpr bool IsVideoStreamId(std::uint32_t code) {
  return code >= 0xE0 && code <= 0xEF;
}

class SystemStreamReader {
 public:
  SystemStreamReader();
  ~SystemStreamReader();
  SystemStreamReader(const SystemStreamReader&) = delete;
  SystemStreamReader& operator=(const SystemStreamReader&) = delete;

  // Opens the file with a 4096-byte buffer and parses up to the first data byte of the first
  // packet of `kind`. Returns 0 when positioned; 114 when the first start code is not a pack start
  // code or no packet of `kind` exists; 101 or 100 from opening the file.
  Status OpenSystemStreamReader(const std::string& path, PacketKind kind);
  // The same over bytes held in memory.
  Status OpenSystemStreamReaderBytes(std::vector<std::uint8_t> bytes, PacketKind kind);

  // Copies up to `count` data bytes of the wanted packets, continuing into following packets as
  // needed. Returns the number copied; fewer than `count` only at the end of the file.
  std::size_t ReadSystemStreamData(std::uint8_t* buffer, std::size_t count);

  void CloseSystemStreamReader();

  bool IsOpen() const;
  // Bytes of the system stream file taken so far (for progress).
  std::int64_t FileBytesRead() const;

  // Stream id (0xC0..0xEF) of the packet whose data is being read; 0 before the first.
  std::uint32_t CurrentStreamId() const { return streamId_; }

 private:
  Status Start(PacketKind kind);
  // Parses forward to the data of the next wanted packet; false at the end of the data.
  // `prefixConsumed`: the next start code's 0x000001 has been read already.
  bool NextWantedPacket(bool prefixConsumed = false);
  bool IsOfKind(std::uint32_t id) const;

  std::unique_ptr<BitStream> stream_;
  PacketKind kind_ = PacketKind::kAudio;
  std::int32_t dataLeft_ = 0;
  std::uint32_t streamId_ = 0;
  std::uint32_t chosenId_ = 0;  // the stream read; 0 until known
  bool ended_ = false;
};

// Whether `path` is an MPEG-1 system stream: 0 when it begins (from its first start code prefix)
// with a pack start code whose next four bits are '0010' and whose pack header is followed by a
// system header start code 0x000001BB; 114 when the first start code is not 0x000001BA; 126 for
// any other start (an MPEG-2 pack, a pack without system header); 101 when it cannot be opened.
Status IsSystemStreamFile(const std::string& path);
// The same test over bytes held in memory.
Status IsSystemStreamBytes(std::vector<std::uint8_t> bytes);

}  // namespace calvex::audio
