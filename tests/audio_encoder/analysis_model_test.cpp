// The analysis filter bank, the FFT and psychoacoustic model 2: fixed points of their arithmetic
// and equality of the vectorised paths with the plain code.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "audio_encoder/analysis_filter.h"
#include "audio_encoder/fft1024.h"
#include "audio_encoder/psychoacoustic_model.h"
#include "mpeg_audio/audio_tables.h"

namespace calvex::audio {
namespace {

bool SameBits(const double* a, const double* b, int n) {
  return std::memcmp(a, b, sizeof(double) * static_cast<std::size_t>(n)) == 0;
}

std::vector<std::int16_t> Noise(std::size_t n, unsigned seed, int amplitude = 32767) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> d(-amplitude - 1, amplitude);
  std::vector<std::int16_t> v(n);
  for (auto& s : v) s = static_cast<std::int16_t>(d(rng));
  return v;
}

std::vector<std::int16_t> Tone(std::size_t n, double hz, double rate, double amplitude) {
  std::vector<std::int16_t> v(n);
  for (std::size_t i = 0; i < n; ++i)
    v[i] = static_cast<std::int16_t>(std::lrint(amplitude * std::sin(2 * M_PI * hz * i / rate)));
  return v;
}

TEST(AnalysisFilter, MatrixHoldsCosinesRoundedToNineDecimals) {
  const FilterMatrix m = MakeFilterMatrix();
  EXPECT_EQ(m[0][16], 1.0);
  for (int i = 0; i < 32; ++i)
    for (int k = 0; k < 64; ++k) {
      const double units = std::round(m[i][k] * 1e9);
      EXPECT_EQ(units * 1e-9, m[i][k]) << i << " " << k;
      EXPECT_NEAR(m[i][k], std::cos((2 * i + 1) * (16 - k) * M_PI / 64), 5.0001e-10);
    }
}

TEST(AnalysisFilter, SilenceGivesZerosAndResetForgetsHistory) {
  AnalysisFilter filter;
  std::vector<std::int16_t> silence(32, 0);
  double s[32];
  for (int block = 0; block < 20; ++block) {
    filter.Analyse(silence.data(), 1, s);
    for (double v : s) ASSERT_EQ(v, 0.0);
  }
  // Loud input, then a reset: the next silent blocks are silent again on both channels, exactly
  // as from a fresh filter.
  const auto loud = Noise(32 * 30, 3);
  for (int block = 0; block < 30; ++block) filter.Analyse(loud.data() + 32 * block, block & 1, s);
  filter.Reset();
  AnalysisFilter fresh;
  double t[32];
  for (int block = 0; block < 20; ++block) {
    filter.Analyse(loud.data() + 32 * block, 0, s);
    fresh.Analyse(loud.data() + 32 * block, 0, t);
    ASSERT_TRUE(SameBits(s, t, 32)) << block;
  }
}

TEST(AnalysisFilter, VectorisedPathsGiveThePlainBits) {
  AnalysisFilter fast(true), plain(false);
  const auto input = Noise(32 * 400, 11);
  double a[32], b[32];
  for (int block = 0; block < 400; ++block) {
    const int ch = block % 3 == 0 ? 1 : 0;
    fast.Analyse(input.data() + 32 * block, ch, a);
    plain.Analyse(input.data() + 32 * block, ch, b);
    ASSERT_TRUE(SameBits(a, b, 32)) << block;
  }
  // Each kernel on its own, whichever the CPU offers.
  const FilterMatrix m = MakeFilterMatrix();
  alignas(32) double mt[64 * 32];
  for (int k = 0; k < 64; ++k)
    for (int i = 0; i < 32; ++i) mt[32 * k + i] = m[i][k];
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<double> ring(1024), y(64);
  for (auto& v : ring) v = u(rng);
  for (auto& v : y) v = u(rng);
  double y1[64], y2[64];
  WindowSumPlain(ring.data() + 77, kAnalysisWindow.data(), y1);
  WindowSumSse2(ring.data() + 77, kAnalysisWindow.data(), y2);
  EXPECT_TRUE(SameBits(y1, y2, 64));
  MatrixSubbandsPlain(m, y.data(), a);
  MatrixSubbandsSse2(mt, y.data(), b);
  EXPECT_TRUE(SameBits(a, b, 32));
  if (CpuHasAvx2()) {
    WindowSumAvx2(ring.data() + 77, kAnalysisWindow.data(), y2);
    EXPECT_TRUE(SameBits(y1, y2, 64));
    MatrixSubbandsAvx2(mt, y.data(), b);
    EXPECT_TRUE(SameBits(a, b, 32));
  }
}

TEST(AnalysisFilter, ToneLandsInItsSubband) {
  // 1 kHz at 44.1 kHz lies in subband 1 (689 to 1378 Hz).
  AnalysisFilter filter;
  const auto tone = Tone(32 * 200, 1000, 44100, 16000);
  double s[32], energy[32] = {};
  for (int block = 0; block < 200; ++block) {
    filter.Analyse(tone.data() + 32 * block, 0, s);
    if (block >= 20)
      for (int i = 0; i < 32; ++i) energy[i] += s[i] * s[i];
  }
  for (int i = 0; i < 32; ++i)
    if (i != 1) {
      EXPECT_LT(energy[i], energy[1] * 1e-3) << i;
    }
}

TEST(Fft1024, VectorisedTransformGivesThePlainBits) {
  const Fft1024 fft;
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> u(-30000, 30000);
  for (int round = 0; round < 20; ++round) {
    double re1[1024], im1[1024], re2[1024], im2[1024];
    for (int i = 0; i < 1024; ++i) {
      re1[i] = re2[i] = round == 0 ? 0.0 : u(rng);
      im1[i] = im2[i] = round % 2 ? u(rng) : 0.0;
    }
    double e1[513], p1[513], e2[513], p2[513];
    Fft1024::TransformPlain(re1, im1, e1, p1);
    fft.Transform(re2, im2, e2, p2);
    ASSERT_TRUE(SameBits(e1, e2, 513)) << round;
    ASSERT_TRUE(SameBits(p1, p2, 513)) << round;
  }
}

TEST(Fft1024, SilenceGivesTheEnergyFloorOnTheEvenPositions) {
  double re[1024] = {}, im[1024] = {}, e[513], p[513];
  Fft1024().Transform(re, im, e, p);
  // Lines 0..511 come from the last stage's even positions and are floored; line 512 is not.
  for (int i = 0; i < 512; ++i) {
    ASSERT_EQ(e[i], 0.0005) << i;
    ASSERT_EQ(p[i], 0.0) << i;
  }
  EXPECT_EQ(e[512], 0.0);
  EXPECT_EQ(p[512], 0.0);
}

TEST(Fft1024, CosineGoesToItsLineWithItsPhase) {
  double re[1024], im[1024] = {}, e[513], p[513];
  for (int i = 0; i < 1024; ++i) re[i] = 1000.0 * std::cos(2 * M_PI * 100 * i / 1024 + 0.5);
  Fft1024().Transform(re, im, e, p);
  EXPECT_NEAR(std::sqrt(e[100]), 512000.0, 1e-3);
  EXPECT_NEAR(p[100], 0.5, 1e-9);
  for (int i = 0; i < 513; ++i)
    if (i != 100) {
      EXPECT_LE(e[i], 0.01) << i;
    }
}

TEST(PsychoacousticModel2, PartitionTablesPerFrequency) {
  const int counts[3][2] = {{32000, 59}, {44100, 63}, {48000, 63}};
  for (const auto& [rate, count] : counts) {
    const PartitionTables t = MakePartitionTables(rate);
    EXPECT_EQ(t.count, count) << rate;
    int lines = 0;
    for (int p = 0; p < t.count; ++p) {
      lines += t.numlines[p];
      EXPECT_NEAR(t.spreading[p][p], 1.0, 1e-3);  // a partition masks itself at 0 dB
      EXPECT_GE(t.tmn[p], 24.5);
      EXPECT_GT(t.rnorm[p], 1.0);
      if (p > 0) {
        EXPECT_GT(t.cbval[p], t.cbval[p - 1]);
      }
    }
    EXPECT_EQ(lines, 513);
    EXPECT_EQ(t.partitionOfLine[0], 0);
    EXPECT_EQ(t.partitionOfLine[512], t.count - 1);
    EXPECT_LT(t.cbval[0], 0.33);
  }
  const auto w = MakeHannWindow();
  EXPECT_NEAR(w[512], 1.0, 1e-5);
  EXPECT_GT(w[0], 0.0);  // the window is shifted half a sample
}

TEST(PsychoacousticModel2, VectorisedModelGivesThePlainSmrs) {
  for (int layer : {1, 2}) {
    for (int rate : {32000, 44100, 48000}) {
      PsychoacousticModel2 fast(layer, rate, true), plain(layer, rate, false);
      const std::size_t frame = layer == 1 ? 448 : 1152;
      for (int f = 0; f < 8; ++f) {
        for (int ch = 0; ch < 2; ++ch) {
          auto in = f < 4 ? Noise(frame, static_cast<unsigned>(f * 2 + ch), 3000 + 4000 * f)
                          : Tone(frame, 440.0 * (ch + 1), rate, 20000);
          double a[32], b[32];
          fast.Analyse(in.data(), ch, a);
          plain.Analyse(in.data(), ch, b);
          ASSERT_TRUE(SameBits(a, b, 32)) << layer << " " << rate << " " << f << " " << ch;
        }
      }
    }
  }
}

TEST(PsychoacousticModel2, Layer2TakesTheLargerPassPerSubband) {
  PsychoacousticModel2 model(2, 44100);
  // Silence in the first half of each frame and a burst in the second: the passes disagree.
  std::vector<std::int16_t> frame(1152, 0);
  const auto burst = Noise(576, 21, 12000);
  std::copy(burst.begin(), burst.end(), frame.begin() + 576);
  double smr[32], p0[32], p1[32];
  int firstLarger = 0, secondLarger = 0;
  for (int f = 0; f < 3; ++f) {
    model.Analyse(frame.data(), 0, smr, p0, p1);
    for (int i = 0; i < 32; ++i) {
      EXPECT_GE(smr[i], p0[i]);
      EXPECT_GE(smr[i], p1[i]);
      EXPECT_TRUE(smr[i] == p0[i] || smr[i] == p1[i]);
      firstLarger += p0[i] > p1[i];
      secondLarger += p1[i] > p0[i];
    }
  }
  EXPECT_GT(firstLarger, 0);
  EXPECT_GT(secondLarger, 0);
}

TEST(PsychoacousticModel2, ToneStandsOutInItsSubband) {
  PsychoacousticModel2 model(2, 48000);
  const auto tone = Tone(1152 * 4, 3400, 48000, 20000);  // subband 4 (3000..3750 Hz)
  double smr[32];
  for (int f = 0; f < 4; ++f) model.Analyse(tone.data() + 1152 * f, 0, smr);
  for (int i = 0; i < 32; ++i)
    if (i != 4) {
      EXPECT_GT(smr[4], smr[i] + 20) << i;
    }
  EXPECT_GT(smr[4], 30);
}

}  // namespace
}  // namespace calvex::audio
