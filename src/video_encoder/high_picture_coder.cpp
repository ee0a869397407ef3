#include "video_encoder/high_picture_coder.h"

#include <algorithm>
#include <array>
#include <limits>

#include "video_encoder/level_refinement.h"
#include "video_encoder/macroblock_coding.h"
#include "video_encoder/stream_headers.h"
#include "video_encoder/transform.h"

namespace calvex::video {
namespace vt = video_tables;
namespace {

// What the codes of a slice carry from one macroblock to the next.
struct SliceState {
  std::array<int, 3> dc{};
  std::array<std::array<int, 2>, 2> pmv{};
  int mbaInc = 1;
  int prevMquant = 0;
};

// A candidate quantised at the macroblock's quantiser, with the codes it would take.
struct Quantised {
  MacroblockBlocks levels{};
  std::array<std::uint64_t, 6> nonZero{};
  int type = 0;
  int cbp = 0;
};

// The macroblock's codes from its address increment to its coded block pattern.
void WriteMacroblockHeader(BitWriter& w, int pictureType, const int fCode[2], SliceState& s,
                           const Quantised& q, const std::array<std::array<int, 2>, 2>& mv,
                           int mquant) {
  WriteAddressIncrement(w, s.mbaInc);
  s.mbaInc = 1;
  const vt::Vlc& code = MacroblockTypeCode(pictureType, q.type);
  w.PutBits(code.bits, code.length);
  if (q.type & kMbQuant) {
    w.PutBits(static_cast<std::uint32_t>(mquant / 2), 5);
    s.prevMquant = mquant;
  }
  for (int d = 0; d < 2; ++d) {
    if (!(q.type & (d == 0 ? kMbForward : kMbBackward))) continue;
    const auto dir = static_cast<std::size_t>(d);
    WriteMotionCode(w, mv[dir][0] - s.pmv[dir][0], fCode[d]);
    WriteMotionCode(w, mv[dir][1] - s.pmv[dir][1], fCode[d]);
    s.pmv[dir] = mv[dir];
  }
  if (q.type & kMbPattern) {
    const vt::Vlc& pattern = vt::kCodedBlockPattern[static_cast<std::size_t>(q.cbp)];
    w.PutBits(pattern.bits, pattern.length);
  }
}

// The macroblock's codes, from its address increment to its last block.
void WriteMacroblock(BitWriter& w, int pictureType, const int fCode[2], SliceState& s,
                     const Quantised& q, const std::array<std::array<int, 2>, 2>& mv, int mquant) {
  WriteMacroblockHeader(w, pictureType, fCode, s, q, mv, mquant);
  for (int n = 0; n < 6; ++n) {
    if (!(q.cbp & (32 >> n))) continue;
    const std::int16_t* levels = q.levels[static_cast<std::size_t>(n)].data();
    const std::uint64_t nonZero = q.nonZero[static_cast<std::size_t>(n)];
    if (q.type & kMbIntra)
      WriteIntraBlock(w, levels, nonZero, n >= 4,
                      s.dc[static_cast<std::size_t>(n < 4 ? 0 : n - 3)]);
    else
      WriteNonIntraBlock(w, levels, nonZero);
  }
  if (!(q.type & kMbIntra)) s.dc = {};
  if ((q.type & kMbIntra) || (pictureType == kPictureP && !(q.type & kMbForward))) s.pmv = {};
}

// The bits WriteMacroblock would write: the header's written to `counter`, the blocks' counted.
std::int64_t MacroblockBits(BitWriter& counter, int pictureType, const int fCode[2], SliceState s,
                            const Quantised& q, const std::array<std::array<int, 2>, 2>& mv,
                            int mquant) {
  const auto before = counter.BitCount();
  WriteMacroblockHeader(counter, pictureType, fCode, s, q, mv, mquant);
  auto bits = static_cast<std::int64_t>(counter.BitCount() - before);
  for (std::size_t n = 0; n < 6; ++n) {
    if (!(q.cbp & (32 >> n))) continue;
    const std::int16_t* levels = q.levels[n].data();
    bits += (q.type & kMbIntra)
                ? IntraBlockBits(levels, q.nonZero[n], n >= 4, s.dc[n < 4 ? 0 : n - 3])
                : NonIntraBlockBits(levels, q.nonZero[n]);
  }
  return bits;
}

// The coded block pattern and the macroblock type of a candidate of type `mbType` whose levels
// are quantised.
void SetPatternAndType(Quantised& q, int mbType, int pictureType, int mquant, int prevMquant) {
  const bool intra = mbType & kMbIntra;
  q.cbp = 0;
  for (int n = 0; n < 6; ++n)
    if (intra || q.nonZero[static_cast<std::size_t>(n)]) q.cbp |= 32 >> n;
  q.type = mbType;
  if (!intra && q.cbp) q.type |= kMbPattern;
  if (q.cbp && mquant != prevMquant) q.type |= kMbQuant;
  // A P macroblock with nothing coded is sent with the zero vector, motion compensated.
  if (pictureType == kPictureP && q.cbp == 0 && !(q.type & kMbForward)) q.type |= kMbForward;
}

// Each block's squared coefficients: what leaving it uncoded costs.
std::array<std::int64_t, 6> BlockEnergies(const MacroblockBlocks& coefficients) {
  std::array<std::int64_t, 6> e{};
  for (std::size_t n = 0; n < 6; ++n) {
    // In 32 bits, which the compiler makes vector code of: the squares sum to about those of the
    // block's samples (the DCT keeps them), at most 64 x 255^2.
    std::int32_t sum = 0;
    for (const std::int16_t c : coefficients[n]) sum += c * c;
    e[n] = sum;
  }
  return e;
}

// Squared error of the coefficients against what the levels rebuild: a block's energy, with
// the errors of the levels that are not 0 (and an intra block's DC) in place of their squares.
std::int64_t Distortion(const MacroblockBlocks& coefficients,
                        const std::array<std::int64_t, 6>& energies, const Quantised& q,
                        int mquant) {
  const bool intra = q.type & kMbIntra;
  std::int64_t d = 0;
  for (std::size_t n = 0; n < 6; ++n) {
    d += energies[n];
    const Block& levels = q.levels[n];
    const std::uint64_t rebuilt = q.nonZero[n] | (intra ? 1 : 0);
    for (std::uint64_t m = rebuilt; m; m &= m - 1) {
      const int i = __builtin_ctzll(m);
      const std::int64_t c = coefficients[n][static_cast<std::size_t>(i)];
      const int level = levels[static_cast<std::size_t>(i)];
      const std::int64_t r = intra && i == 0 ? 8 * level : DequantiseLevel(level, i, mquant, intra);
      d += (c - r) * (c - r) - c * c;
    }
  }
  return d;
}

}  // namespace

HighPictureCoder::HighPictureCoder(BitWriter& w, RateControl& rc, const PictureGeometry& g,
                                   int pictureType, const Kernels& k, int forwardFCode,
                                   int backwardFCode)
    : w_(w),
      rc_(rc),
      g_(g),
      k_(k),
      pictureType_(pictureType),
      fCode_{forwardFCode, backwardFCode},
      counter_(nowhere_) {}

void HighPictureCoder::Start(int temporalReference) {
  prevMquant_ = rc_.StartPicture(pictureType_, w_.BitCount());
  WritePictureHeader(
      w_, temporalReference, pictureType_,
      [&] { return rc_.VbvDelay(pictureType_, w_.BitCount()); }, fCode_[0], fCode_[1]);
}

void HighPictureCoder::Finish() {
  rc_.EndPicture(w_.BitCount());
}

void HighPictureCoder::CodeRow(int j, std::vector<MacroblockInfo>& mbs,
                               std::vector<MacroblockBlocks>& blocks,
                               const std::vector<MacroblockCandidates>& candidates,
                               PictureBuffer& prediction) {
  w_.Align();
  w_.PutBits(0x00000101u + static_cast<std::uint32_t>(j), 32);
  w_.PutBits(static_cast<std::uint32_t>(prevMquant_ / 2), 5);
  w_.PutBits(0, 1);  // extra_bit_slice
  SliceState slice;
  slice.prevMquant = prevMquant_;
  BitWriter& counter = counter_;
  // Each candidate is quantised into the one that does not hold the best so far.
  std::array<Quantised, 2> trials;

  for (int i = 0; i < g_.mbWidth; ++i) {
    const int k = j * g_.mbWidth + i;
    MacroblockInfo& mb = mbs[static_cast<std::size_t>(k)];
    const MacroblockCandidates& cands = candidates[static_cast<std::size_t>(k)];
    const int mquant = rc_.MacroblockQuantiser(k, mb.act, w_.BitCount());
    const double lambda = 0.2125 * mquant * mquant;
    const bool inner = i != 0 && i != g_.mbWidth - 1;

    // Skipping: a P macroblock predicted with the zero vector, or a B macroblock repeating the
    // directions and vectors of the one before it, with nothing coded.
    auto skippable = [&](const MacroblockCandidate& cand) {
      if (!inner || (cand.mbType & kMbIntra)) return false;
      if (pictureType_ == kPictureP) return cand.mbType == 0;
      const int directions = cand.mbType & (kMbForward | kMbBackward);
      const MacroblockInfo& left = mbs[static_cast<std::size_t>(k - 1)];
      return directions == (left.mbType & (kMbForward | kMbBackward | kMbIntra)) &&
             (!(directions & kMbForward) || cand.mv[0] == slice.pmv[0]) &&
             (!(directions & kMbBackward) || cand.mv[1] == slice.pmv[1]);
    };

    double bestCost = std::numeric_limits<double>::infinity();
    int best = -1;
    bool skip = false;
    int chosenAt = 0, freeAt = 0;
    for (int c = 0; c < cands.count; ++c) {
      const MacroblockCandidate& cand = cands.c[static_cast<std::size_t>(c)];
      const std::array<std::int64_t, 6> energies = BlockEnergies(cand.blocks);
      Quantised& q = trials[static_cast<std::size_t>(freeAt)];
      q.levels = cand.blocks;
      const bool intra = cand.mbType & kMbIntra;
      for (std::size_t n = 0; n < 6; ++n) {
        std::int16_t* levels = q.levels[n].data();
        q.nonZero[n] =
            intra ? k_.quantiseIntra(levels, mquant) : k_.quantiseNonIntra(levels, mquant);
      }
      SetPatternAndType(q, cand.mbType, pictureType_, mquant, slice.prevMquant);

      const double energy = static_cast<double>(energies[0] + energies[1] + energies[2] +
                                                energies[3] + energies[4] + energies[5]);
      if (energy < bestCost && skippable(cand)) {
        bestCost = energy;
        best = c;
        skip = true;
      }
      const double cost = static_cast<double>(Distortion(cand.blocks, energies, q, mquant)) +
                          lambda * static_cast<double>(MacroblockBits(counter, pictureType_, fCode_,
                                                                      slice, q, cand.mv, mquant));
      if (cost < bestCost) {
        bestCost = cost;
        best = c;
        skip = false;
        chosenAt = freeAt;
        freeAt ^= 1;
      }
    }
    Quantised& chosen = trials[static_cast<std::size_t>(chosenAt)];
    if (!skip) {
      // The chosen levels are refined; a macroblock left with nothing to code is skipped where
      // it may be.
      const MacroblockCandidate& cand = cands.c[static_cast<std::size_t>(best)];
      const bool intra = cand.mbType & kMbIntra;
      for (std::size_t n = 0; n < 6; ++n)
        if (chosen.nonZero[n])
          chosen.nonZero[n] = (intra ? RefineLevelsOneStep : RefineLevels)(
              chosen.levels[n].data(), cand.blocks[n].data(), chosen.nonZero[n], intra, mquant,
              lambda);
      SetPatternAndType(chosen, cand.mbType, pictureType_, mquant, slice.prevMquant);
      skip = chosen.cbp == 0 && skippable(cand);
    }

    const MacroblockCandidate& cand = cands.c[static_cast<std::size_t>(best)];
    mb.mquant = mquant;
    mb.mv = cand.mv;
    StorePrediction(cand, i, j, prediction);
    if (skip) {
      mb.skipped = true;
      mb.cbp = 0;
      mb.nonZero = {};
      mb.mbType = cand.mbType;
      blocks[static_cast<std::size_t>(k)] = MacroblockBlocks{};
      ++slice.mbaInc;
      if (pictureType_ == kPictureP) {
        slice.dc = {};
        slice.pmv = {};
      }
      continue;
    }
    mb.skipped = false;
    mb.cbp = chosen.cbp;
    mb.nonZero = chosen.nonZero;
    mb.mbType = chosen.type;
    blocks[static_cast<std::size_t>(k)] = chosen.levels;
    WriteMacroblock(w_, pictureType_, fCode_, slice, chosen, cand.mv, mquant);
  }
  prevMquant_ = slice.prevMquant;
}

}  // namespace calvex::video
