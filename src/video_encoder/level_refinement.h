// Rate-distortion refinement of a quantised block for the high-quality preset: a level is made
// one step smaller (a lone 1 dropped, a 2 made 1) where the bits its codes save are worth more
// than the error it adds, distortion + lambda x bits as the macroblock choice weighs them.
#pragma once

#include <cstdint>

namespace calvex::video {

// Refines `levels` (raster order, quantised from `coefficients` with `mquant`; `nonZero` has bit
// n set where level n is not 0) in place and returns the new mask. An intra block keeps its DC
// level.
std::uint64_t RefineLevels(std::int16_t* levels, const std::int16_t* coefficients,
                           std::uint64_t nonZero, bool intra, int mquant, double lambda);

}  // namespace calvex::video
