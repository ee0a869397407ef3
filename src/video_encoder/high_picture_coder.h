// The coding of the high-quality preset: each macroblock is coded the way that costs least in
// distortion plus lambda times bits at the quantiser rate control gives it, among the candidates
// its analysis prepared (high_analysis.h) and skipping. The bits are those the macroblock's codes
// really take (counted by writing them aside); the distortion is measured on the coefficients
// (the DCT keeps squared errors as they are). lambda follows the square of the quantiser. The
// chosen macroblock's levels are then refined by the same measure (level_refinement.h).
#pragma once

#include <vector>

#include "video_encoder/bit_writer.h"
#include "video_encoder/high_analysis.h"
#include "video_encoder/kernels.h"
#include "video_encoder/picture.h"
#include "video_encoder/rate_control.h"

namespace calvex::video {

class HighPictureCoder {
 public:
  HighPictureCoder(BitWriter& w, RateControl& rc, const PictureGeometry& g, int pictureType,
                   const Kernels& k, int forwardFCode, int backwardFCode);

  // Rate control picture start and the picture header.
  void Start(int temporalReference);
  // Chooses and codes the macroblocks of one row: the records get the choice, the blocks its
  // levels, `prediction` its prediction.
  void CodeRow(int row, std::vector<MacroblockInfo>& mbs, std::vector<MacroblockBlocks>& blocks,
               const std::vector<MacroblockCandidates>& candidates, PictureBuffer& prediction);
  void Finish();

 private:
  BitWriter& w_;
  RateControl& rc_;
  const PictureGeometry& g_;
  const Kernels& k_;
  int pictureType_;
  int fCode_[2];
  int prevMquant_ = 0;
  // Where the candidates' codes are written to count their bits.
  class NullSink final : public ByteSink {
   public:
    bool Write(const std::uint8_t*, std::size_t) override { return true; }
    bool Close() override { return true; }
  } nowhere_;
  BitWriter counter_;
};

}  // namespace calvex::video
