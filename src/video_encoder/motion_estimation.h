// Motion estimation, mode decision and the prediction picture: an exhaustive whole-pel spiral
// search on the source pictures, a half-pel refinement on the reconstructed references, and the
// TM5 decisions between intra, forward, backward and bidirectional prediction.
#pragma once

#include <array>
#include <vector>

#include "video_encoder/kernels.h"
#include "video_encoder/picture.h"

namespace calvex::video {

// A half-pel position in the luminance plane and its SAD.
struct SearchResult {
  int x = 0;
  int y = 0;
  int sad = 0;
};

// A 16 x 16 block cut into strips of kStripHeight rows, and the sum of each strip.
inline constexpr int kStripHeight = 4;
using BlockStrips = std::array<int, 16 / kStripHeight>;

// Sums of every 16 x kStripHeight window of a luminance plane, by top-left corner: (width - 15)
// per row, (height - kStripHeight + 1) rows. A block's SAD against a window is at least the sum
// over its strips of the differences of the strip sums, which lets the search pass over windows
// that cannot beat the best so far.
std::vector<int> StripSums(const Plane& p);
BlockStrips StripsOf(const std::uint8_t* block, int stride);

// Full-pel spiral search of the 16 x 16 block `cur` at (i0, j0) in `sourceRef` within +-sx,
// +-sy, then half-pel refinement in `reconRef`. `stripSums` (StripSums of `sourceRef`) and
// `curStrips` (StripsOf the block), when given, only make it faster.
SearchResult SearchMotion(const Kernels& k, const PictureGeometry& g, const std::uint8_t* cur,
                          const Plane& sourceRef, const Plane& reconRef, int i0, int j0, int sx,
                          int sy, const std::vector<int>* stripSums = nullptr,
                          const BlockStrips* curStrips = nullptr);

// What one picture's motion estimation works on.
struct MotionInputs {
  const Kernels* kernels = nullptr;
  PictureGeometry geometry;
  int pictureType = kPictureI;
  int forwardRange = 0;
  int backwardRange = 0;
  const PictureBuffer* current = nullptr;    // source of the picture being coded
  const PictureBuffer* oldSource = nullptr;  // past reference (forward prediction)
  const PictureBuffer* oldRecon = nullptr;
  const PictureBuffer* newSource = nullptr;  // future reference (backward, B pictures only)
  const PictureBuffer* newRecon = nullptr;
  const std::vector<int>* oldSums = nullptr;  // StripSums of the references' luminance
  const std::vector<int>* newSums = nullptr;
};

// Chooses the mode and vectors of macroblock (mbx, mby) and sets its activity.
void EstimateMacroblock(const MotionInputs& in, int mbx, int mby, MacroblockInfo& mb);

// Writes the prediction of macroblock (mbx, mby) into `prediction`.
void PredictMacroblock(const MotionInputs& in, int mbx, int mby, const MacroblockInfo& mb,
                       PictureBuffer& prediction);

// Chrominance vector component of a luminance one: half, truncated toward zero.
inline int ChromaVector(int v) {
  return v / 2;
}

}  // namespace calvex::video
