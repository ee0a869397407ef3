#include "audio_encoder/fft1024.h"

#include <emmintrin.h>

#include <cmath>

#include "audio_encoder/analysis_filter.h"
#include "audio_encoder/fixed_math.h"

namespace calvex::audio {

namespace {

constexpr double kPi = 3.14159265358979;
constexpr int kStages = 9;  // le = 1024 .. 4; the last stage (le = 2) has unit twiddles
constexpr double kEnergyFloor = 0.0005;

int BitReverse10(int v) {
  int r = 0;
  for (int b = 0; b < 10; ++b) r |= ((v >> b) & 1) << (9 - b);
  return r;
}

// Stage `s` (le = 1024 >> s) over one block of le values, twiddle index vectorised by two.
void StageSse2(double* re, double* im, int le1, const double* ur, const double* ui) {
  for (int j = 0; j < le1; j += 2) {
    const __m128d ar = _mm_loadu_pd(re + j), br = _mm_loadu_pd(re + j + le1);
    const __m128d ai = _mm_loadu_pd(im + j), bi = _mm_loadu_pd(im + j + le1);
    const __m128d dr = _mm_sub_pd(ar, br), di = _mm_sub_pd(ai, bi);
    _mm_storeu_pd(re + j, _mm_add_pd(ar, br));
    _mm_storeu_pd(im + j, _mm_add_pd(ai, bi));
    const __m128d wr = _mm_load_pd(ur + j), wi = _mm_load_pd(ui + j);
    _mm_storeu_pd(re + j + le1, _mm_sub_pd(_mm_mul_pd(dr, wr), _mm_mul_pd(di, wi)));
    _mm_storeu_pd(im + j + le1, _mm_add_pd(_mm_mul_pd(di, wr), _mm_mul_pd(dr, wi)));
  }
}

}  // namespace

void FftStageAvx2(double* re, double* im, int le1, const double* ur, const double* ui);

Fft1024::Fft1024(bool fast) : avx2_(fast && CpuHasAvx2()) {
  int offset = 0;
  for (int s = 0; s < kStages; ++s) {
    const int le1 = (kFftSize >> s) / 2;
    const double wr = fixed_math::Cos(kPi / le1);
    const double wi = -fixed_math::Sin(kPi / le1);
    double ur = 1.0, ui = 0.0;
    for (int j = 0; j < le1; ++j) {
      twiddleRe_[static_cast<std::size_t>(offset + j)] = ur;
      twiddleIm_[static_cast<std::size_t>(offset + j)] = ui;
      const double t = ur;
      ur = ur * wr - ui * wi;
      ui = ui * wr + t * wi;
    }
    offset += le1;
  }
  for (int line = 0; line < kFftLines; ++line)
    position_[static_cast<std::size_t>(line)] = BitReverse10(line);
}

void Fft1024::TransformPlain(double* re, double* im, double* energy, double* phase) {
  static constexpr int n = kFftSize;
  double w_re[kStages], w_im[kStages];
  for (int m = 0; m < kStages; ++m) {
    const int le1 = (1 << (10 - m)) >> 1;
    w_re[m] = fixed_math::Cos(kPi / le1);
    w_im[m] = -fixed_math::Sin(kPi / le1);
  }
  for (int m = 0; m < kStages; ++m) {
    const int le = 1 << (10 - m);
    const int le1 = le >> 1;
    double u_re = 1.0, u_im = 0.0;
    for (int j = 0; j < le1; ++j) {
      for (int i = j; i < n; i += le) {
        const int ip = i + le1;
        double t_re = re[i] + re[ip];
        const double t_im = im[i] + im[ip];
        re[ip] = re[i] - re[ip];
        im[ip] = im[i] - im[ip];
        re[i] = t_re;
        im[i] = t_im;
        t_re = re[ip];
        re[ip] = re[ip] * u_re - im[ip] * u_im;
        im[ip] = im[ip] * u_re + t_re * u_im;
      }
      const double t = u_re;
      u_re = u_re * w_re[m] - u_im * w_im[m];
      u_im = u_im * w_re[m] + t * w_im[m];
    }
  }
  double e[n], p[n];
  for (int i = 0; i < n; i += 2) {
    const int ip = i + 1;
    const double t_re = re[i] + re[ip];
    const double t_im = im[i] + im[ip];
    re[ip] = re[i] - re[ip];
    im[ip] = im[i] - im[ip];
    re[i] = t_re;
    im[i] = t_im;
    e[i] = re[i] * re[i] + im[i] * im[i];
    if (e[i] <= kEnergyFloor) {
      p[i] = 0;
      e[i] = kEnergyFloor;
    } else {
      p[i] = fixed_math::Atan2(im[i], re[i]);
    }
    e[ip] = re[ip] * re[ip] + im[ip] * im[ip];
    p[ip] = e[ip] == 0 ? 0 : fixed_math::Atan2(im[ip], re[ip]);
  }
  // Natural order by bit reversal.
  for (int i = 0, j = 0; i < n - 1; ++i) {
    if (i < j) {
      std::swap(e[i], e[j]);
      std::swap(p[i], p[j]);
    }
    int k = n / 2;
    while (k <= j) {
      j -= k;
      k >>= 1;
    }
    j += k;
  }
  for (int i = 0; i < kFftLines; ++i) {
    energy[i] = e[i];
    phase[i] = p[i];
  }
}

void Fft1024::Transform(double* re, double* im, double* energy, double* phase) const {
  int offset = 0;
  for (int s = 0; s < kStages; ++s) {
    const int le = kFftSize >> s;
    const int le1 = le / 2;
    const double* ur = twiddleRe_.data() + offset;
    const double* ui = twiddleIm_.data() + offset;
    for (int block = 0; block < kFftSize; block += le) {
      if (avx2_ && le1 >= 4)
        FftStageAvx2(re + block, im + block, le1, ur, ui);
      else
        StageSse2(re + block, im + block, le1, ur, ui);
    }
    offset += le1;
  }
  // Last stage: only the positions that become lines 0..512 are needed (all even ones, and 1).
  alignas(32) double lineRe[kFftLines], lineIm[kFftLines];
  for (int line = 0; line < 512; ++line) {
    const int i = position_[static_cast<std::size_t>(line)];
    lineRe[line] = re[i] + re[i + 1];
    lineIm[line] = im[i] + im[i + 1];
  }
  lineRe[512] = re[0] - re[1];
  lineIm[512] = im[0] - im[1];
  fixed_math::Atan2Array(lineIm, lineRe, phase, kFftLines);
  for (int line = 0; line < kFftLines; ++line) {
    const double e = lineRe[line] * lineRe[line] + lineIm[line] * lineIm[line];
    if (line < 512 && e <= kEnergyFloor) {
      energy[line] = kEnergyFloor;
      phase[line] = 0;
    } else {
      energy[line] = e;
      if (e == 0) phase[line] = 0;
    }
  }
}

}  // namespace calvex::audio
