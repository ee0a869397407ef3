// The ISO/IEC 11172-3 synthesis subband filter in double precision: 32 subband samples of one
// channel in, 32 PCM samples out.
//
// Matrixing: V[i] = sum over k of cos((16 + i)(2k + 1)pi/64) S[k], i = 0..63. The 64 values are
// folded onto the 32 sums c[a] = sum over k of cos(a(2k + 1)pi/64) S[k] (V[i] is +-c[...] or 0),
// and each c[a] onto 16 products of the even or odd parts S[k] +- S[31 - k]. Windowing: each
// output sample is the sum of 16 values of V times the window D of Table 3-B.3, taken as the
// standard's U vector prescribes, times 32768, truncated toward zero and limited to 16 bits.
//
// Every sum is added in one fixed order (ascending k, ascending window term), so the plain code
// and the SSE2 and AVX2 kernels, which compute several sums side by side in that same order,
// give identical samples.
//
// Link target: calvex_audio_decoder.
#pragma once

#include <array>
#include <cstdint>

namespace calvex::audio_decoder {

enum class SynthesisPath { kPlain, kSse2, kAvx2 };

// The fastest path this CPU runs (AVX2 after a run-time check, else SSE2 on x86-64).
SynthesisPath BestSynthesisPath();
// Whether `path` can run on this CPU.
bool SynthesisPathAvailable(SynthesisPath path);

// The matrixing coefficients: even[k][j] = cos(2j(2k + 1)pi/64) and odd[k][j] =
// cos((2j + 1)(2k + 1)pi/64), k, j = 0..15. Built once per decoding.
struct SynthesisTables {
  SynthesisTables();
  alignas(32) double even[16][16];
  alignas(32) double odd[16][16];
};

// The kernels of one path.
struct SynthesisKernels {
  // c[0..31] from s[0..31] (c[a] as above).
  void (*matrix)(const SynthesisTables& tables, const double* s, double* c);
  // 32 PCM samples from the ring of 1024 V values whose newest block starts at `offset`.
  void (*window)(const double* ring, unsigned offset, std::int16_t* pcm);
};
SynthesisKernels KernelsFor(SynthesisPath path);

// The synthesis state of one channel.
class SynthesisFilter {
 public:
  explicit SynthesisFilter(SynthesisPath path = BestSynthesisPath());

  // Filters one block of 32 subband samples into 32 PCM samples.
  void Synthesize(const SynthesisTables& tables, const double* subbands, std::int16_t* pcm);

  // Back to the state of a fresh filter (all V values 0).
  void Reset();

 private:
  SynthesisKernels kernels_;
  unsigned offset_ = 64;  // start of the newest V block; moved back by 64 before each block
  alignas(32) std::array<double, 1024> v_{};
};

// Kernel entry points, one per path (synthesis_filter*.cpp).
void MatrixPlain(const SynthesisTables& tables, const double* s, double* c);
void WindowPlain(const double* ring, unsigned offset, std::int16_t* pcm);
void MatrixSse2(const SynthesisTables& tables, const double* s, double* c);
void WindowSse2(const double* ring, unsigned offset, std::int16_t* pcm);
void MatrixAvx2(const SynthesisTables& tables, const double* s, double* c);
void WindowAvx2(const double* ring, unsigned offset, std::int16_t* pcm);

// The helpers below are also compiled into the AVX2 kernels: internal linkage keeps each file's
// copy to itself, so no AVX2 code can stand in for the baseline one.

// The even and odd parts of a block: e[k] = s[k] + s[31 - k], o[k] = s[k] - s[31 - k].
static inline void SplitEvenOdd(const double* s, double* e, double* o) {
  for (int k = 0; k < 16; ++k) {
    e[k] = s[k] + s[31 - k];
    o[k] = s[k] - s[31 - k];
  }
}

// The window term i (0..15) of output j reads V from this ring position (j added).
static constexpr unsigned WindowRingStart(unsigned offset, unsigned i) {
  return (offset + 64 * i + ((i & 1) != 0 ? 32 : 0)) & 1023;
}

}  // namespace calvex::audio_decoder
