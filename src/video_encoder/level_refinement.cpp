#include "video_encoder/level_refinement.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "mpeg_video/video_tables.h"
#include "video_encoder/macroblock_coding.h"
#include "video_encoder/transform.h"

namespace calvex::video {

namespace vt = video_tables;

namespace {

// The best way the levels up to a scan position may end with a level there: what they cost, the
// position (+ 1) of the level before it and this one's magnitude (for the way back).
struct Path {
  double cost;
  int previous;
  int magnitude;
};

// What a 1 rebuilds at each raster index of an intra block, per quantiser_scale 1..31.
struct IntraOnes {
  std::array<std::array<std::int16_t, 64>, 32> of{};
  IntraOnes() {
    for (int q = 1; q < 32; ++q)
      for (int n = 1; n < 64; ++n)
        of[static_cast<std::size_t>(q)][static_cast<std::size_t>(n)] =
            IntraCoefficient(1, n, 2 * q);
  }
};

// Bit n set where flags[n] (0 or 1) is 1: each 8 flags gathered into the top byte of a product.
std::uint64_t BitsOf(const std::array<std::uint8_t, 64>& flags) {
  std::uint64_t bits = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    std::uint64_t eight;
    std::memcpy(&eight, flags.data() + 8 * i, 8);
    bits |= ((eight * 0x0102040810204080ull) >> 56) << (8 * i);
  }
  return bits;
}

}  // namespace

