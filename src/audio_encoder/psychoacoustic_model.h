// Psychoacoustic model 2 of ISO/IEC 11172-3 Annex D: for each channel of each frame, the 32
// signal-to-mask ratios (dB) that steer the bit allocation. A 1024-point FFT of the Hann-windowed
// input, an unpredictability measure from the two previous spectra, spreading over threshold
// partitions of about a third of a Bark, tonality-dependent masking, the absolute threshold,
// pre-echo control for Layer I, and the mapping of 513 line thresholds to 32 subbands.
//
// One object per encoding: its constructor builds the tables for the sampling frequency and layer
// (the window, the line-to-partition map, the spreading function), and it keeps each channel's
// history and previous spectra between frames.
#pragma once

#include <array>
#include <cstdint>

#include "audio_encoder/fft1024.h"

namespace calvex::audio {

inline constexpr int kMaxPartitions = 63;

// The partition layout of one sampling frequency.
struct PartitionTables {
  int count = 0;
  std::array<int, kFftLines> partitionOfLine{};
  std::array<int, kMaxPartitions> numlines{};
  std::array<double, kMaxPartitions> cbval{};  // mean Bark of the partition's lines
  std::array<std::array<double, kMaxPartitions>, kMaxPartitions> spreading{};  // s[i][j]
  std::array<double, kMaxPartitions> tmn{};
  std::array<double, kMaxPartitions> rnorm{};
};
PartitionTables MakePartitionTables(int sampleRateHz);

// The Hann window w[i] = 0.5 (1 - cos(2 pi (i - 0.5) / 1024)).
std::array<double, kFftSize> MakeHannWindow();

class PsychoacousticModel2 {
 public:
  // `layer` 1 or 2; `sampleRateHz` 32000, 44100 or 48000. `fast` false forces the plain FFT and
  // spreading (tests compare the two).
  PsychoacousticModel2(int layer, int sampleRateHz, bool fast = true);

  // One frame of `channel` (0 first, then 1): `samples` is that channel's sample buffer of the
  // frame (the 448-value Layer I buffer, or the 1152 Layer II values). Writes 32 SMRs in dB.
  void Analyse(const std::int16_t* samples, int channel, double* smr);
  // The same, also giving each pass's SMRs (Layer I: pass 1 is a copy of pass 0).
  void Analyse(const std::int16_t* samples, int channel, double* smr, double* pass0, double* pass1);

  const PartitionTables& partitions() const { return tables_; }

 private:
  // One FFT pass over the channel's history; writes the pass's 32 SMRs.
  void Pass(const std::int16_t*& samples, int channel, double* smr);

  int layer_;
  int flush_, syncSize_, syncFlush_;
  bool fast_;
  const std::array<double, 513>* absoluteThreshold_;
  std::array<double, kFftSize> window_;
  PartitionTables tables_;
  // The spreading function transposed ([k][j]) with each partition's nonzero range, for the
  // vectorised sums.
  alignas(32) std::array<double, kMaxPartitions * 64> spreadingT_{};
  std::array<int, kMaxPartitions> spreadFirst_{}, spreadLast_{};
  Fft1024 fft_;

  std::array<std::array<std::int16_t, 1056>, 2> history_{};
  // Magnitude and phase of the previous two spectra per channel.
  std::array<std::array<std::array<double, kFftLines>, 2>, 2> r_{}, phi_{};
  int new_ = 0, old_ = 1, oldest_ = 0;
  std::array<std::array<double, kFftLines>, 2> preEchoThreshold_;
};

// Plain and vectorised forms of the spreading sums ecb[j] = sum_k s[j][k] e[k] and
// ct[j] = sum_k s[j][k] cw[k] (k in order; zero terms add nothing).
void SpreadPlain(const PartitionTables& t, const double* e, const double* cw, double* ecb,
                 double* ct);

}  // namespace calvex::audio
