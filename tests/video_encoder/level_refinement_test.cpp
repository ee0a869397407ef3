// The high preset's refinement of quantised levels, judged with the real coder: the bits it
// counts are the ones written, and a refined block never costs more in distortion plus lambda
// times bits than the block as quantised, whose levels it changes by one step at most.
#include "video_encoder/level_refinement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "video_encoder/encoder_test_support.h"
#include "video_encoder/macroblock_coding.h"
#include "video_encoder/transform.h"

namespace calvex::video {
namespace {

using testing::MemorySink;

TEST(RunLevelLengths, AreTheBitsWritten) {
  MemorySink sink;
  BitWriter w(sink);
  const RunLevelLengths& length = RunLevelLengths::Get();
  for (int run = 0; run < 64; ++run)
    for (int level = -300; level <= 300; ++level) {
      if (level == 0) continue;
      for (const bool first : {false, true}) {
        const auto before = w.BitCount();
        WriteRunLevel(w, run, level, first);
        ASSERT_EQ(length(run, level, first), w.BitCount() - before)
            << "run " << run << " level " << level << " first " << first;
      }
    }
}

// Distortion plus lambda times the bits of one block's levels.
double Cost(const std::int16_t* coefficients, const Block& levels, bool intra, int mquant,
            double lambda) {
  MemorySink sink;
  BitWriter w(sink);
  int dc = 0;
  Block rebuilt = levels;
  bool any = intra;
  for (const std::int16_t l : levels) any |= l != 0;
  if (intra) {
    WriteIntraBlock(w, levels.data(), false, dc);
    DequantiseIntra(rebuilt.data(), mquant);
  } else if (any) {
    WriteNonIntraBlock(w, levels.data());
    DequantiseNonIntra(rebuilt.data(), mquant);
  }
  double d = 0;
  for (std::size_t n = 0; n < 64; ++n)
    d += static_cast<double>(coefficients[n] - rebuilt[n]) * (coefficients[n] - rebuilt[n]);
  return d + lambda * static_cast<double>(w.BitCount());
}

// Both refinements; the search over runs weighs every choice the one-step refinement makes, so it
// never ends up dearer than it.
TEST(RefineLevels, NeverRaiseTheCostAndKeepTheIntraDc) {
  std::mt19937 random(19);
  std::array<int, 2> changed{};
  for (int trial = 0; trial < 3000; ++trial) {
    const bool intra = trial % 2;
    const int mquant = 2 * (1 + trial % 31);
    const double lambda = 0.2125 * mquant * mquant;
    // Coefficients that fall off towards the high frequencies, as residuals' do.
    Block coefficients{};
    for (std::size_t n = 0; n < 64; ++n) {
      const int spread = 1 + static_cast<int>(600 / (1 + n));
      coefficients[n] = static_cast<std::int16_t>(
          std::uniform_int_distribution<int>(-spread, spread)(random) * (1 + trial % 4));
    }
    if (intra) coefficients[0] = static_cast<std::int16_t>(random() % 2040);
    Block quantised = coefficients;
    const std::uint64_t quantisedMask =
        intra ? ReferenceKernels().quantiseIntra(quantised.data(), mquant)
              : ReferenceKernels().quantiseNonIntra(quantised.data(), mquant);
    const double before = Cost(coefficients.data(), quantised, intra, mquant, lambda);
    std::array<double, 2> after{};
    for (std::size_t way = 0; way < 2; ++way) {
      Block levels = quantised;
      const std::uint64_t nonZero = (way == 0 ? RefineLevelsOneStep : RefineLevels)(
          levels.data(), coefficients.data(), quantisedMask, intra, mquant, lambda);
      after[way] = Cost(coefficients.data(), levels, intra, mquant, lambda);
      ASSERT_LE(after[way], before) << trial << " way " << way;
      for (std::size_t n = 0; n < 64; ++n) {
        ASSERT_EQ(levels[n] != 0, (nonZero >> n) & 1) << trial;
        // One step smaller at most, or a 1 of the coefficient's sign where it quantised to 0.
        ASSERT_GE(std::abs(levels[n]), std::abs(quantised[n]) - 1) << trial;
        ASSERT_LE(std::abs(levels[n]), std::max(std::abs(quantised[n]), 1)) << trial;
        ASSERT_GE(levels[n] * coefficients[n], 0) << trial;
      }
      if (intra) {
        ASSERT_EQ(levels[0], quantised[0]);
      }
      changed[way] += levels != quantised;
    }
    ASSERT_LE(after[1], after[0] + 1e-6) << trial;
  }
  EXPECT_GT(changed[0], 300);
  EXPECT_GT(changed[1], 300);
}

}  // namespace
}  // namespace calvex::video
