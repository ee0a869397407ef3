// Most-significant-bit-first writer of the video elementary stream, over a byte sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace calvex::video {

// Where the coded bytes go. Write and Close return false when the data could not be stored.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual bool Write(const std::uint8_t* data, std::size_t size) = 0;
  virtual bool Close() = 0;
};

class BitWriter {
 public:
  explicit BitWriter(ByteSink& sink) : sink_(sink) { buffer_.reserve(kFlushSize); }

  // Appends the `count` low bits of `value`, highest first; count <= 0 writes nothing.
  void PutBits(std::uint32_t value, int count) {
    if (count <= 0) return;
    if (count > 32) count = 32;
    while (count > 0) {
      const int take = count < free_ ? count : free_;
      count -= take;
      const std::uint32_t bits = (value >> count) & ((1u << take) - 1u);
      current_ = static_cast<std::uint8_t>(current_ | (bits << (free_ - take)));
      free_ -= take;
      if (free_ == 0) EmitByte();
    }
  }

  // Fills a partly filled byte with zero bits.
  void Align() {
    if (free_ != 8) PutBits(0, free_);
  }

  // Bytes completed so far (written or waiting in the buffer).
  std::uint32_t BytesWritten() const { return bytes_; }

  // 8 x bytes written + bits in the current byte.
  double BitCount() const { return 8.0 * bytes_ + (8 - free_); }

  // Hands the buffered bytes to the sink; a failure raises WriteFailed().
  void Flush() {
    if (!buffer_.empty()) {
      if (!failed_ && !sink_.Write(buffer_.data(), buffer_.size())) failed_ = true;
      buffer_.clear();
    }
  }

  bool WriteFailed() const { return failed_; }

 private:
  static constexpr std::size_t kFlushSize = 1 << 16;

  void EmitByte() {
    buffer_.push_back(current_);
    ++bytes_;
    current_ = 0;
    free_ = 8;
    if (buffer_.size() >= kFlushSize) Flush();
  }

  ByteSink& sink_;
  std::vector<std::uint8_t> buffer_;
  std::uint8_t current_ = 0;
  int free_ = 8;
  std::uint32_t bytes_ = 0;
  bool failed_ = false;
};

}  // namespace calvex::video
