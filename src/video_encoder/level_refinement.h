// Rate-distortion quantisation of a block for the high-quality preset: among the levels as
// quantised, each one step smaller (a 1 dropped), and a 1 where a coefficient quantised to 0 is
// rebuilt closer by it, the levels of least distortion + lambda x bits (the macroblock choice's
// measure) are found over the block's runs, as a path through its scan positions.
#pragma once

#include <cstdint>

namespace calvex::video {

// Refines `levels` (raster order, quantised from `coefficients` with `mquant`; `nonZero` has bit
// n set where level n is not 0) in place and returns the new mask. An intra block keeps its DC
// level; a non-intra block may be left empty (it is then not coded).
std::uint64_t RefineLevels(std::int16_t* levels, const std::int16_t* coefficients,
                           std::uint64_t nonZero, bool intra, int mquant, double lambda);

// The same, cheaper and coarser: from the last level back, each level is made one step smaller
// where that lowers the cost with the levels around it as they stand. For intra blocks, whose
// many levels make the search over runs dear for little gain.
std::uint64_t RefineLevelsOneStep(std::int16_t* levels, const std::int16_t* coefficients,
                                  std::uint64_t nonZero, bool intra, int mquant, double lambda);

}  // namespace calvex::video
