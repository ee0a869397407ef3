// The encoder's hot loops: block distances, interpolated prediction, sums for variance and
// activity, the forward DCT and the colour conversion with its chroma filters.
//
// Each kernel has a plain reference (kernels_ref.cpp) and SSE2/AVX2/AVX-512 versions that give
// exactly the same results; KernelsForCpu() picks the best one the processor runs.
#pragma once

#include <cstdint>

namespace calvex::video {

// Window sizes of the whole-pel search kernel, and the row stride of its rank table.
inline constexpr int kMaxSearchWindow = 33;
inline constexpr int kRankStride = 64;

// Blocks one call of sad16Blocks compares at most: the half-pel positions around a whole one.
inline constexpr int kMaxSadBlocks = 9;

// Columns of each row the search kernel may read for a window `cols` wide.
constexpr int SearchReadWidth(int cols) {
  return 8 * ((cols + 7) / 8) + 16;
}

struct Kernels {
  // Whole-pel search over a window of the reference: the SAD of the 16 x 16 block `cur` against
  // every position ref + y * refStride + x, x < cols, y < rows (1..kMaxSearchWindow each).
  // Returns (SAD << 16) | rank of the smallest SAD, ties going to the smallest rank, where the
  // rank of position (x, y) is rank[y * kRankStride + x] (distinct within the window). Reads rows
  // y < rows + 15 of the reference, in them columns x < SearchReadWidth(cols).
  std::uint32_t (*searchWindow)(const std::uint8_t* cur, int curStride, const std::uint8_t* ref,
                                int refStride, int cols, int rows, const std::uint16_t* rank);
  // SADs of the 16 x 16 block `cur` against `count` (1..kMaxSadBlocks) blocks, all with rows
  // `stride` apart, into sads[0 .. count - 1].
  void (*sad16Blocks)(const std::uint8_t* cur, const std::uint8_t* const* blocks, int count,
                      int stride, int* sads);
  // SSE of two 16 x 16 blocks.
  int (*sse16)(const std::uint8_t* a, const std::uint8_t* b, int stride);
  // SSE of `cur` against the rounded average (a + b + 1) >> 1 of two blocks.
  int (*sseAverage16)(const std::uint8_t* cur, const std::uint8_t* a, const std::uint8_t* b,
                      int stride);
  // One row of the three half-pel phases of row p with q the row below (nullptr for the last
  // row, which gets h only): h[x] = (p[x] + p[x+1] + 1) >> 1 and hv[x] = (p[x] + p[x+1] + q[x] +
  // q[x+1] + 2) >> 2 for x < width - 1; v[x] = (p[x] + q[x] + 1) >> 1 for x < width.
  void (*halfPelRow)(const std::uint8_t* p, const std::uint8_t* q, int width, std::uint8_t* h,
                     std::uint8_t* v, std::uint8_t* hv);
  // Half-pel prediction of a size x size block (size 16 or 8) into `dst`.
  void (*predict)(std::uint8_t* dst, int dstStride, const std::uint8_t* ref, int refStride,
                  int size, int hx, int hy);
  // dst = (dst + src + 1) >> 1 over a size x size block (size 16 or 8).
  void (*average)(std::uint8_t* dst, int dstStride, const std::uint8_t* src, int srcStride,
                  int size);
  // Sum and sum of squares of each 8 x 8 block of a 16 x 16 block, in raster order.
  void (*blockSums)(const std::uint8_t* p, int stride, int sums[4], int squares[4]);
  // The 8 x 8 difference src - pred (rows `stride` apart in both) into `block`.
  void (*subtractBlock)(const std::uint8_t* src, const std::uint8_t* pred, int stride,
                        std::int16_t* block);
  // Double-precision forward DCT of one block, in place.
  void (*forwardDct)(std::int16_t* block);
  // Single-precision forward DCT of one block of sample differences, in place: the high preset's
  // candidates. Its rounding is not forwardDct's (a coefficient may differ by 1), but every
  // kernel set performs the same float operations in the same order and gives the same levels.
  void (*forwardDctFloat)(std::int16_t* block);
  // Quantisation of a block in place with the intra or the non-intra rule (QuantiseIntra,
  // QuantiseNonIntra in transform.h) and quantiser mquant (even, 2..62). Returns which levels are
  // not 0: bit n for raster index n.
  std::uint64_t (*quantiseIntra)(std::int16_t* block, int mquant);
  std::uint64_t (*quantiseNonIntra)(std::int16_t* block, int mquant);
  // The integer IDCT of transform.h (InverseDct), in place.
  void (*inverseDct)(std::int16_t* block);
  // out = clip to 0..255 of pred + block over an 8 x 8 block (rows `stride` apart in out and
  // pred).
  void (*addBlock)(const std::uint8_t* pred, const std::int16_t* block, int stride,
                   std::uint8_t* out);
  // RGB to Y, Cb, Cr for `count` pixels of one bitmap row (blue, green, red order).
  void (*convertRow)(const std::uint8_t* bgr, int count, std::uint8_t* y, std::uint8_t* cb,
                     std::uint8_t* cr);
  // 12-tap 2:1 chroma filter along a row: dst[o] for o < count from src[2o - 5 .. 2o + 6];
  // reads exactly src[-5 .. 2 count + 4], so the caller pads the line with its edge samples.
  void (*filterRow)(const std::uint8_t* src, int count, std::uint8_t* dst);
  // The same filter down the columns of a plane `width` wide: dstRows output rows from srcRows
  // input rows (stride `width` both), rows outside 0..srcRows-1 taking the edge row.
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
// The AVX2 kernels with AVX-512 (BW, VL) whole-pel search, colour conversion, chroma filters and
// DCT; nullptr when the processor lacks those.
const Kernels* Avx512Kernels();
// The fastest kernels the processor supports.
const Kernels& KernelsForCpu();

// The DCT basis c[k][n] = s(k) cos(pi/8 k (n + 0.5)), s(0) = sqrt(1/8), s(k) = 1/2.
const double (&DctBasis())[8][8];

}  // namespace calvex::video
