// SSE2 kernels of the synthesis filter: two sums side by side, each added in the plain code's
// order.
#include <emmintrin.h>

#include "audio_decoder/synthesis_filter.h"
#include "mpeg_audio/audio_tables.h"

namespace calvex::audio_decoder {

void MatrixSse2(const SynthesisTables& t, const double* s, double* c) {
  double e[16], o[16];
  SplitEvenOdd(s, e, o);
  // The even and odd sums in two passes: eight accumulators each stay in registers.
  __m128d ce[8], co[8];
#pragma GCC unroll 8
  for (int q = 0; q < 8; ++q) ce[q] = _mm_setzero_pd();
  for (int k = 0; k < 16; ++k) {
    const __m128d ek = _mm_set1_pd(e[k]);
#pragma GCC unroll 8
    for (int q = 0; q < 8; ++q)
      ce[q] = _mm_add_pd(ce[q], _mm_mul_pd(_mm_load_pd(&t.even[k][2 * q]), ek));
  }
#pragma GCC unroll 8
  for (int q = 0; q < 8; ++q) co[q] = _mm_setzero_pd();
  for (int k = 0; k < 16; ++k) {
    const __m128d ok = _mm_set1_pd(o[k]);
#pragma GCC unroll 8
    for (int q = 0; q < 8; ++q)
      co[q] = _mm_add_pd(co[q], _mm_mul_pd(_mm_load_pd(&t.odd[k][2 * q]), ok));
  }
#pragma GCC unroll 8
  for (int q = 0; q < 8; ++q) {
    _mm_storeu_pd(c + 4 * q, _mm_unpacklo_pd(ce[q], co[q]));
    _mm_storeu_pd(c + 4 * q + 2, _mm_unpackhi_pd(ce[q], co[q]));
  }
}

void WindowSse2(const double* ring, unsigned offset, std::int16_t* pcm) {
  const double* d = audio::kSynthesisWindow.data();
  const __m128d scale = _mm_set1_pd(32768.0);
  const __m128d high = _mm_set1_pd(32767.0);
  const __m128d low = _mm_set1_pd(-32768.0);
  for (unsigned half = 0; half < 2; ++half) {
    const unsigned j0 = 16 * half;
    __m128d acc[8];
#pragma GCC unroll 8
    for (int q = 0; q < 8; ++q) acc[q] = _mm_setzero_pd();
    for (unsigned i = 0; i < 16; ++i) {
      const double* v = ring + WindowRingStart(offset, i) + j0;
      const double* w = d + 32 * i + j0;
#pragma GCC unroll 8
      for (int q = 0; q < 8; ++q)
        acc[q] = _mm_add_pd(acc[q], _mm_mul_pd(_mm_load_pd(v + 2 * q), _mm_loadu_pd(w + 2 * q)));
    }
    __m128i words[8];
#pragma GCC unroll 8
    for (int q = 0; q < 8; ++q) {
      __m128d x = _mm_mul_pd(acc[q], scale);
      x = _mm_max_pd(_mm_min_pd(x, high), low);
      words[q] = _mm_cvttpd_epi32(x);
    }
    const __m128i a = _mm_unpacklo_epi64(words[0], words[1]);
    const __m128i b = _mm_unpacklo_epi64(words[2], words[3]);
    const __m128i c = _mm_unpacklo_epi64(words[4], words[5]);
    const __m128i e = _mm_unpacklo_epi64(words[6], words[7]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pcm + j0), _mm_packs_epi32(a, b));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pcm + j0 + 8), _mm_packs_epi32(c, e));
  }
}

}  // namespace calvex::audio_decoder
