#include "media_library/common_palette.h"

namespace calvex::media::detail {
namespace {

// The level (0..levels-1) nearest to v, with levels spread evenly over 0..255.
int NearestLevel(int v, int levels) {
  return (v * (levels - 1) + 127) / 255;
}

int LevelValue(int level, int levels) {
  return (level * 255 + (levels - 1) / 2) / (levels - 1);
}

}  // namespace

CommonPalette::CommonPalette(int choice) {
  int r = 6, g = 6, b = 6;
  if (choice == 1) {
    r = 8;
    g = 8;
    b = 4;
  } else if (choice == 2) {
    g = 7;
  }
  // Index = (red level * g + green level) * b + blue level.
  for (int v = 0; v < 256; ++v) {
    red_[v] = static_cast<std::uint8_t>(NearestLevel(v, r) * g * b);
    green_[v] = static_cast<std::uint8_t>(NearestLevel(v, g) * b);
    blue_[v] = static_cast<std::uint8_t>(NearestLevel(v, b));
  }
  used_ = r * g * b;
  for (int i = 0; i < used_; ++i) {
    const int rl = i / (g * b), gl = i / b % g, bl = i % b;
    entries_[static_cast<std::size_t>(i)] = 0xFF000000u |
                                            static_cast<std::uint32_t>(LevelValue(rl, r)) << 16 |
                                            static_cast<std::uint32_t>(LevelValue(gl, g)) << 8 |
                                            static_cast<std::uint32_t>(LevelValue(bl, b));
  }
}

}  // namespace calvex::media::detail
