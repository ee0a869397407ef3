#include "video_decoder/system_video_source.h"

#include <algorithm>

namespace calvex::video_decoder {

Status SystemVideoSource::Open(const std::string& path) {
  Close();
  if (const Status s = file_.Open(path); s != kOk) return s;
  std::uint8_t start[4] = {};
  if (file_.Read(start, 4) < 4 || start[0] != 0 || start[1] != 0 || start[2] != 1 ||
      start[3] != 0xBA) {
    Close();
    return kNotMpeg;
  }
  VideoPacket packet;
  walker_.Restart(0);
  if (!walker_.Next(packet)) {
    Close();
    return kNotMpeg;
  }
  packetLeft_ = packet.payloadLength;
  return kOk;
}

void SystemVideoSource::Close() {
  file_.Close();
  walker_.Restart(0);
  packetLeft_ = 0;
}

std::int64_t SystemVideoSource::Read(std::uint8_t* buffer, std::size_t size) {
  if (!file_.IsOpen()) return -1;
  std::size_t copied = 0;
  while (copied < size) {
    if (packetLeft_ == 0) {
      VideoPacket packet;
      if (!walker_.Next(packet)) break;
      packetLeft_ = packet.payloadLength;
    }
    const auto want = static_cast<std::size_t>(
        std::min<std::int64_t>(packetLeft_, static_cast<std::int64_t>(size - copied)));
    const std::size_t got = file_.Read(buffer + copied, want);
    copied += got;
    packetLeft_ -= static_cast<std::int64_t>(got);
    if (got < want) {
      if (file_.ReadError()) return -1;
      packetLeft_ = 0;  // the file ends inside the packet
      break;
    }
  }
  return static_cast<std::int64_t>(copied);
}

bool SystemVideoSource::SeekToPacket(std::int64_t position) {
  if (!file_.IsOpen() || position < 0 || position >= file_.Size()) return false;
  walker_.Restart(position);
  packetLeft_ = 0;
  return true;
}

}  // namespace calvex::video_decoder
