// Walking the packs and packets of an ISO/IEC 11172-1 system stream to its video packets (stream
// identifiers 0xE0..0xEF), with the file position of each packet. The scanner builds the index
// from these positions and the seekable video source of a system stream restarts its walk at one.
//
// The packet header is read as the system-stream packet reader of the audio folder reads it
// (stuffing while the next bit is 1, the buffer field after '01', then the time stamps by the
// next four bits), so that both deliver the same video bytes. Damage never stops the walk: bytes
// that are not a start code are searched through for the next prefix 0x000001, and a header that
// claims more than its packet holds leaves the packet empty.
#pragma once

#include <cstdint>

#include "video_decoder/mpeg_file_reader.h"

namespace calvex::video_decoder {

struct VideoPacket {
  std::int64_t position = 0;       // file offset of the packet's start code (its first 0x00)
  std::int64_t payloadStart = 0;   // file offset of its first data byte
  std::int32_t payloadLength = 0;  // data bytes, as far as the file holds them
  std::uint8_t streamId = 0;
};

class VideoPacketWalker {
 public:
  explicit VideoPacketWalker(MpegFileReader& file) : file_(file) {}

  // The next search for a start code begins at `position` (a pack's or a packet's start code,
  // or any byte before one).
  void Restart(std::int64_t position) {
    next_ = position;
    ended_ = false;
  }

  // Finds the next video packet. False at the end code (0x000001B9) or the end of the data.
  bool Next(VideoPacket& packet);

 private:
  // Consumes bytes up to and including the next start code prefix and returns the code after it;
  // -1 at the end of the data. `start` receives the offset of the prefix's first byte.
  int NextStartCode(std::int64_t& start);
  // Skips a packet whose 16-bit length follows; false at the end of the data.
  bool SkipByLength();

  MpegFileReader& file_;
  std::int64_t next_ = 0;
  bool ended_ = false;
};

}  // namespace calvex::video_decoder
