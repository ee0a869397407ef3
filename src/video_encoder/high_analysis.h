// The analysis of the high-quality preset: a predictive motion search and the candidate modes
// each macroblock may be coded with. The choice between the candidates is made when the
// macroblock is coded (high_picture_coder.h), where the quantiser is known.
//
// The search for each direction starts from a few predictions: the zero vector, the picture's
// global motion (a full search of 8x and then 4x reduced pictures), and the vectors found for the
// macroblocks to the left, above and above right. The best of them by SAD is refined by the
// whole-pel search within +-2 pels and the half-pel refinement of the standard preset. Vectors
// stay within +-63.5 pels, so that f_code is at most 4 (the constrained parameters allow it).
// Every input is fixed before the row is analysed (the row above is analysed first), so the
// result never depends on the thread count.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "video_encoder/kernels.h"
#include "video_encoder/motion_estimation.h"
#include "video_encoder/picture.h"

namespace calvex::video {

// A picture's luminance reduced 4 and 8 times each way (averages of 4 x 4 and 8 x 8 blocks).
struct ReducedPicture {
  Plane quarter, eighth;
  void Build(const Plane& luma);
};

// The whole picture's motion against a reference, in whole pels: the best displacement of the
// 8x reduced pictures (within +-7), refined on the 4x reduced ones (within +-2).
std::array<int, 2> GlobalMotion(const ReducedPicture& current, const ReducedPicture& reference);

// One way a macroblock may be coded: its mode, vectors, prediction and the DCT of its error.
struct MacroblockCandidate {
  int mbType = 0;  // kMbIntra, kMbForward, kMbBackward, both, or 0 (P: the zero vector)
  std::array<std::array<int, 2>, 2> mv{};
  MacroblockBlocks blocks{};
  std::array<std::uint8_t, 384> prediction{};  // 16 x 16 Y, then 8 x 8 Cb and Cr
};

struct MacroblockCandidates {
  int count = 0;
  std::array<MacroblockCandidate, 4> c;
};

// What the analysis of one picture works on besides the standard preset's inputs.
struct HighInputs {
  std::array<std::array<int, 2>, 2> global{};  // per direction, whole pels
  // Per macroblock and direction, the vector the search found (half-pels): the predictions of
  // the macroblocks after it.
  std::vector<std::array<std::array<int, 2>, 2>>* field = nullptr;
  // Where the candidates' predictions are formed: the picture's prediction, whose macroblock
  // gets the chosen one when it is coded.
  PictureBuffer* scratch = nullptr;
};

// Searches and builds the candidates of macroblock (mbx, mby); sets mb's activity.
void AnalyseMacroblockHigh(const MotionInputs& in, const HighInputs& high, int mbx, int mby,
                           MacroblockInfo& mb, MacroblockCandidates& out);

// Copies a candidate's prediction into the picture.
void StorePrediction(const MacroblockCandidate& c, int mbx, int mby, PictureBuffer& prediction);

// The smallest f_code whose range holds every vector component of the candidates of `mbs` in
// direction `dir` (1 when there is none).
int FCodeFor(const std::vector<MacroblockCandidates>& mbs, int dir);

}  // namespace calvex::video
