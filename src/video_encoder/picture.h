// Picture planes and per-macroblock records of the MPEG-1 video encoder.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace calvex::video {

enum PictureType : int { kPictureI = 1, kPictureP = 2, kPictureB = 3 };

// Sizes of one coded picture: the output size and its padding to whole macroblocks.
struct PictureGeometry {
  int width = 0;  // displayed size (even)
  int height = 0;
  int mbWidth = 0;  // macroblocks per row / column
  int mbHeight = 0;
  int width16 = 0;  // padded luminance size
  int height16 = 0;

  static PictureGeometry For(int width, int height) {
    PictureGeometry g;
    g.width = width;
    g.height = height;
    g.mbWidth = (width + 15) / 16;
    g.mbHeight = (height + 15) / 16;
    g.width16 = 16 * g.mbWidth;
    g.height16 = 16 * g.mbHeight;
    return g;
  }
  int mbCount() const { return mbWidth * mbHeight; }
  int chromaWidth() const { return width16 / 2; }
  int chromaHeight() const { return height16 / 2; }
};

// One plane of bytes, rows packed (stride = width).
struct Plane {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;

  void Allocate(int w, int h) {
    width = w;
    height = h;
    pixels.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
  }
  std::uint8_t* Row(int y) { return pixels.data() + static_cast<std::size_t>(y) * width; }
  const std::uint8_t* Row(int y) const {
    return pixels.data() + static_cast<std::size_t>(y) * width;
  }
};

// A 4:2:0 picture at the padded size: Y width16 x height16, Cb and Cr half size each way.
struct PictureBuffer {
  Plane y, cb, cr;

  void Allocate(const PictureGeometry& g) {
    y.Allocate(g.width16, g.height16);
    cb.Allocate(g.chromaWidth(), g.chromaHeight());
    cr.Allocate(g.chromaWidth(), g.chromaHeight());
  }
  Plane& Component(int c) { return c == 0 ? y : (c == 1 ? cb : cr); }
  const Plane& Component(int c) const { return c == 0 ? y : (c == 1 ? cb : cr); }
};

// macroblock_type flags.
inline constexpr int kMbIntra = 1, kMbPattern = 2, kMbBackward = 4, kMbForward = 8, kMbQuant = 16;

// What motion estimation decided for one macroblock and what coding made of it.
struct MacroblockInfo {
  int mbType = 0;  // kMb* flags
  int mquant = 0;  // even quantiser 2..62
  int cbp = 0;     // block 0 in bit 5 .. block 5 in bit 0
  bool skipped = false;
  // mv[direction][component]: direction 0 forward, 1 backward; component 0 horizontal, 1
  // vertical; half-pels relative to the macroblock.
  std::array<std::array<int, 2>, 2> mv{};
  double act = 0;  // spatial activity for rate control
  int var = 0;     // the error measure that decided the mode
  // After coding: each block's levels that are not 0, bit n for raster index n.
  std::array<std::uint64_t, 6> nonZero{};
};

// Six blocks of 64 coefficients per macroblock, raster order inside each block.
using Block = std::array<std::int16_t, 64>;
using MacroblockBlocks = std::array<Block, 6>;

}  // namespace calvex::video
