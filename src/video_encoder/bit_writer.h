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
  explicit BitWriter(ByteSink& sink) : sink_(sink), buffer_(kFlushSize + 8) {}

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
      std::uint8_t* out = buffer_.data() + filled_;
      out[0] = static_cast<std::uint8_t>(word >> 24);
      out[1] = static_cast<std::uint8_t>(word >> 16);
      out[2] = static_cast<std::uint8_t>(word >> 8);
      out[3] = static_cast<std::uint8_t>(word);
      filled_ += 4;
      bytes_ += 4;
      if (filled_ >= kFlushSize) Flush();
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
      buffer_[filled_++] = static_cast<std::uint8_t>(pending_ >> used_);
      ++bytes_;
    }
    if (filled_ != 0) {
      if (!failed_ && !sink_.Write(buffer_.data(), filled_)) failed_ = true;
      filled_ = 0;
    }
  }

  bool WriteFailed() const { return failed_; }

 private:
  static constexpr std::size_t kFlushSize = 1 << 16;

  ByteSink& sink_;
  std::vector<std::uint8_t> buffer_;  // kFlushSize + 8 bytes, of which the first filled_ are due
  std::size_t filled_ = 0;
  std::uint64_t pending_ = 0;  // the low `used_` bits are not yet in bytes_
  int used_ = 0;               // 0..31 between calls
  std::uint32_t bytes_ = 0;    // bytes moved to buffer_ (or on to the sink)
  bool failed_ = false;
};

}  // namespace calvex::video
