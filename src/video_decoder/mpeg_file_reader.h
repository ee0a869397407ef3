// Buffered reading of an MPEG file for the scanner, the frame-count estimate and the seekable
// video source: byte reads with the file position always known, and cheap seeks within the
// buffer. Nothing here allocates from a length read out of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/status.h"

namespace calvex::video_decoder {

class MpegFileReader {
 public:
  static constexpr std::size_t kBufferBytes = 65536;

  MpegFileReader() = default;
  ~MpegFileReader() { Close(); }
  MpegFileReader(const MpegFileReader&) = delete;
  MpegFileReader& operator=(const MpegFileReader&) = delete;

  // Opens `path` for reading: 0, or 101 when it cannot be opened or its size cannot be had.
  Status Open(const std::string& path);
  void Close();
  bool IsOpen() const { return file_ != nullptr; }

  // The file's size in bytes, taken when it was opened.
  std::int64_t Size() const { return size_; }
  // Offset of the next byte to be read.
  std::int64_t Position() const { return bufferStart_ + static_cast<std::int64_t>(bufferPos_); }
  // Moves to `position` (0..Size()). False when the position is outside the file or the seek
  // failed; the position is then unchanged.
  bool Seek(std::int64_t position);
  bool Skip(std::int64_t count) { return count >= 0 && Seek(Position() + count); }

  // Copies up to `count` bytes; returns the number copied (fewer only at the end of the file or
  // after a read error).
  std::size_t Read(std::uint8_t* out, std::size_t count);
  // The next byte, or -1 at the end of the data.
  int ReadByte() {
    if (bufferPos_ == bufferLen_ && !Fill()) return -1;
    return buffer_[bufferPos_++];
  }
  int PeekByte() {
    if (bufferPos_ == bufferLen_ && !Fill()) return -1;
    return buffer_[bufferPos_];
  }
  // A big-endian 16-bit value, or -1 at the end of the data.
  int ReadWord16() {
    const int hi = ReadByte();
    const int lo = ReadByte();
    return hi < 0 || lo < 0 ? -1 : (hi << 8) | lo;
  }

  // A read of the file failed (as opposed to meeting its end).
  bool ReadError() const { return readError_; }

 private:
  // Refills the buffer at the current position; false at the end of the data.
  bool Fill();

  std::FILE* file_ = nullptr;
  std::vector<std::uint8_t> buffer_;
  std::int64_t size_ = 0;
  std::int64_t bufferStart_ = 0;  // file offset of buffer_[0]
  std::size_t bufferLen_ = 0;
  std::size_t bufferPos_ = 0;
  bool readError_ = false;
};

// Reads the first `count` bytes of a file (fewer when it is shorter). Empty when it cannot be
// opened.
std::vector<std::uint8_t> ReadFileStart(const std::string& path, std::size_t count);

}  // namespace calvex::video_decoder
