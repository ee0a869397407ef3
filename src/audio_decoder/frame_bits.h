// A most-significant-bit-first reader over one audio frame held in memory. Reads past the end of
// the frame deliver zero bits, so a truncated or lying frame never reads outside its bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace calvex::audio_decoder {

class FrameBits {
 public:
  FrameBits(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  // The next `n` bits, 1 <= n <= 16.
  std::uint32_t Get(int n) {
    const std::size_t byte = pos_ >> 3;
    std::uint32_t window;
    if (byte + 3 <= size_) {
      window = (std::uint32_t{data_[byte]} << 16) | (std::uint32_t{data_[byte + 1]} << 8) |
               data_[byte + 2];
    } else {
      window = 0;
      for (std::size_t i = 0; i < 3; ++i)
        window = (window << 8) | (byte + i < size_ ? data_[byte + i] : 0u);
    }
    const unsigned shift = 24 - static_cast<unsigned>(pos_ & 7) - static_cast<unsigned>(n);
    pos_ += static_cast<std::size_t>(n);
    return (window >> shift) & ((1u << n) - 1u);
  }

  std::size_t BitPosition() const { return pos_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace calvex::audio_decoder
