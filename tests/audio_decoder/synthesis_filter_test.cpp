// The synthesis filter: the SSE2 and AVX2 kernels give the plain code's samples exactly, and the
// plain code gives the samples of ISO/IEC 11172-3's formulas as written.
#include "audio_decoder/synthesis_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <random>
#include <vector>

#include "mpeg_audio/audio_tables.h"

namespace calvex::audio_decoder {
namespace {

// Blocks of subband samples: noise of varying loudness, up to far beyond full scale.
std::vector<std::array<double, 32>> TestBlocks(int count, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::vector<std::array<double, 32>> blocks(static_cast<std::size_t>(count));
  for (int b = 0; b < count; ++b) {
    const double level = std::pow(2.0, (b % 40) / 4.0 - 9.0);  // 2^-9 .. 2^0.75
    for (int k = 0; k < 32; ++k)
      blocks[static_cast<std::size_t>(b)][static_cast<std::size_t>(k)] = unit(rng) * level;
  }
  return blocks;
}

std::vector<std::int16_t> Synthesize(SynthesisPath path,
                                     const std::vector<std::array<double, 32>>& blocks) {
  const SynthesisTables tables;
  SynthesisFilter filter(path);
  std::vector<std::int16_t> out(blocks.size() * 32);
  for (std::size_t b = 0; b < blocks.size(); ++b)
    filter.Synthesize(tables, blocks[b].data(), &out[32 * b]);
  return out;
}

TEST(SynthesisFilter, VectorPathsGiveThePlainSamplesExactly) {
  const auto blocks = TestBlocks(3000, 7);
  const std::vector<std::int16_t> plain = Synthesize(SynthesisPath::kPlain, blocks);
  int clipped = 0;
  for (const std::int16_t s : plain) clipped += (s == 32767 || s == -32768) ? 1 : 0;
  EXPECT_GT(clipped, 100);  // the comparison covers the limiting too
  for (const SynthesisPath path : {SynthesisPath::kSse2, SynthesisPath::kAvx2}) {
    if (!SynthesisPathAvailable(path)) continue;
    EXPECT_EQ(Synthesize(path, blocks), plain) << "path " << static_cast<int>(path);
  }
  EXPECT_TRUE(SynthesisPathAvailable(BestSynthesisPath()));
}

// ISO/IEC 11172-3 Figure A.2 as written: shift V by 64, V[i] = sum N[i][k] S[k], build U, window
// with D, sum 16 terms.
class StandardSynthesis {
 public:
  std::array<std::int16_t, 32> Run(const std::array<double, 32>& s) {
    for (int i = 1023; i >= 64; --i)
      v_[static_cast<std::size_t>(i)] = v_[static_cast<std::size_t>(i - 64)];
    for (int i = 0; i < 64; ++i) {
      double sum = 0.0;
      for (int k = 0; k < 32; ++k)
        sum += std::cos((16 + i) * (2 * k + 1) * std::numbers::pi / 64.0) *
               s[static_cast<std::size_t>(k)];
      v_[static_cast<std::size_t>(i)] = sum;
    }
    double u[512];
    for (int i = 0; i < 8; ++i)
      for (int j = 0; j < 32; ++j) {
        u[i * 64 + j] = v_[static_cast<std::size_t>(i * 128 + j)];
        u[i * 64 + 32 + j] = v_[static_cast<std::size_t>(i * 128 + 96 + j)];
      }
    std::array<std::int16_t, 32> out{};
    for (int j = 0; j < 32; ++j) {
      double sum = 0.0;
      for (int i = 0; i < 16; ++i)
        sum += u[j + 32 * i] * audio::kSynthesisWindow[static_cast<std::size_t>(j + 32 * i)];
      const double x = std::trunc(sum * 32768.0);
      out[static_cast<std::size_t>(j)] = static_cast<std::int16_t>(x > 32767.0    ? 32767.0
                                                                   : x < -32768.0 ? -32768.0
                                                                                  : x);
    }
    return out;
  }

 private:
  std::array<double, 1024> v_{};
};

TEST(SynthesisFilter, AgreesWithTheStandardsFormulas) {
  const auto blocks = TestBlocks(1500, 11);
  const std::vector<std::int16_t> ours = Synthesize(SynthesisPath::kPlain, blocks);
  StandardSynthesis reference;
  int differing = 0, largest = 0;
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    const auto expected = reference.Run(blocks[b]);
    for (int j = 0; j < 32; ++j) {
      const int d = std::abs(ours[32 * b + static_cast<std::size_t>(j)] -
                             expected[static_cast<std::size_t>(j)]);
      largest = std::max(largest, d);
      differing += d != 0 ? 1 : 0;
    }
  }
  // Only the order of the additions differs: a sum that lands within a rounding error of a whole
  // number may truncate the other way.
  EXPECT_LE(largest, 1);
  EXPECT_LE(differing, 5) << "of " << ours.size();
}

// A windowed sum of exactly +1.0 gives 32767 and -1.0 gives -32768, on every path.
TEST(SynthesisFilter, FullScaleLimits) {
  const double* d = audio::kSynthesisWindow.data();
  // A window coefficient whose reciprocal times itself is exactly 1 in double precision.
  int term = -1;
  for (int i = 0; i < 16 && term < 0; ++i)
    if (d[32 * i] != 0.0 && (1.0 / d[32 * i]) * d[32 * i] == 1.0) term = i;
  ASSERT_GE(term, 0);
  for (const double sign : {1.0, -1.0}) {
    alignas(32) double ring[1024] = {};
    ring[WindowRingStart(0, static_cast<unsigned>(term))] = sign / d[32 * term];
    for (const SynthesisPath path :
         {SynthesisPath::kPlain, SynthesisPath::kSse2, SynthesisPath::kAvx2}) {
      if (!SynthesisPathAvailable(path)) continue;
      alignas(16) std::int16_t pcm[32];
      KernelsFor(path).window(ring, 0, pcm);
      EXPECT_EQ(pcm[0], sign > 0 ? 32767 : -32768) << static_cast<int>(path);
      for (int j = 1; j < 32; ++j) EXPECT_EQ(pcm[j], 0);
    }
  }
}

TEST(SynthesisFilter, SilenceStaysSilentAndResetForgetsHistory) {
  const SynthesisTables tables;
  SynthesisFilter filter;
  const auto loud = TestBlocks(20, 3);
  std::array<double, 32> zero{};
  std::int16_t pcm[32];
  for (const auto& b : loud) filter.Synthesize(tables, b.data(), pcm);
  filter.Reset();
  for (int n = 0; n < 20; ++n) {
    filter.Synthesize(tables, zero.data(), pcm);
    for (const std::int16_t s : pcm) ASSERT_EQ(s, 0);
  }
}

}  // namespace
}  // namespace calvex::audio_decoder
