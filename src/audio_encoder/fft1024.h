// The 1024-point FFT of psychoacoustic model 2: radix-2 decimation in frequency whose twiddles
// advance by the recurrence u <- u x w from w = cos(pi / (le / 2)) - i sin(pi / (le / 2)), the
// last stage with unit twiddles, then energies and phases put into natural order. Only lines
// 0..512 are delivered; the even positions of the last stage (lines 0..511) have their energy
// raised to 0.0005 when it is no more, with phase 0; line 512 keeps its energy, phase 0 when the
// energy is 0.
#pragma once

#include <array>

namespace calvex::audio {

inline constexpr int kFftSize = 1024;
inline constexpr int kFftLines = 513;

class Fft1024 {
 public:
  // `fast` false forces the plain code (tests compare the two).
  explicit Fft1024(bool fast = true);

  // Transforms re/im in place (1024 values each) and writes lines 0..512 of energy and phase.
  void Transform(double* re, double* im, double* energy, double* phase) const;

  // The textbook form: loops over the twiddle index with the recurrence inline. The reference the
  // fast form is tested against.
  static void TransformPlain(double* re, double* im, double* energy, double* phase);

 private:
  // Twiddles of the nine stages le = 1024 .. 4, stage s holding le / 2 values from offset
  // 1024 - 2 * (le / 2).
  alignas(32) std::array<double, 1024> twiddleRe_{};
  alignas(32) std::array<double, 1024> twiddleIm_{};
  std::array<int, 513> position_{};  // last-stage position of each line
  bool avx2_;
};

}  // namespace calvex::audio
