#include "video_encoder/level_refinement.h"

#include <array>
#include <cstdint>

#include "mpeg_video/video_tables.h"
#include "video_encoder/macroblock_coding.h"
#include "video_encoder/transform.h"

namespace calvex::video {

namespace vt = video_tables;

std::uint64_t RefineLevels(std::int16_t* levels, const std::int16_t* coefficients,
                           std::uint64_t nonZero, bool intra, int mquant, double lambda) {
  const RunLevelLengths& length = RunLevelLengths::Get();
  // The scan positions of the levels to weigh, in order (an intra block's DC is coded apart).
  const int from = intra ? 1 : 0;
  std::uint64_t inScan = InScanOrder(nonZero);
  if (intra) inScan &= ~std::uint64_t{1};
  std::array<int, 64> at;  // NOLINT: filled up to count
  int count = 0;
  for (; inScan; inScan &= inScan - 1)
    at[static_cast<std::size_t>(count++)] = __builtin_ctzll(inScan);

  // From the last level back, where the levels are small and their codes dear. A change touches
  // only the level's own code and, when it goes to 0, the run of the level after it (`next`,
  // which stays as decided); the levels before it are still as quantised.
  int next = -1;  // scan position of the next level that stays, -1 for none
  for (int k = count - 1; k >= 0; --k) {
    const int i = at[static_cast<std::size_t>(k)];
    const std::size_t n = vt::kZigzag[static_cast<std::size_t>(i)];
    const int level = levels[n];
    const int before = k > 0 ? at[static_cast<std::size_t>(k - 1)] : from - 1;
    const bool first = !intra && k == 0;
    const int nextLevel = next >= 0 ? levels[vt::kZigzag[static_cast<std::size_t>(next)]] : 0;
    const int nextBits = next >= 0 ? length(next - i - 1, nextLevel, false) : 0;
    const int bits = length(i - before - 1, level, first) + nextBits;
    const int smaller = level > 0 ? level - 1 : level + 1;
    int smallerBits;
    if (smaller != 0)
      smallerBits = length(i - before - 1, smaller, first) + nextBits;
    else if (next >= 0)
      smallerBits = length(next - before - 1, nextLevel, first);
    else  // the last level goes; a non-intra block left empty is not coded at all
      smallerBits = first ? -vt::kEndOfBlock.length : 0;

    const int c = coefficients[n];
    const std::int64_t error = c - DequantiseLevel(level, static_cast<int>(n), mquant, intra);
    const std::int64_t smallerError =
        c - DequantiseLevel(smaller, static_cast<int>(n), mquant, intra);
    if (static_cast<double>(smallerError * smallerError - error * error) +
            lambda * (smallerBits - bits) <
        0) {
      levels[n] = static_cast<std::int16_t>(smaller);
      if (smaller == 0) nonZero &= ~(std::uint64_t{1} << n);
    }
    if (levels[n] != 0) next = i;
  }
  return nonZero;
}

}  // namespace calvex::video
