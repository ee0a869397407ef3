// Scalar pieces shared by the reference and the vector kernels (for the edges they leave).
#pragma once

#include <cmath>
#include <cstdint>

#include "video_encoder/kernels.h"

namespace calvex::video {

// The order in which the whole-pel search kernels visit the window: groups of 8 neighbouring
// positions of one row (their first column in groupX, row in groupY), rows from the middle of
// the window outward, where the best positions usually are. The kernels take two groups at a
// time, so an odd count repeats the last group (it cannot change the minimum). Returns the count.
inline int SearchGroupOrder(int cols, int rows, std::uint16_t* groupX, std::uint16_t* groupY) {
  int groups = 0;
  for (int i = 0; i < rows; ++i) {
    const int y = rows / 2 + (i & 1 ? -(i + 1) / 2 : i / 2);  // middle, above, below, ...
    for (int x = 0; x < cols; x += 8) {
      groupX[groups] = static_cast<std::uint16_t>(x);
      groupY[groups] = static_cast<std::uint16_t>(y);
      ++groups;
    }
  }
  if (groups & 1) {
    groupX[groups] = groupX[groups - 1];
    groupY[groups] = groupY[groups - 1];
    ++groups;
  }
  return groups;
}

// Groups SearchGroupOrder gives at most.
inline constexpr int kMaxSearchGroups = kMaxSearchWindow * ((kMaxSearchWindow + 7) / 8) + 1;

// Puts the AVX-512 colour conversion, chroma filters and DCT (kernels_avx512_pixels.cpp) into
// `k` where the processor has AVX-512 DQ; only for one with AVX-512 F, BW and VL.
void UseAvx512PixelKernels(Kernels& k);

struct ColourSample {
  std::uint8_t y, cb, cr;
};

// ITU-R BT.601 conversion of one pixel in double precision, studio range.
inline ColourSample ConvertPixel(int r, int g, int b) {
  const double cr = 0.299, cg = 0.587, cb = 0.114;
  const double y = cr * r + cg * g + cb * b;
  const double u = (b - y) * 0.5 / (1 - cb);
  const double v = (r - y) * 0.5 / (1 - cr);
  return {static_cast<std::uint8_t>(static_cast<int>(y * 219 / 256 + 16.5)),
          static_cast<std::uint8_t>(static_cast<int>(u * 224 / 256 + 128.5)),
          static_cast<std::uint8_t>(static_cast<int>(v * 224 / 256 + 128.5))};
}

// The DCT basis (DctBasis) entries c[j][k], k < 4, rounded to floats: what the float DCT
// multiplies by.
struct FloatDctBasis {
  float c[8][4];
  FloatDctBasis() {
    const auto& b = DctBasis();
    for (int j = 0; j < 8; ++j)
      for (int k = 0; k < 4; ++k) c[j][k] = static_cast<float>(b[j][k]);
  }
};

// A float DCT's coefficient rounded as the double one's, floor(s + 0.499999), saturated to 16
// bits as the vector code packs it.
inline std::int16_t RoundedCoefficient(float s) {
  const float n = std::floor(s + 0.499999f);
  return static_cast<std::int16_t>(n < -32768.0f ? -32768 : (n > 32767.0f ? 32767 : n));
}

inline int ClampIndex(int i, int length) {
  return i < 0 ? 0 : (i >= length ? length - 1 : i);
}

inline std::uint8_t ClipByte(int v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// The 12-tap 2:1 filter from the samples at offsets -5 .. 6 of the output's first sample;
// `at(k)` gives the sample at offset k. Its phase puts each output midway between samples 0
// and 1.
template <typename At>
inline std::uint8_t ChromaTap(At at) {
  const int sum = 228 * (at(0) + at(1)) + 70 * (at(-1) + at(2)) - 37 * (at(-2) + at(3)) -
                  21 * (at(-3) + at(4)) + 11 * (at(-4) + at(5)) + 5 * (at(-5) + at(6)) + 256;
  return ClipByte(sum >> 9);
}

// The filter at even index i of a line of `length` samples `step` apart; indices outside the
// line take its edge sample.
inline std::uint8_t ClampedChromaTap(const std::uint8_t* s, int step, int length, int i) {
  return ChromaTap([&](int k) { return static_cast<int>(s[ClampIndex(i + k, length) * step]); });
}

}  // namespace calvex::video
