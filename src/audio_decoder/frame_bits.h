// A most-significant-bit-first reader over one audio frame held in memory. Reads past the end of
// the frame deliver zero bits, so a truncated or lying frame never reads outside its bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace calvex::audio_decoder {

class FrameBits {
 public:
  FrameBits(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  // The next `n` bits, 1 <= n <= 16.
  std::uint32_t Get(int n) {
    const std::size_t byte = pos_ >> 3;
    const unsigned skip = static_cast<unsigned>(pos_ & 7);
    pos_ += static_cast<std::size_t>(n);
    if (byte + 8 <= size_) {
      std::uint64_t window;
      std::memcpy(&window, data_ + byte, 8);
      window = __builtin_bswap64(window);
      return static_cast<std::uint32_t>((window << skip) >> (64 - n));
    }
    std::uint32_t window = 0;
    for (std::size_t i = 0; i < 3; ++i)
      window = (window << 8) | (byte + i < size_ ? data_[byte + i] : 0u);
    return (window >> (24 - skip - static_cast<unsigned>(n))) & ((1u << n) - 1u);
  }

  std::size_t BitPosition() const { return pos_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace calvex::audio_decoder
