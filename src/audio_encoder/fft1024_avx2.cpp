// AVX2 form of one FFT stage; called only after a CPU check. Multiplies and adds stay separate
// (no FMA), so the results equal the plain code's.
#include <immintrin.h>

namespace calvex::audio {

void FftStageAvx2(double* re, double* im, int le1, const double* ur, const double* ui) {
  for (int j = 0; j < le1; j += 4) {
    const __m256d ar = _mm256_loadu_pd(re + j), br = _mm256_loadu_pd(re + j + le1);
    const __m256d ai = _mm256_loadu_pd(im + j), bi = _mm256_loadu_pd(im + j + le1);
    const __m256d dr = _mm256_sub_pd(ar, br), di = _mm256_sub_pd(ai, bi);
    _mm256_storeu_pd(re + j, _mm256_add_pd(ar, br));
    _mm256_storeu_pd(im + j, _mm256_add_pd(ai, bi));
    const __m256d wr = _mm256_loadu_pd(ur + j), wi = _mm256_loadu_pd(ui + j);
    _mm256_storeu_pd(re + j + le1, _mm256_sub_pd(_mm256_mul_pd(dr, wr), _mm256_mul_pd(di, wi)));
    _mm256_storeu_pd(im + j + le1, _mm256_add_pd(_mm256_mul_pd(di, wr), _mm256_mul_pd(dr, wi)));
  }
}

}  // namespace calvex::audio
