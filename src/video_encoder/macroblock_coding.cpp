#include "video_encoder/macroblock_coding.h"

#include <immintrin.h>

#include <array>
#include <cstdlib>

#include "mpeg_video/video_tables.h"
#include "video_encoder/stream_headers.h"
#include "video_encoder/transform.h"

namespace calvex::video {
namespace vt = video_tables;
namespace {

void Put(BitWriter& w, const vt::Vlc& code) {
  w.PutBits(code.bits, code.length);
}

// The dct_coeff_next codes the coder writes (those of runs 0 and 1, and of levels 1..5) by run
// (0..31) and level (1..40), with room for the sign bit: (bits << 1) << 5 | (length + 1); 0 where
// an escape codes the pair. One lookup then decides, with no branch on the run.
struct RunLevelTable {
  std::array<std::array<std::uint32_t, 41>, 32> withSign{};
  RunLevelTable() {
    for (const auto& c : vt::kDctCoeff)
      if (c.code.length != 0 && (c.run <= 1 || c.level <= 5))
        withSign[c.run][c.level] = static_cast<std::uint32_t>(c.code.bits) << 6 |
                                   static_cast<std::uint32_t>(c.code.length + 1);
  }
};

const RunLevelTable& RunLevels() {
  static const RunLevelTable table;
  return table;
}

int SignificantBits(int v) {
  return v == 0 ? 0 : 32 - __builtin_clz(static_cast<unsigned>(v));
}

}  // namespace

void WriteMotionCode(BitWriter& w, int delta, int fCode) {
  const int r = fCode - 1;
  const int f = 1 << r;
  if (delta > 16 * f - 1)
    delta -= 32 * f;
  else if (delta < -16 * f)
    delta += 32 * f;
  const int t = std::abs(delta) + f - 1;
  const int magnitude = t >> r;
  Put(w, vt::kMotionCode[static_cast<std::size_t>(magnitude)]);
  if (magnitude != 0) w.PutBits(delta < 0 ? 1 : 0, 1);
  if (r != 0 && magnitude != 0) w.PutBits(static_cast<std::uint32_t>(t & (f - 1)), r);
}

namespace {

// One run and level with the table at hand, inlined into the loop over a block's levels.
inline void PutRunLevel(BitWriter& w, const RunLevelTable& table, int run, int level, bool first) {
  const int magnitude = std::abs(level);
  const std::uint32_t sign = level < 0 ? 1 : 0;
  if (first && run == 0 && magnitude == 1) {
    w.PutBits(static_cast<std::uint32_t>(vt::kDctFirstRun0Level1.bits) << 1 | sign,
              vt::kDctFirstRun0Level1.length + 1);
    return;
  }
  if (run <= 31 && magnitude <= 40) {
    const std::uint32_t code =
        table.withSign[static_cast<std::size_t>(run)][static_cast<std::size_t>(magnitude)];
    if (code != 0) {
      w.PutBits(code >> 5 | sign, static_cast<int>(code & 31));
      return;
    }
  }
  // Escape, run in 6 bits, then the level in 8 bits, or in 16 beyond -127..127 (0 or 0x80, then
  // the low 8 bits).
  const std::uint32_t head =
      static_cast<std::uint32_t>(vt::kDctEscape.bits) << 6 | static_cast<std::uint32_t>(run);
  const std::uint32_t low = static_cast<std::uint32_t>(level) & 0xFF;
  if (level >= -127 && level <= 127)
    w.PutBits(head << 8 | low, vt::kDctEscape.length + 14);
  else
    w.PutBits(head << 16 | (level > 127 ? 0 : 0x8000u) | low, vt::kDctEscape.length + 22);
}

}  // namespace

void WriteRunLevel(BitWriter& w, int run, int level, bool first) {
  PutRunLevel(w, RunLevels(), run, level, first);
}

RunLevelLengths::RunLevelLengths() {
  const RunLevelTable& table = RunLevels();
  for (std::size_t run = 0; run < 32; ++run)
    for (std::size_t magnitude = 0; magnitude < 41; ++magnitude) {
      const std::uint32_t code = table.withSign[run][magnitude];
      length_[run][magnitude] =
          static_cast<std::uint8_t>(code != 0 ? code & 31 : vt::kDctEscape.length + 14);
    }
}

const RunLevelLengths& RunLevelLengths::Get() {
  static const RunLevelLengths lengths;
  return lengths;
}

namespace {

// The scan positions of the raster indices of each byte of a mask: of[b][v] has bit n set for
// the scan position n of each raster index 8 b + i whose bit i of v is set.
struct ScanMasks {
  std::array<std::array<std::uint64_t, 256>, 8> of{};
  ScanMasks() {
    std::array<int, 64> position{};
    for (int n = 0; n < 64; ++n) position[vt::kZigzag[static_cast<std::size_t>(n)]] = n;
    for (std::size_t b = 0; b < 8; ++b)
      for (std::size_t v = 0; v < 256; ++v)
        for (std::size_t i = 0; i < 8; ++i)
          if (v >> i & 1) of[b][v] |= std::uint64_t{1} << position[8 * b + i];
  }
};

// vpshufbitqmb gives, for each byte of its second operand, the bit of the first operand's qword
// that the byte names: bit n of the result is bit kZigzag[n] of the mask.
__attribute__((target("avx512f,avx512bw,avx512bitalg"))) std::uint64_t InScanOrderBitalg(
    std::uint64_t raster) {
  return _mm512_bitshuffle_epi64_mask(_mm512_set1_epi64(static_cast<long long>(raster)),
                                      _mm512_loadu_si512(vt::kZigzag.data()));
}

}  // namespace

std::uint64_t InScanOrderByBytes(std::uint64_t raster) {
  // A byte at a time: dense masks (intra blocks) cost no more than sparse ones.
  static const ScanMasks scan;
  std::uint64_t mask = 0;
  for (std::size_t b = 0; b < 8; ++b) mask |= scan.of[b][raster >> (8 * b) & 255];
  return mask;
}

std::uint64_t InScanOrder(std::uint64_t raster) {
  static const auto inScanOrder =
      __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512bitalg")
          ? InScanOrderBitalg
          : InScanOrderByBytes;
  return inScanOrder(raster);
}

namespace {

std::uint64_t NonZeroLevels(const std::int16_t* levels) {
  std::uint64_t mask = 0;
  for (int n = 0; n < 64; ++n)
    if (levels[n] != 0) mask |= std::uint64_t{1} << n;
  return mask;
}

// The (run, level) pairs of the scan positions in `scan` (bit n: position n), from position
// `from`, then the end of block.
void WriteRunLevels(BitWriter& w, const std::int16_t* levels, std::uint64_t scan, int from,
                    bool firstCode) {
  const RunLevelTable& table = RunLevels();
  int next = from;  // the position after the last pair
  for (; scan; scan &= scan - 1) {
    const int n = __builtin_ctzll(scan);
    PutRunLevel(w, table, n - next, levels[vt::kZigzag[static_cast<std::size_t>(n)]], firstCode);
    firstCode = false;
    next = n + 1;
  }
  Put(w, vt::kEndOfBlock);
}

void WriteIntraBlockMasked(BitWriter& w, const std::int16_t* levels, std::uint64_t nonZero,
                           bool chroma, int& dcPredictor) {
  const int diff = levels[0] - dcPredictor;
  dcPredictor = levels[0];
  const int size = SignificantBits(std::abs(diff));
  const vt::Vlc& code = (chroma ? vt::kDctDcSizeChrominance
                                : vt::kDctDcSizeLuminance)[static_cast<std::size_t>(size)];
  if (size > 0) {
    const auto value = static_cast<std::uint32_t>(diff < 0 ? diff + (1 << size) - 1 : diff);
    w.PutBits(static_cast<std::uint32_t>(code.bits) << size | value, code.length + size);
  } else {
    Put(w, code);
  }
  WriteRunLevels(w, levels, InScanOrder(nonZero) & ~std::uint64_t{1}, 1, false);
}

}  // namespace

void WriteIntraBlock(BitWriter& w, const std::int16_t* levels, bool chroma, int& dcPredictor) {
  WriteIntraBlockMasked(w, levels, NonZeroLevels(levels), chroma, dcPredictor);
}

void WriteNonIntraBlock(BitWriter& w, const std::int16_t* levels) {
  WriteRunLevels(w, levels, InScanOrder(NonZeroLevels(levels)), 0, true);
}

void WriteIntraBlock(BitWriter& w, const std::int16_t* levels, std::uint64_t nonZero, bool chroma,
                     int& dcPredictor) {
  WriteIntraBlockMasked(w, levels, nonZero, chroma, dcPredictor);
}

void WriteNonIntraBlock(BitWriter& w, const std::int16_t* levels, std::uint64_t nonZero) {
  WriteRunLevels(w, levels, InScanOrder(nonZero), 0, true);
}

namespace {

// The bits of WriteRunLevels.
int RunLevelBits(const std::int16_t* levels, std::uint64_t scan, int from, bool firstCode) {
  const RunLevelLengths& length = RunLevelLengths::Get();
  int bits = vt::kEndOfBlock.length;
  int next = from;
  for (; scan; scan &= scan - 1) {
    const int n = __builtin_ctzll(scan);
    bits += length(n - next, levels[vt::kZigzag[static_cast<std::size_t>(n)]], firstCode);
    firstCode = false;
    next = n + 1;
  }
  return bits;
}

}  // namespace

int IntraBlockBits(const std::int16_t* levels, std::uint64_t nonZero, bool chroma,
                   int& dcPredictor) {
  const int diff = levels[0] - dcPredictor;
  dcPredictor = levels[0];
  const int size = SignificantBits(std::abs(diff));
  const vt::Vlc& code = (chroma ? vt::kDctDcSizeChrominance
                                : vt::kDctDcSizeLuminance)[static_cast<std::size_t>(size)];
  return code.length + size +
         RunLevelBits(levels, InScanOrder(nonZero) & ~std::uint64_t{1}, 1, false);
}

int NonIntraBlockBits(const std::int16_t* levels, std::uint64_t nonZero) {
  return RunLevelBits(levels, InScanOrder(nonZero), 0, true);
}

const vt::Vlc& MacroblockTypeCode(int pictureType, int flags) {
  auto find = [flags](const auto& table) -> const vt::Vlc& {
    for (const auto& t : table)
      if (t.flags == flags) return t.code;
    return table[0].code;  // not reached: the coder only forms flags the table has
  };
  if (pictureType == kPictureI) return find(vt::kMacroblockTypeI);
  if (pictureType == kPictureP) return find(vt::kMacroblockTypeP);
  return find(vt::kMacroblockTypeB);
}

void WriteAddressIncrement(BitWriter& w, int increment) {
  while (increment > 33) {
    Put(w, vt::kMacroblockEscape);
    increment -= 33;
  }
  Put(w, vt::kMacroblockAddressIncrement[static_cast<std::size_t>(increment)]);
}

void PictureCoder::Start(int temporalReference) {
  prevMquant_ = rc_.StartPicture(pictureType_, w_.BitCount());
  WritePictureHeader(w_, temporalReference, pictureType_,
                     [&] { return rc_.VbvDelay(pictureType_, w_.BitCount()); });
}

void PictureCoder::Finish() {
  rc_.EndPicture(w_.BitCount());
}

void PictureCoder::CodeRow(int j, std::vector<MacroblockInfo>& mbs,
                           std::vector<MacroblockBlocks>& blocks) {
  BitWriter& w = w_;
  const int pictureType = pictureType_;
  const int forwardFCode = pictureType == kPictureP ? 2 : 1;
  const int backwardFCode = 1;

  // Slice header; the predictors start afresh.
  w.Align();
  w.PutBits(0x00000101u + static_cast<std::uint32_t>(j), 32);
  w.PutBits(static_cast<std::uint32_t>(prevMquant_ / 2), 5);
  w.PutBits(0, 1);  // extra_bit_slice
  std::array<int, 3> dc{};
  std::array<std::array<int, 2>, 2> pmv{};
  int mbaInc = 1;

  for (int i = 0; i < g_.mbWidth; ++i) {
    const int k = j * g_.mbWidth + i;
    MacroblockInfo& mb = mbs[static_cast<std::size_t>(k)];
    MacroblockBlocks& b = blocks[static_cast<std::size_t>(k)];

    mb.mquant = rc_.MacroblockQuantiser(k, mb.act, w.BitCount());
    int type = mb.mbType;
    int cbp = 0;
    if (type & kMbIntra) {
      for (int n = 0; n < 6; ++n)
        mb.nonZero[static_cast<std::size_t>(n)] =
            k_.quantiseIntra(b[static_cast<std::size_t>(n)].data(), mb.mquant);
      cbp = 63;
    } else {
      for (int n = 0; n < 6; ++n) {
        const std::uint64_t nonZero =
            k_.quantiseNonIntra(b[static_cast<std::size_t>(n)].data(), mb.mquant);
        mb.nonZero[static_cast<std::size_t>(n)] = nonZero;
        if (nonZero) cbp |= 32 >> n;
      }
      if (cbp) type |= kMbPattern;
    }
    if (cbp && mb.mquant != prevMquant_) type |= kMbQuant;
    mb.cbp = cbp;
    mb.skipped = false;

    const bool inner = i != 0 && i != g_.mbWidth - 1;
    if (inner && cbp == 0) {
      if (pictureType == kPictureP && !(type & kMbForward)) {
        dc = {};
        pmv = {};
        mb.skipped = true;
        ++mbaInc;
        continue;
      }
      if (pictureType == kPictureB) {
        // A skipped B macroblock repeats the directions and vectors of the one before it.
        const int directions = type & (kMbForward | kMbBackward);
        const MacroblockInfo& left = mbs[static_cast<std::size_t>(k - 1)];
        const bool sameDirections =
            directions == (left.mbType & (kMbForward | kMbBackward | kMbIntra));
        const bool forwardSame = !(type & kMbForward) || mb.mv[0] == pmv[0];
        const bool backwardSame = !(type & kMbBackward) || mb.mv[1] == pmv[1];
        if (sameDirections && forwardSame && backwardSame) {
          mb.skipped = true;
          ++mbaInc;
          continue;
        }
      }
    }
    // P macroblock_type has no code for "not coded, not motion compensated": send a zero vector.
    if (pictureType == kPictureP && cbp == 0 && !(type & kMbForward)) type |= kMbForward;

    WriteAddressIncrement(w, mbaInc);
    mbaInc = 1;
    Put(w, MacroblockTypeCode(pictureType, type));
    if (type & kMbQuant) {
      w.PutBits(static_cast<std::uint32_t>(mb.mquant / 2), 5);
      prevMquant_ = mb.mquant;
    }
    if (type & kMbForward) {
      WriteMotionCode(w, mb.mv[0][0] - pmv[0][0], forwardFCode);
      WriteMotionCode(w, mb.mv[0][1] - pmv[0][1], forwardFCode);
      pmv[0] = mb.mv[0];
    }
    if (type & kMbBackward) {
      WriteMotionCode(w, mb.mv[1][0] - pmv[1][0], backwardFCode);
      WriteMotionCode(w, mb.mv[1][1] - pmv[1][1], backwardFCode);
      pmv[1] = mb.mv[1];
    }
    if (type & kMbPattern) Put(w, vt::kCodedBlockPattern[static_cast<std::size_t>(cbp)]);
    for (int n = 0; n < 6; ++n) {
      if (!(cbp & (32 >> n))) continue;
      const std::int16_t* levels = b[static_cast<std::size_t>(n)].data();
      const std::uint64_t nonZero = mb.nonZero[static_cast<std::size_t>(n)];
      if (type & kMbIntra)
        WriteIntraBlockMasked(w, levels, nonZero, n >= 4,
                              dc[static_cast<std::size_t>(n < 4 ? 0 : n - 3)]);
      else
        WriteRunLevels(w, levels, InScanOrder(nonZero), 0, true);
    }
    if (!(type & kMbIntra)) dc = {};
    if ((type & kMbIntra) || (pictureType == kPictureP && !(type & kMbForward))) pmv = {};
    mb.mbType = type;
  }
}

void CodePicture(BitWriter& w, RateControl& rc, const PictureGeometry& g, int pictureType,
                 int temporalReference, std::vector<MacroblockInfo>& mbs,
                 std::vector<MacroblockBlocks>& blocks) {
  PictureCoder coder(w, rc, g, pictureType, KernelsForCpu());
  coder.Start(temporalReference);
  for (int j = 0; j < g.mbHeight; ++j) coder.CodeRow(j, mbs, blocks);
  coder.Finish();
}

}  // namespace calvex::video
