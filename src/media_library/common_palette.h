// The common palettes of 8-bit AVI output: "6-6-6" (216 colours), "3-3-2" (256) and "6-7-6"
// (252), each a regular grid of red, green and blue levels. Internal to the media layer.
#pragma once

#include <array>
#include <cstdint>

namespace calvex::media::detail {

class CommonPalette {
 public:
  // 0 "6-6-6", 1 "3-3-2", 2 "6-7-6"; other values take 0.
  explicit CommonPalette(int choice);

  // Entries as 0xFFRRGGBB, unused ones black.
  const std::array<std::uint32_t, 256>& entries() const { return entries_; }
  int used() const { return used_; }

  // The palette index of the nearest grid colour.
  std::uint8_t IndexOf(std::uint8_t red, std::uint8_t green, std::uint8_t blue) const {
    return static_cast<std::uint8_t>(red_[red] + green_[green] + blue_[blue]);
  }

 private:
  std::array<std::uint32_t, 256> entries_{};
  // Per channel: the nearest level times that channel's weight in the index.
  std::array<std::uint8_t, 256> red_{};
  std::array<std::uint8_t, 256> green_{};
  std::array<std::uint8_t, 256> blue_{};
  int used_ = 0;
};

}  // namespace calvex::media::detail
