// Motion estimation, mode decision and the prediction picture: an exhaustive whole-pel spiral
// search on the source pictures, a half-pel refinement on the reconstructed references, and the
// TM5 decisions between intra, forward, backward and bidirectional prediction.
#pragma once

#include <cstdint>

#include "video_encoder/kernels.h"
#include "video_encoder/picture.h"

namespace calvex::video {

// A half-pel position in the luminance plane and its SAD.
struct SearchResult {
  int x = 0;
  int y = 0;
  int sad = 0;
};

// The largest whole-pel search range, each way.
inline constexpr int kMaxSearchRange = 16;

// A reconstructed reference picture with its luminance interpolated at the three half-pel
// phases, built once per reference so that the refinement, the distances and the prediction read
// plain blocks: h at (x, y) is the sample at half-pel (2x + 1, 2y), v at (2x, 2y + 1), hv at
// (2x + 1, 2y + 1). Each phase plane is width16 x height16; its last column (h, hv) or row (v,
// hv) stays 0, as no position inside the picture needs it.
struct ReferencePicture {
  PictureBuffer recon;
  Plane h, v, hv;

  void Allocate(const PictureGeometry& g);
  // Interpolates luminance rows y0 .. y1 - 1 of `recon` (reading row y1 when there is one).
  void BuildHalfPel(const Kernels& k, int y0, int y1);
  // The luminance block at half-pel position (x, y); the row stride is width16.
  const std::uint8_t* LumaAt(int x, int y) const {
    const Plane& p = (x & 1) ? ((y & 1) ? hv : h) : ((y & 1) ? v : recon.y);
    return p.pixels.data() + static_cast<std::ptrdiff_t>(y >> 1) * p.width + (x >> 1);
  }
};

// The position of the search order's step `rank`: (0, 0) first, then rings l = 1, 2, ... each
// walked from its top-left corner right along the top, down the right side, left along the
// bottom and up the left side.
void SpiralOffset(int rank, int& dx, int& dy);

// Full-pel spiral search of the 16 x 16 block `cur` at (i0, j0) in `sourceRef` within +-sx,
// +-sy (at most kMaxSearchRange), then half-pel refinement in `reference`. The whole-pel result
// is the position with the smallest SAD, ties going to the earliest in the spiral order.
SearchResult SearchMotion(const Kernels& k, const PictureGeometry& g, const std::uint8_t* cur,
                          const Plane& sourceRef, const ReferencePicture& reference, int i0, int j0,
                          int sx, int sy);

// What one picture's motion estimation works on.
struct MotionInputs {
  const Kernels* kernels = nullptr;
  PictureGeometry geometry;
  int pictureType = kPictureI;
  int forwardRange = 0;
  int backwardRange = 0;
  const PictureBuffer* current = nullptr;    // source of the picture being coded
  const PictureBuffer* oldSource = nullptr;  // past reference (forward prediction)
  const ReferencePicture* oldRef = nullptr;
  const PictureBuffer* newSource = nullptr;  // future reference (backward, B pictures only)
  const ReferencePicture* newRef = nullptr;
};

// Sum-of-squares variance of the 16 x 16 block, sum p^2 - (sum p)^2 / 256, and its activity, 1 +
// the smallest variance of its four 8 x 8 blocks.
void VarianceAndActivity(const Kernels& k, const std::uint8_t* p, int stride, int& var,
                         double& act);

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
