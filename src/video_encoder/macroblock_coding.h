// Slice and macroblock layer of one picture (ISO/IEC 11172-2 2.4.2.7-2.4.2.8): rate-controlled
// quantisation, skipping, and the variable-length codes of mode, quantiser, vectors, pattern and
// coefficients.
#pragma once

#include <vector>

#include "mpeg_video/video_tables.h"
#include "video_encoder/bit_writer.h"
#include "video_encoder/kernels.h"
#include "video_encoder/picture.h"
#include "video_encoder/rate_control.h"

namespace calvex::video {

// Codes the motion vector component difference `delta` (half-pels) with `fCode`.
void WriteMotionCode(BitWriter& w, int delta, int fCode);

// Codes one (run, level) pair with dct_coeff_next, or escaped. `first` selects the short code of
// run 0, level +-1 that dct_coeff_first has for the first pair of a non-intra block.
void WriteRunLevel(BitWriter& w, int run, int level, bool first);

// The bits WriteRunLevel takes for a pair, from a table made once.
class RunLevelLengths {
 public:
  static const RunLevelLengths& Get();
  int operator()(int run, int level, bool first) const {
    const int magnitude = level < 0 ? -level : level;
    if (first && run == 0 && magnitude == 1) return video_tables::kDctFirstRun0Level1.length + 1;
    if (run < 32 && magnitude <= 40)
      return length_[static_cast<std::size_t>(run)][static_cast<std::size_t>(magnitude)];
    return video_tables::kDctEscape.length + (magnitude <= 127 ? 14 : 22);
  }

 private:
  RunLevelLengths();
  std::uint8_t length_[32][41];
};

// The levels that are not 0, bit n for scan position n, from the same by raster index; with
// AVX-512 BITALG where the processor has it, else InScanOrderByBytes, which gives the same.
std::uint64_t InScanOrder(std::uint64_t raster);
std::uint64_t InScanOrderByBytes(std::uint64_t raster);

// Codes an intra block: the DC difference to `dcPredictor` (updated), the AC levels and the end
// of block. `chroma` selects the chrominance DC size table.
void WriteIntraBlock(BitWriter& w, const std::int16_t* levels, bool chroma, int& dcPredictor);

// Codes a non-intra block: every level in zigzag order, then the end of block.
void WriteNonIntraBlock(BitWriter& w, const std::int16_t* levels);

// The same, given the mask of the levels that are not 0 (bit n for raster index n, and no other).
void WriteIntraBlock(BitWriter& w, const std::int16_t* levels, std::uint64_t nonZero, bool chroma,
                     int& dcPredictor);
void WriteNonIntraBlock(BitWriter& w, const std::int16_t* levels, std::uint64_t nonZero);

// The bits WriteIntraBlock and WriteNonIntraBlock take, counted from tables; `nonZero` has bit n
// set where level n (raster order) is not 0, and no other.
int IntraBlockBits(const std::int16_t* levels, std::uint64_t nonZero, bool chroma,
                   int& dcPredictor);
int NonIntraBlockBits(const std::int16_t* levels, std::uint64_t nonZero);

// The macroblock_type code of `flags` (kMb* flags) in pictures of `pictureType`.
const video_tables::Vlc& MacroblockTypeCode(int pictureType, int flags);

// Codes a macroblock_address_increment, with macroblock_escape for each full 33.
void WriteAddressIncrement(BitWriter& w, int increment);

// Codes one picture row by row (one slice per macroblock row), so that rows can be coded as soon
// as their analysis is done. The blocks of a row hold DCT coefficients before CodeRow and
// quantised levels after; the records get their quantiser, pattern, skip flag and the blocks'
// masks of levels that are not 0.
class PictureCoder {
 public:
  PictureCoder(BitWriter& w, RateControl& rc, const PictureGeometry& g, int pictureType,
               const Kernels& k)
      : w_(w), rc_(rc), g_(g), k_(k), pictureType_(pictureType) {}

  // Rate control picture start and the picture header.
  void Start(int temporalReference);
  void CodeRow(int row, std::vector<MacroblockInfo>& mbs, std::vector<MacroblockBlocks>& blocks);
  // Rate control picture end.
  void Finish();

 private:
  BitWriter& w_;
  RateControl& rc_;
  const PictureGeometry& g_;
  const Kernels& k_;
  int pictureType_;
  int prevMquant_ = 0;
};

// Codes a whole picture: picture header, one slice per macroblock row and every macroblock.
// The blocks hold DCT coefficients on entry and quantised levels on return; the records get
// their quantiser, pattern and skip flag.
void CodePicture(BitWriter& w, RateControl& rc, const PictureGeometry& g, int pictureType,
                 int temporalReference, std::vector<MacroblockInfo>& mbs,
                 std::vector<MacroblockBlocks>& blocks);

}  // namespace calvex::video
