// Where the video decoder's bytes come from: a plain MPEG-1 video file, bytes held in memory, or
// (for a system stream) the video packets' data delivered by a packet reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/status.h"

namespace calvex::video_decoder {

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Copies up to `size` bytes of video elementary stream into `buffer`. Returns the number copied
  // (fewer than asked is allowed, 0 means the end of the data) or a negative number on a read
  // error.
  virtual std::int64_t Read(std::uint8_t* buffer, std::size_t size) = 0;

  // Bytes of the source file consumed so far, for the progress of a plain video file; sources
  // that do not count answer 0.
  virtual std::int64_t BytesRead() const { return 0; }
};

// A video elementary stream held in memory.
class MemoryByteSource : public ByteSource {
 public:
  explicit MemoryByteSource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::int64_t Read(std::uint8_t* buffer, std::size_t size) override;
  std::int64_t BytesRead() const override { return static_cast<std::int64_t>(position_); }
  // Moves the read position (clamped to the data); the seek of the file index uses it.
  void Seek(std::size_t offset) { position_ = offset < bytes_.size() ? offset : bytes_.size(); }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

// A video elementary stream read straight from a file, counting the bytes read.
class FileByteSource : public ByteSource {
 public:
  FileByteSource() = default;
  ~FileByteSource() override;
  FileByteSource(const FileByteSource&) = delete;
  FileByteSource& operator=(const FileByteSource&) = delete;

  // 101 when the file cannot be opened.
  Status Open(const std::string& path);
  void Close();
  bool IsOpen() const { return file_ != nullptr; }

  std::int64_t Read(std::uint8_t* buffer, std::size_t size) override;
  std::int64_t BytesRead() const override { return bytesRead_; }
  // Moves the file to `offset`; the bytes-read count becomes that offset. False on failure.
  bool Seek(std::int64_t offset);

 private:
  std::FILE* file_ = nullptr;
  std::int64_t bytesRead_ = 0;
};

}  // namespace calvex::video_decoder
