// AVX2 forms of the analysis filter's inner loops; called only after a CPU check. Multiplies and
// adds stay separate (no FMA), so the results equal the plain code's.
#include <immintrin.h>

#include "audio_encoder/analysis_filter.h"

namespace calvex::audio {

void WindowSumAvx2(const double* ring, const double* window, double* y) {
  for (int i = 0; i < 64; i += 4) {
    __m256d sum = _mm256_setzero_pd();
    for (int j = 0; j < 8; ++j)
      sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_loadu_pd(ring + i + 64 * j),
                                             _mm256_loadu_pd(window + i + 64 * j)));
    _mm256_storeu_pd(y + i, sum);
  }
}

void MatrixSubbandsAvx2(const double* mt, const double* y, double* s) {
  __m256d acc[8];
  for (auto& a : acc) a = _mm256_setzero_pd();
  for (int k = 0; k < 64; ++k) {
    const __m256d yk = _mm256_broadcast_sd(y + k);
    const double* row = mt + 32 * k;
    for (int v = 0; v < 8; ++v)
      acc[v] = _mm256_add_pd(acc[v], _mm256_mul_pd(_mm256_load_pd(row + 4 * v), yk));
  }
  for (int v = 0; v < 8; ++v) _mm256_storeu_pd(s + 4 * v, acc[v]);
}

}  // namespace calvex::audio
