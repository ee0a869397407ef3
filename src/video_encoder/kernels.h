// The encoder's hot loops: block distances, interpolated prediction, sums for variance and
// activity, the forward DCT and the colour conversion with its chroma filters.
//
// Each kernel has a plain reference (kernels_ref.cpp) and SSE2/AVX2 versions that give exactly
// the same results; KernelsForCpu() picks the best one the processor runs.
#pragma once

#include <cstdint>

namespace calvex::video {

struct Kernels {
  // SAD of a 16 x 16 block at whole-pel position `ref`. The running sum is checked against
  // `limit` as the rows go; the exact SAD is returned when it is below `limit`, otherwise some
  // value >= `limit`.
  int (*sadFullPel)(const std::uint8_t* cur, const std::uint8_t* ref, int stride, int limit);
  // SAD and SSE of a 16 x 16 block against the half-pel interpolation at `ref` (hx, hy: 0 or 1).
  int (*sadHalfPel)(const std::uint8_t* cur, const std::uint8_t* ref, int stride, int hx, int hy);
  int (*sseHalfPel)(const std::uint8_t* cur, const std::uint8_t* ref, int stride, int hx, int hy);
  // SSE against the rounded average of two half-pel interpolations.
  int (*sseBidirectional)(const std::uint8_t* cur, const std::uint8_t* refF, int hxf, int hyf,
                          const std::uint8_t* refB, int hxb, int hyb, int stride);
  // Half-pel prediction of a size x size block (size 16 or 8) into `dst`.
  void (*predict)(std::uint8_t* dst, int dstStride, const std::uint8_t* ref, int refStride,
                  int size, int hx, int hy);
  // dst = (dst + src + 1) >> 1 over a size x size block.
  void (*average)(std::uint8_t* dst, const std::uint8_t* src, int stride, int size);
  // Sum and sum of squares of a size x size block (size 16 or 8).
  void (*blockSums)(const std::uint8_t* p, int stride, int size, int* sum, int* sumSquares);
  // Double-precision forward DCT of one block, in place.
  void (*forwardDct)(std::int16_t* block);
  // RGB to Y, Cb, Cr for `count` pixels of one bitmap row (blue, green, red order).
  void (*convertRow)(const std::uint8_t* bgr, int count, std::uint8_t* y, std::uint8_t* cb,
                     std::uint8_t* cr);
  // 12-tap 2:1 chroma filter: `count` outputs from `src` with `srcLength` samples `step` apart
  // (1 for a row, the stride for a column); indices outside 0..srcLength-1 take the edge.
  void (*filterRow)(const std::uint8_t* src, int srcLength, std::uint8_t* dst, int count);
  void (*filterColumns)(const std::uint8_t* src, int width, int srcRows, std::uint8_t* dst,
                        int dstRows);
  const char* name;
};

// The plain reference kernels.
const Kernels& ReferenceKernels();
// SSE2 kernels (always present on x86-64).
const Kernels& Sse2Kernels();
// AVX2 kernels; nullptr when the processor lacks AVX2.
const Kernels* Avx2Kernels();
// The fastest kernels the processor supports.
const Kernels& KernelsForCpu();

// The DCT basis c[k][n] = s(k) cos(pi/8 k (n + 0.5)), s(0) = sqrt(1/8), s(k) = 1/2.
const double (&DctBasis())[8][8];

}  // namespace calvex::video
