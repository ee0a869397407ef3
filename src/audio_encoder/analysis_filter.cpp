#include "audio_encoder/analysis_filter.h"

#include <emmintrin.h>

#include <cmath>

#include "audio_encoder/fixed_math.h"
#include "mpeg_audio/audio_tables.h"

namespace calvex::audio {

namespace {
constexpr double kPi = 3.14159265358979;
}

bool CpuHasAvx2() {
  return __builtin_cpu_supports("avx2");
}

FilterMatrix MakeFilterMatrix() {
  FilterMatrix m;
  for (int i = 0; i < 32; ++i) {
    for (int k = 0; k < 64; ++k) {
      double v = fixed_math::Cos(static_cast<double>((2 * i + 1) * (16 - k)) * kPi / 64.0) * 1e9;
      // Rounded half away from zero to 9 decimals.
      v = v >= 0 ? std::floor(v + 0.5) : std::ceil(v - 0.5);
      m[i][k] = v * 1e-9;
    }
  }
  return m;
}

void WindowSumPlain(const double* ring, const double* window, double* y) {
  for (int i = 0; i < 64; ++i) {
    double sum = 0.0;
    for (int j = 0; j < 8; ++j) sum += ring[i + 64 * j] * window[i + 64 * j];
    y[i] = sum;
  }
}

void WindowSumSse2(const double* ring, const double* window, double* y) {
  for (int i = 0; i < 64; i += 2) {
    __m128d sum = _mm_setzero_pd();
    for (int j = 0; j < 8; ++j)
      sum = _mm_add_pd(
          sum, _mm_mul_pd(_mm_loadu_pd(ring + i + 64 * j), _mm_loadu_pd(window + i + 64 * j)));
    _mm_storeu_pd(y + i, sum);
  }
}

void MatrixSubbandsPlain(const FilterMatrix& m, const double* y, double* s) {
  for (int i = 0; i < 32; ++i) {
    double sum = 0.0;
    for (int k = 0; k < 64; ++k) sum += m[i][k] * y[k];
    s[i] = sum;
  }
}

void MatrixSubbandsSse2(const double* mt, const double* y, double* s) {
  // Sixteen running sums of two subbands each, every one accumulated in order of k.
  __m128d acc[16];
  for (auto& a : acc) a = _mm_setzero_pd();
  for (int k = 0; k < 64; ++k) {
    const __m128d yk = _mm_set1_pd(y[k]);
    const double* row = mt + 32 * k;
    for (int v = 0; v < 16; ++v)
      acc[v] = _mm_add_pd(acc[v], _mm_mul_pd(_mm_load_pd(row + 2 * v), yk));
  }
  for (int v = 0; v < 16; ++v) _mm_storeu_pd(s + 2 * v, acc[v]);
}

AnalysisFilter::AnalysisFilter(bool fast) : matrix_(MakeFilterMatrix()), fast_(fast) {
  for (int k = 0; k < 64; ++k)
    for (int i = 0; i < 32; ++i) transposed_[static_cast<std::size_t>(32 * k + i)] = matrix_[i][k];
  if (fast && CpuHasAvx2()) {
    window_ = WindowSumAvx2;
    matrixing_ = MatrixSubbandsAvx2;
  } else {
    window_ = WindowSumSse2;
    matrixing_ = MatrixSubbandsSse2;
  }
}

void AnalysisFilter::Reset() {
  for (auto& r : ring_) r.fill(0.0);
  offset_ = {0, 0};
}

void AnalysisFilter::Analyse(const std::int16_t* samples, int channel, double* subbands) {
  double* ring = ring_[static_cast<std::size_t>(channel)].data();
  int& offset = offset_[static_cast<std::size_t>(channel)];
  // The 32 new samples replace the oldest, newest first.
  for (int i = 0; i < 32; ++i) {
    const double v = static_cast<double>(samples[i]) / 32768.0;
    const int p = offset + 31 - i;
    ring[p] = v;
    ring[p + 512] = v;
  }
  alignas(32) double y[64];
  if (fast_) {
    window_(ring + offset, kAnalysisWindow.data(), y);
    matrixing_(transposed_.data(), y, subbands);
  } else {
    WindowSumPlain(ring + offset, kAnalysisWindow.data(), y);
    MatrixSubbandsPlain(matrix_, y, subbands);
  }
  offset = (offset + 480) & 511;
}

}  // namespace calvex::audio
