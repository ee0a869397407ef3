// The polyphase analysis filter bank of ISO/IEC 11172-3 (Annex C): each call takes 32 new 16-bit
// samples of one channel and yields 32 subband samples, in double precision with a fixed order of
// operations so that every build and CPU gives the same bits.
#pragma once

#include <array>
#include <cstdint>

namespace calvex::audio {

// The matrixing coefficients M[i][k] = cos((2i + 1)(16 - k) pi / 64), rounded to 9 decimals.
using FilterMatrix = std::array<std::array<double, 64>, 32>;
FilterMatrix MakeFilterMatrix();

// The 64 partial sums y of one windowed block, and the plain matrixing s[i] = sum_k M[i][k] y[k]
// (k in order). The fast paths below give the same bits.
void MatrixSubbandsPlain(const FilterMatrix& m, const double* y, double* s);
void MatrixSubbandsSse2(const double* mTransposed, const double* y, double* s);
void MatrixSubbandsAvx2(const double* mTransposed, const double* y, double* s);
// y[i] = sum over j = 0..7 of ring[offset + i + 64 j] x C[i + 64 j] (ring doubled, see below).
void WindowSumPlain(const double* ring, const double* window, double* y);
void WindowSumSse2(const double* ring, const double* window, double* y);
void WindowSumAvx2(const double* ring, const double* window, double* y);

class AnalysisFilter {
 public:
  // `fast` false forces the plain code (tests compare the two).
  explicit AnalysisFilter(bool fast = true);

  // WindowSubband and FilterSubband in one: consumes the next 32 samples of `channel` (0 or 1)
  // and writes the 32 subband samples.
  void Analyse(const std::int16_t* samples, int channel, double* subbands);

  // Back to silent history for both channels (the state after construction).
  void Reset();

  const FilterMatrix& matrix() const { return matrix_; }

 private:
  // Each channel's 512-sample ring is kept twice over (1024 values) so that the 512 values from
  // any offset are contiguous.
  alignas(32) std::array<std::array<double, 1024>, 2> ring_{};
  std::array<int, 2> offset_{};
  FilterMatrix matrix_;
  alignas(32) std::array<double, 64 * 32> transposed_;  // [k][i]
  void (*window_)(const double*, const double*, double*);
  void (*matrixing_)(const double*, const double*, double*);
  bool fast_;
};

// Whether the CPU runs AVX2 code (checked once per call site that needs it).
bool CpuHasAvx2();

}  // namespace calvex::audio