std::uint64_t RefineLevels(std::int16_t* levels, const std::int16_t* coefficients,
                           std::uint64_t nonZero, bool intra, int mquant, double lambda) {
  const RunLevelLengths& length = RunLevelLengths::Get();
  // An intra block's DC is coded apart; its AC levels start at scan position 1.
  const int from = intra ? 1 : 0;
  // The positions weighed: the levels that are not 0, and the 0s whose coefficient a 1 rebuilds
  // closer than 0 does (more than half of what a 1 rebuilds).
  std::uint64_t weighed = nonZero;
  std::array<std::uint8_t, 64> closer{};
  if (intra) {
    static const IntraOnes ones;
    const std::int16_t* one = ones.of[static_cast<std::size_t>(mquant / 2)].data();
    for (std::size_t n = 1; n < 64; ++n) closer[n] = 2 * std::abs(coefficients[n]) > one[n];
    weighed |= BitsOf(closer);
  } else {
    // Coefficients from mquant on are quantised to levels already; at the finest quantisers no
    // smaller one gets a 1.
    const int one = NonIntraCoefficient(1, mquant);
    if (one / 2 + 1 < mquant) {
      for (std::size_t n = 0; n < 64; ++n) closer[n] = 2 * std::abs(coefficients[n]) > one;
      weighed |= BitsOf(closer);
    }
  }
  const std::uint64_t weighedRaster = weighed;
  weighed = InScanOrder(weighed) & ~((std::uint64_t{1} << from) - 1);

  // zeroSum: the squared coefficients of the positions weighed so far, what leaving them all 0
  // costs (the others are 0 on every path and count alike).
  double zeroSum = 0;

  // paths[k + 1] ends with a level at scan position k; paths[from] is the start (no level yet).
  // A path's worth against the others is its cost less the zeros before its end: the zeros after
  // it count on it as it goes on.
  std::array<Path, 65> paths;  // NOLINT: filled where live
  paths[static_cast<std::size_t>(from)] = {0.0, -1, 0};
  // A code's length never falls as its run grows, so a path worth no less than one with a later
  // last level cannot win any more. The paths that may are the start (while it is within an end
  // of block of the others for a non-intra block, which left empty takes none), and a stack of
  // paths whose worth grows with their position.
  bool startLive = true;
  const double startSlack = intra ? 0.0 : lambda * vt::kEndOfBlock.length;
  std::array<int, 64> stack;     // NOLINT: positions + 1, filled up to `height`
  std::array<double, 64> worth;  // NOLINT: the same
  int height = 0;

  for (; weighed; weighed &= weighed - 1) {
    const int k = __builtin_ctzll(weighed);
    const std::size_t n = vt::kZigzag[static_cast<std::size_t>(k)];
    const int c = coefficients[n];
    const int quantised = std::abs(levels[n]);
    const double zerosBefore = zeroSum;
    zeroSum += static_cast<double>(c) * c;
    // The magnitudes weighed: the level as quantised and one step smaller; where it quantised to
    // 0, a 1 that rebuilds the coefficient closer than 0 does.
    int magnitudes[2];
    int count = 0;
    if (quantised > 0) {
      magnitudes[count++] = quantised;
      if (quantised > 1) magnitudes[count++] = quantised - 1;
    } else {
      magnitudes[count++] = 1;
    }

    // The best way here, chosen without branches (which the costs would keep mispredicting).
    double bestCost = std::numeric_limits<double>::infinity();
    int bestPrevious = -1, bestMagnitude = 0;
    auto weigh = [&](double cost, int previous, int magnitude) {
      const bool better = cost < bestCost;
      bestCost = better ? cost : bestCost;
      bestPrevious = better ? previous : bestPrevious;
      bestMagnitude = better ? magnitude : bestMagnitude;
    };
    for (int m = 0; m < count; ++m) {
      const int magnitude = magnitudes[m];
      const int level = c < 0 ? -magnitude : magnitude;
      const double error = c - DequantiseLevel(level, static_cast<int>(n), mquant, intra);
      const double here = zerosBefore + error * error;
      if (startLive) weigh(here + lambda * length(k - from, magnitude, !intra), from, magnitude);
      // The stack's worth grows and no code is shorter than run 0's: once a path's worth with
      // that code is no less than the best, neither it nor any above it can win.
      const double shortest = lambda * length(0, magnitude, false);
      for (int t = 0; t < height; ++t) {
        const double base = worth[static_cast<std::size_t>(t)] + here;
        if (base + shortest >= bestCost) break;
        const int p = stack[static_cast<std::size_t>(t)];  // the level before is at p - 1
        weigh(base + lambda * length(k - p, magnitude, false), p, magnitude);
      }
    }
    paths[static_cast<std::size_t>(k + 1)] = {bestCost, bestPrevious, bestMagnitude};
    const double v = bestCost - zeroSum;
    while (height > 0 && worth[static_cast<std::size_t>(height - 1)] >= v) --height;
    stack[static_cast<std::size_t>(height)] = k + 1;
    worth[static_cast<std::size_t>(height++)] = v;
    if (startLive && worth[0] + startSlack <= 0.0) startLive = false;
  }

  // The end: the zeros after the last level and the end of block (a non-intra block left empty
  // is not coded at all).
  int end = -1;
  double endCost = std::numeric_limits<double>::infinity();
  if (startLive) {
    endCost = zeroSum + (intra ? lambda * vt::kEndOfBlock.length : 0.0);
    end = from;
  }
  for (int t = 0; t < height; ++t) {
    const double cost =
        worth[static_cast<std::size_t>(t)] + zeroSum + lambda * vt::kEndOfBlock.length;
    if (cost < endCost) {
      endCost = cost;
      end = stack[static_cast<std::size_t>(t)];
    }
  }

  nonZero &= intra ? std::uint64_t{1} : std::uint64_t{0};
  for (std::uint64_t m = weighedRaster & ~nonZero; m; m &= m - 1) levels[__builtin_ctzll(m)] = 0;
  for (int p = end; p > from;) {
    const Path& path = paths[static_cast<std::size_t>(p)];
    const std::size_t n = vt::kZigzag[static_cast<std::size_t>(p - 1)];
    levels[n] = static_cast<std::int16_t>(coefficients[n] < 0 ? -path.magnitude : path.magnitude);
    nonZero |= std::uint64_t{1} << n;
    p = path.previous;
  }
  return nonZero;
}

std::uint64_t RefineLevelsOneStep(std::int16_t* levels, const std::int16_t* coefficients,
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
