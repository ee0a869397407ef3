#include "audio_decoder/synthesis_filter.h"

#include <cmath>
#include <numbers>

#include "mpeg_audio/audio_tables.h"

namespace calvex::audio_decoder {

SynthesisTables::SynthesisTables() {
  for (int k = 0; k < 16; ++k) {
    for (int j = 0; j < 16; ++j) {
      const double angle = static_cast<double>(2 * k + 1) * std::numbers::pi / 64.0;
      even[k][j] = std::cos(static_cast<double>(2 * j) * angle);
      odd[k][j] = std::cos(static_cast<double>(2 * j + 1) * angle);
    }
  }
}

bool SynthesisPathAvailable(SynthesisPath path) {
  switch (path) {
    case SynthesisPath::kPlain:
      return true;
    case SynthesisPath::kSse2:
#if defined(__x86_64__) || defined(__SSE2__)
      return true;
#else
      return false;
#endif
    case SynthesisPath::kAvx2:
#if defined(__x86_64__)
      return __builtin_cpu_supports("avx2");
#else
      return false;
#endif
  }
  return false;
}

SynthesisPath BestSynthesisPath() {
  if (SynthesisPathAvailable(SynthesisPath::kAvx2)) return SynthesisPath::kAvx2;
  if (SynthesisPathAvailable(SynthesisPath::kSse2)) return SynthesisPath::kSse2;
  return SynthesisPath::kPlain;
}

SynthesisKernels KernelsFor(SynthesisPath path) {
  if (!SynthesisPathAvailable(path)) path = SynthesisPath::kPlain;
  switch (path) {
#if defined(__x86_64__) || defined(__SSE2__)
    case SynthesisPath::kSse2:
      return {MatrixSse2, WindowSse2};
    case SynthesisPath::kAvx2:
      return {MatrixAvx2, WindowAvx2};
#endif
    default:
      return {MatrixPlain, WindowPlain};
  }
}

void MatrixPlain(const SynthesisTables& t, const double* s, double* c) {
  double e[16], o[16], ce[16], co[16];
  SplitEvenOdd(s, e, o);
  for (int j = 0; j < 16; ++j) {
    ce[j] = 0.0;
    co[j] = 0.0;
  }
  for (int k = 0; k < 16; ++k) {
    for (int j = 0; j < 16; ++j) {
      ce[j] = ce[j] + t.even[k][j] * e[k];
      co[j] = co[j] + t.odd[k][j] * o[k];
    }
  }
  for (int j = 0; j < 16; ++j) {
    c[2 * j] = ce[j];
    c[2 * j + 1] = co[j];
  }
}

void WindowPlain(const double* ring, unsigned offset, std::int16_t* pcm) {
  const double* d = audio::kSynthesisWindow.data();
  for (unsigned j = 0; j < 32; ++j) {
    double sum = 0.0;
    for (unsigned i = 0; i < 16; ++i)
      sum = sum + ring[WindowRingStart(offset, i) + j] * d[j + 32 * i];
    double x = sum * 32768.0;
    x = x < 32767.0 ? x : 32767.0;
    x = x > -32768.0 ? x : -32768.0;
    pcm[j] = static_cast<std::int16_t>(static_cast<int>(x));
  }
}

SynthesisFilter::SynthesisFilter(SynthesisPath path) : kernels_(KernelsFor(path)) {}

void SynthesisFilter::Reset() {
  v_.fill(0.0);
  offset_ = 64;
}

void SynthesisFilter::Synthesize(const SynthesisTables& tables, const double* subbands,
                                 std::int16_t* pcm) {
  offset_ = (offset_ - 64) & 1023;
  alignas(32) double c[33];
  kernels_.matrix(tables, subbands, c);
  c[32] = 0.0;  // cos(32(2k + 1)pi/64) = 0
  // V[i] = c[16 + i] for i = 0..16, -c[48 - i] for i = 17..48 and -c[i - 48] for i = 49..63.
  double* v = v_.data() + offset_;
  for (int i = 0; i <= 16; ++i) v[i] = c[16 + i];
  for (int i = 17; i <= 48; ++i) v[i] = -c[48 - i];
  for (int i = 49; i < 64; ++i) v[i] = -c[i - 48];
  kernels_.window(v_.data(), offset_, pcm);
}

}  // namespace calvex::audio_decoder
