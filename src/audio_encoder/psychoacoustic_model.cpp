#include "audio_encoder/psychoacoustic_model.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>

#include "audio_encoder/fixed_math.h"
#include "mpeg_audio/audio_tables.h"

namespace calvex::audio {

namespace {

constexpr double kPi = 3.14159265358979;
constexpr double kNoiseMaskingTone = 5.5;  // NMT, dB
constexpr double kThresholdCeiling = 60802371420160.0;

// Critical band edges in Hz.
constexpr std::array<double, 27> kCriticalBandEdges = {
    0,    100,  200,  300,  400,  510,  630,  770,  920,  1080,  1270,  1480,  1720, 2000,
    2320, 2700, 3150, 3700, 4400, 5300, 6400, 7700, 9500, 12000, 15500, 25000, 30000};

// Largest masking index in dB by whole Bark 0..26.
constexpr std::array<double, 27> kBmax = {20,  20,  20,  20,  20,  17,  15,  10,  7,
                                          4.4, 4.5, 4.5, 4.5, 4.5, 4.5, 4.5, 4.5, 4.5,
                                          4.5, 4.5, 4.5, 4.5, 4.5, 4.5, 3.5, 3.5, 3.5};

double SpreadingFunction(double cbvalI, double cbvalJ) {
  const double x = (cbvalI - cbvalJ) * 1.05;
  double t = 0.0;
  if (x >= 0.5 && x <= 2.5) {
    const double u = x - 0.5;
    t = 8.0 * (u * u - 2.0 * u);
  }
  const double v = x + 0.474;
  const double y = 15.811389 + 7.5 * v - 17.5 * std::sqrt(1.0 + v * v);
  if (y <= -100) return 0.0;
  return fixed_math::Exp10((t + y) / 10.0);
}

}  // namespace

std::array<double, kFftSize> MakeHannWindow() {
  std::array<double, kFftSize> w;
  for (int i = 0; i < kFftSize; ++i)
    w[static_cast<std::size_t>(i)] =
        0.5 * (1.0 - fixed_math::Cos(2.0 * kPi * (i - 0.5) / kFftSize));
  return w;
}

PartitionTables MakePartitionTables(int sampleRateHz) {
  std::array<double, kFftLines> bark;
  for (int i = 0; i < kFftLines; ++i) {
    const double f = static_cast<double>(i) * sampleRateHz / kFftSize;
    std::size_t j = 1;
    while (j < kCriticalBandEdges.size() - 1 && f > kCriticalBandEdges[j]) ++j;
    bark[static_cast<std::size_t>(i)] =
        static_cast<double>(j - 1) +
        (f - kCriticalBandEdges[j - 1]) / (kCriticalBandEdges[j] - kCriticalBandEdges[j - 1]);
  }
  PartitionTables t;
  std::array<double, kMaxPartitions> barkSum{};
  int first = 0;
  t.count = 1;
  for (int i = 0; i < kFftLines; ++i) {
    if (i > 0 &&
        !(bark[static_cast<std::size_t>(i)] - bark[static_cast<std::size_t>(first)] <= 0.33) &&
        t.count < kMaxPartitions) {
      ++t.count;
      first = i;
    }
    const std::size_t p = static_cast<std::size_t>(t.count - 1);
    t.partitionOfLine[static_cast<std::size_t>(i)] = t.count - 1;
    barkSum[p] += bark[static_cast<std::size_t>(i)];
    ++t.numlines[p];
  }
  for (int p = 0; p < t.count; ++p) {
    const auto q = static_cast<std::size_t>(p);
    t.cbval[q] = barkSum[q] / t.numlines[q];
    t.tmn[q] = std::max(15.5 + t.cbval[q], 24.5);
  }
  for (int i = 0; i < t.count; ++i) {
    const auto a = static_cast<std::size_t>(i);
    double norm = 0.0;
    for (int j = 0; j < t.count; ++j) {
      const auto b = static_cast<std::size_t>(j);
      t.spreading[a][b] = SpreadingFunction(t.cbval[a], t.cbval[b]);
      norm += t.spreading[a][b];
    }
    t.rnorm[a] = norm;
  }
  return t;
}

void SpreadPlain(const PartitionTables& t, const double* e, const double* cw, double* ecb,
                 double* ct) {
  for (int j = 0; j < t.count; ++j) {
    double se = 0.0, sc = 0.0;
    const auto& row = t.spreading[static_cast<std::size_t>(j)];
    for (int k = 0; k < t.count; ++k) {
      const double s = row[static_cast<std::size_t>(k)];
      if (s != 0.0) {
        se += s * e[k];
        sc += s * cw[k];
      }
    }
    ecb[j] = se;
    ct[j] = sc;
  }
}

PsychoacousticModel2::PsychoacousticModel2(int layer, int sampleRateHz, bool fast)
    : layer_(layer),
      fast_(fast),
      absoluteThreshold_(&AbsoluteThresholdFor(SamplingFrequencyCode(sampleRateHz))),
      window_(MakeHannWindow()),
      tables_(MakePartitionTables(sampleRateHz)),
      fft_(fast) {
  if (layer == 1) {
    flush_ = 384;
    syncSize_ = 1024;
    syncFlush_ = 576;
  } else {
    flush_ = 576;
    syncSize_ = 1056;
    syncFlush_ = 480;
  }
  for (auto& ch : preEchoThreshold_) ch.fill(kThresholdCeiling);
  for (int j = 0; j < kMaxPartitions; ++j) {
    int firstK = kMaxPartitions, lastK = -1;
    for (int k = 0; k < tables_.count && j < tables_.count; ++k) {
      const double s = tables_.spreading[static_cast<std::size_t>(j)][static_cast<std::size_t>(k)];
      spreadingT_[static_cast<std::size_t>(k * 64 + j)] = s;
      if (s != 0.0) {
        firstK = std::min(firstK, k);
        lastK = k;
      }
    }
    spreadFirst_[static_cast<std::size_t>(j)] = firstK;
    spreadLast_[static_cast<std::size_t>(j)] = lastK;
  }
}

void PsychoacousticModel2::Analyse(const std::int16_t* samples, int channel, double* smr) {
  double pass0[32], pass1[32];
  Analyse(samples, channel, smr, pass0, pass1);
}

void PsychoacousticModel2::Analyse(const std::int16_t* samples, int channel, double* smr,
                                   double* pass0, double* pass1) {
  Pass(samples, channel, pass0);
  if (layer_ == 1) {
    for (int i = 0; i < 32; ++i) smr[i] = pass1[i] = pass0[i];
    return;
  }
  Pass(samples, channel, pass1);
  for (int i = 0; i < 32; ++i) smr[i] = pass0[i] > pass1[i] ? pass0[i] : pass1[i];
}

void PsychoacousticModel2::Pass(const std::int16_t*& samples, int channel, double* smr) {
  const auto ch = static_cast<std::size_t>(channel);
  std::int16_t* h = history_[ch].data();
  for (int j = 0; j < syncFlush_; ++j) h[j] = h[j + flush_];
  for (int j = syncFlush_; j < syncSize_; ++j) h[j] = *samples++;

  alignas(32) double re[kFftSize], im[kFftSize];
  for (int i = 0; i < kFftSize; ++i) {
    re[i] = window_[static_cast<std::size_t>(i)] * static_cast<double>(h[i]);
    im[i] = 0.0;
  }
  double energy[kFftLines], phase[kFftLines];
  if (fast_)
    fft_.Transform(re, im, energy, phase);
  else
    Fft1024::TransformPlain(re, im, energy, phase);

  // Layer I advances the spectra's ages once per frame (on channel 0); Layer II on every pass.
  if (layer_ == 2 || channel == 0) {
    oldest_ = new_ == 0 ? 1 : 0;
    new_ = oldest_;
    old_ = old_ == 0 ? 1 : 0;
  }

  // Unpredictability of each line against its prediction from the two previous spectra.
  double* rNew = r_[ch][static_cast<std::size_t>(new_)].data();
  double* phiNew = phi_[ch][static_cast<std::size_t>(new_)].data();
  const double* rOld = r_[ch][static_cast<std::size_t>(old_)].data();
  const double* phiOld = phi_[ch][static_cast<std::size_t>(old_)].data();
  const double* rOldest = r_[ch][static_cast<std::size_t>(oldest_)].data();
  const double* phiOldest = phi_[ch][static_cast<std::size_t>(oldest_)].data();
  alignas(32) double rPrime[kFftLines], phiPrime[kFftLines];
  for (int j = 0; j < kFftLines; ++j) {
    rPrime[j] = 2.0 * rOld[j] - rOldest[j];
    phiPrime[j] = 2.0 * phiOld[j] - phiOldest[j];
  }
  alignas(32) double sinNew[kFftLines], cosNew[kFftLines], sinPrime[kFftLines], cosPrime[kFftLines];
  if (fast_) {
    fixed_math::SinCosArray(phase, sinNew, cosNew, kFftLines);
    fixed_math::SinCosArray(phiPrime, sinPrime, cosPrime, kFftLines);
  } else {
    for (int j = 0; j < kFftLines; ++j) {
      fixed_math::SinCos(phase[j], sinNew[j], cosNew[j]);
      fixed_math::SinCos(phiPrime[j], sinPrime[j], cosPrime[j]);
    }
  }
  alignas(16) double c[kFftLines];
  int j0 = 0;
  if (fast_) {
    // Two lines at a time with the same operations (square roots and divisions round alike).
    const __m128d magnitude = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFF));
    for (; j0 + 2 <= kFftLines; j0 += 2) {
      const __m128d r = _mm_sqrt_pd(_mm_loadu_pd(energy + j0));
      const __m128d rp = _mm_load_pd(rPrime + j0);
      _mm_storeu_pd(rNew + j0, r);
      _mm_storeu_pd(phiNew + j0, _mm_loadu_pd(phase + j0));
      const __m128d t1 = _mm_sub_pd(_mm_mul_pd(r, _mm_load_pd(cosNew + j0)),
                                    _mm_mul_pd(rp, _mm_load_pd(cosPrime + j0)));
      const __m128d t2 = _mm_sub_pd(_mm_mul_pd(r, _mm_load_pd(sinNew + j0)),
                                    _mm_mul_pd(rp, _mm_load_pd(sinPrime + j0)));
      const __m128d t3 = _mm_add_pd(r, _mm_and_pd(rp, magnitude));
      const __m128d q =
          _mm_div_pd(_mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(t1, t1), _mm_mul_pd(t2, t2))), t3);
      _mm_store_pd(c + j0, _mm_and_pd(q, _mm_cmpneq_pd(t3, _mm_setzero_pd())));
    }
  }
  for (int j = j0; j < kFftLines; ++j) {
    rNew[j] = std::sqrt(energy[j]);
    phiNew[j] = phase[j];
    const double t1 = rNew[j] * cosNew[j] - rPrime[j] * cosPrime[j];
    const double t2 = rNew[j] * sinNew[j] - rPrime[j] * sinPrime[j];
    const double t3 = rNew[j] + std::fabs(rPrime[j]);
    c[j] = t3 != 0 ? std::sqrt(t1 * t1 + t2 * t2) / t3 : 0;
  }

  const PartitionTables& t = tables_;
  alignas(16) double e[64] = {}, cw[64] = {};
  for (int j = 0; j < kFftLines; ++j) {
    const int p = t.partitionOfLine[static_cast<std::size_t>(j)];
    e[p] += energy[j];
    cw[p] += energy[j] * c[j];
  }
  alignas(16) double ecb[64], ct[64];
  if (fast_) {
    for (int j = 0; j < t.count; j += 2) {
      const int lo =
          std::min(spreadFirst_[static_cast<std::size_t>(j)],
                   j + 1 < kMaxPartitions ? spreadFirst_[static_cast<std::size_t>(j + 1)] : 99);
      int hi = spreadLast_[static_cast<std::size_t>(j)];
      if (j + 1 < kMaxPartitions) hi = std::max(hi, spreadLast_[static_cast<std::size_t>(j + 1)]);
      __m128d se = _mm_setzero_pd(), sc = _mm_setzero_pd();
      for (int k = lo; k <= hi; ++k) {
        const __m128d s = _mm_load_pd(spreadingT_.data() + k * 64 + j);
        se = _mm_add_pd(se, _mm_mul_pd(s, _mm_set1_pd(e[k])));
        sc = _mm_add_pd(sc, _mm_mul_pd(s, _mm_set1_pd(cw[k])));
      }
      _mm_store_pd(ecb + j, se);
      _mm_store_pd(ct + j, sc);
    }
  } else {
    SpreadPlain(t, e, cw, ecb, ct);
  }

  // Tonality, required SNR and permitted noise per partition.
  double nb[kMaxPartitions];
  for (int j = 0; j < t.count; ++j) {
    const auto q = static_cast<std::size_t>(j);
    double cb = ecb[j] != 0 ? ct[j] / ecb[j] : 0;
    if (cb < 0.05)
      cb = 0.05;
    else if (cb > 0.5)
      cb = 0.5;
    const double tb = -0.434294482 * fixed_math::Log(cb) - 0.301029996;
    double bc = t.tmn[q] * tb + kNoiseMaskingTone * (1.0 - tb);
    const int k = static_cast<int>(t.cbval[q] + 0.5);
    bc = bc > kBmax[static_cast<std::size_t>(k)] ? bc : kBmax[static_cast<std::size_t>(k)];
    bc = fixed_math::Exp10(-bc / 10.0);
    nb[j] =
        (t.rnorm[q] != 0 && t.numlines[q] != 0) ? ecb[j] * bc / (t.rnorm[q] * t.numlines[q]) : 0;
  }

  // Line thresholds, with pre-echo control in Layer I.
  double fthr[kFftLines];
  const std::array<double, 513>& absthr = *absoluteThreshold_;
  double* lthr = preEchoThreshold_[ch].data();
  for (int j = 0; j < kFftLines; ++j) {
    double thr = nb[t.partitionOfLine[static_cast<std::size_t>(j)]];
    thr = thr > absthr[static_cast<std::size_t>(j)] ? thr : absthr[static_cast<std::size_t>(j)];
    if (layer_ == 1) {
      double f = thr < lthr[j] ? thr : lthr[j];
      const double floor = thr * 0.00316;
      fthr[j] = floor > f ? floor : f;
    } else {
      fthr[j] = thr;
    }
    lthr[j] = 32.0 * thr;
  }

  // Subband SMRs: against the smallest threshold below 3.3 kHz-ish (13 subbands), against the
  // summed thresholds above.
  for (int sb = 0; sb < 13; ++sb) {
    double minThr = kThresholdCeiling, sum = 0.0;
    for (int k = 0; k < 17; ++k) {
      const int line = sb * 16 + k;
      if (minThr > fthr[line]) minThr = fthr[line];
      sum += energy[line];
    }
    smr[sb] = 4.342944819 * fixed_math::Log(sum / (minThr * 17.0));
  }
  for (int sb = 13; sb < 32; ++sb) {
    double sumThr = 0.0, sum = 0.0;
    for (int k = 0; k < 17; ++k) {
      const int line = sb * 16 + k;
      sumThr += fthr[line];
      sum += energy[line];
    }
    smr[sb] = 4.342944819 * fixed_math::Log(sum / sumThr);
  }
}

}  // namespace calvex::audio
