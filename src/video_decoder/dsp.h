// The decoder's sample-crunching kernels behind one table of function pointers: a plain reference
// version of each, SSE2 versions (the baseline) and AVX2 versions picked after a run-time CPU
// check. Every version gives the same bits as the reference (tests/video_decoder/dsp_test.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace calvex::video_decoder {

// Inverse DCT of a row-major block (InverseDct), then the samples stored with clamping to 0..255
// (put) or added to the 8 x 8 samples at dst with clamping (add). The block is all zero again on
// return.
using IdctStoreFn = void (*)(std::int16_t* block, std::uint8_t* dst, std::ptrdiff_t stride);
// A block whose only non-zero coefficient is `value` at row-major `position` (the single-
// coefficient fast path), put or added like IdctStoreFn. The block itself is not touched.
using SingleStoreFn = void (*)(int position, int value, std::uint8_t* dst, std::ptrdiff_t stride);

// Motion-compensated prediction of a width x height block (16 x 16 or 8 x 8) from `ref`, with the
// half-sample flags of the vector: (a + b + 1) >> 1 for one flag, (a + b + c + d + 2) >> 2 for
// both. The "average" variants combine the prediction with what dst holds as (d + p + 1) >> 1 (the
// second direction of a bidirectional macroblock). `ref` must be readable over
// (width + halfX) x (height + halfY) samples.
using PredictFn = void (*)(std::uint8_t* dst, std::ptrdiff_t dstStride, const std::uint8_t* ref,
                           std::ptrdiff_t refStride, int height);

// Converts picture rows of 4:2:0 YCbCr to bottom-up 24-bit BGR (see colour_conversion.h).
struct ColourPlanes {
  const std::uint8_t* y;
  const std::uint8_t* cb;
  const std::uint8_t* cr;
  std::ptrdiff_t yStride;
  std::ptrdiff_t cStride;
};
using ConvertRowPairFn = void (*)(const std::uint8_t* y0, const std::uint8_t* y1,
                                  const std::uint8_t* cb, const std::uint8_t* cr, int width,
                                  std::uint8_t* out0, std::uint8_t* out1);

struct DecoderDsp {
  const char* name;
  void (*idct)(std::int16_t* block);  // in place
  IdctStoreFn idctPut;
  IdctStoreFn idctAdd;
  SingleStoreFn singlePut;
  SingleStoreFn singleAdd;
  // [average][0 for 16 wide, 1 for 8 wide][halfX + 2 halfY]
  PredictFn predict[2][2][4];
  // Converts two picture rows sharing one chrominance row (out1/y1 may be null for a last odd
  // row). Writes exactly 3 x width bytes to each output row.
  ConvertRowPairFn convertRowPair;
};

enum class DspLevel { kReference, kSse2, kAvx2, kBest };

// The kernels of a level; kAvx2 falls back to SSE2 on a CPU without AVX2, kBest is the fastest the
// CPU runs.
const DecoderDsp& SelectDsp(DspLevel level);
bool CpuHasAvx2();

const DecoderDsp& ReferenceDsp();
const DecoderDsp& Sse2Dsp();
const DecoderDsp& Avx2Dsp();  // call only when CpuHasAvx2()

}  // namespace calvex::video_decoder
