#include "video_decoder/video_packets.h"

#include <algorithm>

namespace calvex::video_decoder {
namespace {

constexpr int kPackStartCode = 0xBA;
constexpr int kSystemHeaderStartCode = 0xBB;
constexpr int kEndCode = 0xB9;

constexpr bool IsVideoStreamId(int code) {
  return code >= 0xE0 && code <= 0xEF;
}

}  // namespace

int VideoPacketWalker::NextStartCode(std::int64_t& start) {
  int zeros = 0;
  for (;;) {
    const int b = file_.ReadByte();
    if (b < 0) return -1;
    if (b == 0) {
      ++zeros;
    } else if (b == 1 && zeros >= 2) {
      start = file_.Position() - 3;
      return file_.ReadByte();
    } else {
      zeros = 0;
    }
  }
}

bool VideoPacketWalker::SkipByLength() {
  const int length = file_.ReadWord16();
  if (length < 0) return false;
  const std::int64_t end = file_.Position() + length;
  if (end > file_.Size()) return false;
  next_ = end;
  return file_.Seek(end);
}

bool VideoPacketWalker::Next(VideoPacket& packet) {
  if (ended_ || !file_.Seek(std::min(next_, file_.Size()))) return false;
  for (;;) {
    std::int64_t start = 0;
    const int code = NextStartCode(start);
    if (code < 0 || code == kEndCode) break;
    if (code == kPackStartCode) {
      const int first = file_.PeekByte();
      if ((first >> 4) == 2) {  // ISO/IEC 11172-1 pack: 8 bytes of clock and rate
        file_.Skip(8);
      } else if ((first >> 6) == 1) {  // an ISO/IEC 13818-1 pack: 10 bytes and its stuffing
        file_.Skip(9);
        const int stuffing = file_.ReadByte();
        if (stuffing >= 0) file_.Skip(stuffing & 7);
      }
      continue;
    }
    if (code == kSystemHeaderStartCode ||
        (code > kSystemHeaderStartCode && !IsVideoStreamId(code))) {
      if (!SkipByLength()) break;
      continue;
    }
    if (!IsVideoStreamId(code)) continue;  // a start code of the elementary layer: search on

    const int length = file_.ReadWord16();
    if (length < 0) break;
    int left = length;
    int b = file_.PeekByte();
    while (left > 0 && b >= 0x80) {  // stuffing while the next bit is 1
      file_.Skip(1);
      --left;
      b = file_.PeekByte();
    }
    if ((b >> 6) == 1) {  // '01': STD buffer scale and size
      file_.Skip(2);
      left -= 2;
      b = file_.PeekByte();
    }
    if (b < 0) break;
    if ((b >> 4) == 2) {  // '0010': presentation time stamp
      left -= 5;
      file_.Skip(5);
    } else if ((b >> 4) == 3) {  // '0011': presentation and decoding time stamps
      left -= 10;
      file_.Skip(10);
    } else {  // '0000 1111': neither
      left -= 1;
      file_.Skip(1);
    }
    const std::int64_t payloadStart = start + 6 + (length - left);
    if (left <= 0 || payloadStart >= file_.Size()) {
      // An empty packet, or a header that overran its packet: search on after the header.
      next_ = std::min(payloadStart, file_.Size());
      if (!file_.Seek(next_)) break;
      continue;
    }
    packet.position = start;
    packet.payloadStart = payloadStart;
    packet.payloadLength =
        static_cast<std::int32_t>(std::min<std::int64_t>(left, file_.Size() - payloadStart));
    packet.streamId = static_cast<std::uint8_t>(code);
    next_ = payloadStart + packet.payloadLength;
    file_.Seek(payloadStart);
    return true;
  }
  ended_ = true;
  return false;
}

}  // namespace calvex::video_decoder
