// The video decoder's bytes from a system stream: the data of its video packets in file order,
// with the seek the picture index needs (restart at a video packet's start code).
#pragma once

#include <cstdint>
#include <string>

#include "core/status.h"
#include "video_decoder/byte_source.h"
#include "video_decoder/mpeg_file_reader.h"
#include "video_decoder/video_packets.h"

namespace calvex::video_decoder {

class SystemVideoSource : public ByteSource {
 public:
  SystemVideoSource() : walker_(file_) {}

  // Opens `path` and finds its first video packet: 0, 101 when it cannot be opened, 114 when it
  // does not start with a pack or holds no video packet.
  Status Open(const std::string& path);
  void Close();
  bool IsOpen() const { return file_.IsOpen(); }

  std::int64_t Read(std::uint8_t* buffer, std::size_t size) override;
  // The file position, for the progress of a conversion.
  std::int64_t BytesRead() const override { return file_.Position(); }

  // Goes on with the video packet whose start code is at `position`. False when the position is
  // outside the file.
  bool SeekToPacket(std::int64_t position);

 private:
  MpegFileReader file_;
  VideoPacketWalker walker_;
  std::int64_t packetLeft_ = 0;  // data bytes of the current packet not yet read
};

}  // namespace calvex::video_decoder
