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

// Bits gather in a 64-bit register and leave it four bytes at a time, so that a code of up to 32
// bits costs a shift and an or.
class BitWriter {
 public:
  explicit BitWriter(ByteSink& sink) : sink_(sink) { buffer_.reserve(kFlushSize + 8); }

  // Appends the `count` low bits of `value`, highest first; count <= 0 writes nothing.
  void PutBits(std::uint32_t value, int count) {
    if (count <= 0) return;
    if (count > 32) count = 32;
    const std::uint64_t bits = value & (0xFFFFFFFFu >> (32 - count));
    pending_ = (pending_ << count) | bits;
    used_ += count;
    if (used_ >= 32) {
      used_ -= 32;
      const auto word = static_cast<std::uint32_t>(pending_ >> used_);
      const std::uint8_t bytes[4] = {
          static_cast<std::uint8_t>(word >> 24), static_cast<std::uint8_t>(word >> 16),
          static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)};
      buffer_.insert(buffer_.end(), bytes, bytes + 4);
      bytes_ += 4;
      if (buffer_.size() >= kFlushSize) Flush();
    }
  }

  // Fills a partly filled byte with zero bits.
  void Align() {
    if (used_ & 7) PutBits(0, 8 - (used_ & 7));
  }

  // Bytes completed so far (written or waiting).
  std::uint32_t BytesWritten() const { return bytes_ + static_cast<std::uint32_t>(used_ >> 3); }

  // 8 x bytes written + bits in the current byte.
  double BitCount() const { return 8.0 * bytes_ + used_; }

  // Hands the completed bytes to the sink; a failure raises WriteFailed().
  void Flush() {
    while (used_ >= 8) {
      used_ -= 8;
      buffer_.push_back(static_cast<std::uint8_t>(pending_ >> used_));
      ++bytes_;
    }
    if (!buffer_.empty()) {
      if (!failed_ && !sink_.Write(buffer_.data(), buffer_.size())) failed_ = true;
      buffer_.clear();
    }
  }

  bool WriteFailed() const { return failed_; }

 private:
  static constexpr std::size_t kFlushSize = 1 << 16;

  ByteSink& sink_;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t pending_ = 0;  // the low `used_` bits are not yet in bytes_
  int used_ = 0;               // 0..31 between calls
  std::uint32_t bytes_ = 0;    // bytes moved to buffer_ (or on to the sink)
  bool failed_ = false;
};

}  // namespace calvex::video
