// AVX2 kernels of the synthesis filter: four sums side by side, each added in the plain code's
// order (no fused multiply-add). Called only after a run-time CPU check.
#include <immintrin.h>

#include "audio_decoder/synthesis_filter.h"
#include "mpeg_audio/audio_tables.h"

namespace calvex::audio_decoder {

void MatrixAvx2(const SynthesisTables& t, const double* s, double* c) {
  double e[16], o[16];
  SplitEvenOdd(s, e, o);
  __m256d ce[4], co[4];
#pragma GCC unroll 4
  for (int q = 0; q < 4; ++q) {
    ce[q] = _mm256_setzero_pd();
    co[q] = _mm256_setzero_pd();
  }
  for (int k = 0; k < 16; ++k) {
    const __m256d ek = _mm256_set1_pd(e[k]);
    const __m256d ok = _mm256_set1_pd(o[k]);
#pragma GCC unroll 4
    for (int q = 0; q < 4; ++q) {
      ce[q] = _mm256_add_pd(ce[q], _mm256_mul_pd(_mm256_load_pd(&t.even[k][4 * q]), ek));
      co[q] = _mm256_add_pd(co[q], _mm256_mul_pd(_mm256_load_pd(&t.odd[k][4 * q]), ok));
    }
  }
#pragma GCC unroll 4
  for (int q = 0; q < 4; ++q) {
    const __m256d lo = _mm256_unpacklo_pd(ce[q], co[q]);  // e0 o0 e2 o2
    const __m256d hi = _mm256_unpackhi_pd(ce[q], co[q]);  // e1 o1 e3 o3
    _mm256_storeu_pd(c + 8 * q, _mm256_permute2f128_pd(lo, hi, 0x20));
    _mm256_storeu_pd(c + 8 * q + 4, _mm256_permute2f128_pd(lo, hi, 0x31));
  }
}

void WindowAvx2(const double* ring, unsigned offset, std::int16_t* pcm) {
  const double* d = audio::kSynthesisWindow.data();
  __m256d acc[8];
#pragma GCC unroll 8
  for (int q = 0; q < 8; ++q) acc[q] = _mm256_setzero_pd();
  for (unsigned i = 0; i < 16; ++i) {
    const double* v = ring + WindowRingStart(offset, i);
    const double* w = d + 32 * i;
#pragma GCC unroll 8
    for (int q = 0; q < 8; ++q)
      acc[q] = _mm256_add_pd(acc[q],
                             _mm256_mul_pd(_mm256_load_pd(v + 4 * q), _mm256_loadu_pd(w + 4 * q)));
  }
  const __m256d scale = _mm256_set1_pd(32768.0);
  const __m256d high = _mm256_set1_pd(32767.0);
  const __m256d low = _mm256_set1_pd(-32768.0);
  __m128i words[8];
#pragma GCC unroll 8
  for (int q = 0; q < 8; ++q) {
    __m256d x = _mm256_mul_pd(acc[q], scale);
    x = _mm256_max_pd(_mm256_min_pd(x, high), low);
    words[q] = _mm256_cvttpd_epi32(x);
  }
#pragma GCC unroll 4
  for (int q = 0; q < 4; ++q)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pcm + 8 * q),
                     _mm_packs_epi32(words[2 * q], words[2 * q + 1]));
}

}  // namespace calvex::audio_decoder
