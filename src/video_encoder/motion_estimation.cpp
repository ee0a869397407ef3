#include "video_encoder/motion_estimation.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace calvex::video {
namespace {

constexpr int kIntraThreshold = 9 * 256;

const std::uint8_t* At(const Plane& p, int x, int y) {
  return p.pixels.data() + static_cast<std::ptrdiff_t>(y) * p.width + x;
}

// Step of the spiral order at offset (dx, dy) from its centre.
int SpiralRank(int dx, int dy) {
  const int l = std::max(std::abs(dx), std::abs(dy));
  if (l == 0) return 0;
  const int first = (2 * l - 1) * (2 * l - 1);  // positions of the rings inside ring l
  if (dy == -l && dx < l) return first + dx + l;
  if (dx == l && dy < l) return first + 2 * l + dy + l;
  if (dy == l && dx > -l) return first + 4 * l + l - dx;
  return first + 6 * l + l - dy;
}

// Spiral ranks of the offsets -kMaxSearchRange .. kRankStride - 1 - kMaxSearchRange each way,
// laid out as the search kernel reads them.
struct SpiralRankTable {
  std::uint16_t rank[kRankStride * kRankStride];
  SpiralRankTable() {
    for (int y = 0; y < kRankStride; ++y)
      for (int x = 0; x < kRankStride; ++x)
        rank[y * kRankStride + x] =
            static_cast<std::uint16_t>(SpiralRank(x - kMaxSearchRange, y - kMaxSearchRange));
  }
};

const std::uint16_t* SpiralRanks() {
  static const SpiralRankTable table;
  return table.rank;
}

}  // namespace

void VarianceAndActivity(const Kernels& k, const std::uint8_t* p, int stride, int& var,
                         double& act) {
  int sums[4], squares[4];
  k.blockSums(p, stride, sums, squares);
  double smallest = 0;
  for (int b = 0; b < 4; ++b) {
    const double v = squares[b] / 64.0 - (sums[b] / 64.0) * (sums[b] / 64.0);
    if (b == 0 || v < smallest) smallest = v;
  }
  act = 1.0 + smallest;
  const int s = sums[0] + sums[1] + sums[2] + sums[3];
  const int s2 = squares[0] + squares[1] + squares[2] + squares[3];
  var = static_cast<int>(s2 - static_cast<std::int64_t>(s) * s / 256);
}

void ReferencePicture::Allocate(const PictureGeometry& g) {
  recon.Allocate(g);
  h.Allocate(g.width16, g.height16);
  v.Allocate(g.width16, g.height16);
  hv.Allocate(g.width16, g.height16);
}

void ReferencePicture::BuildHalfPel(const Kernels& k, int y0, int y1) {
  const Plane& p = recon.y;
  for (int y = y0; y < y1; ++y)
    k.halfPelRow(p.Row(y), y + 1 < p.height ? p.Row(y + 1) : nullptr, p.width, h.Row(y), v.Row(y),
                 hv.Row(y));
}

void SpiralOffset(int rank, int& dx, int& dy) {
  dx = dy = 0;
  if (rank == 0) return;
  int l = 1;
  while ((2 * l + 1) * (2 * l + 1) <= rank) ++l;
  const int step = rank - (2 * l - 1) * (2 * l - 1);
  const int side = step / (2 * l), t = step % (2 * l);
  switch (side) {
    case 0:
      dx = -l + t, dy = -l;
      break;
    case 1:
      dx = l, dy = -l + t;
      break;
    case 2:
      dx = l - t, dy = l;
      break;
    default:
      dx = -l, dy = l - t;
      break;
  }
}

SearchResult SearchMotion(const Kernels& k, const PictureGeometry& g, const std::uint8_t* cur,
                          const Plane& sourceRef, const ReferencePicture& reference, int i0, int j0,
                          int sx, int sy) {
  const int stride = g.width16;
  const int ilow = std::max(i0 - sx, 0), ihigh = std::min(i0 + sx, g.width16 - 16);
  const int jlow = std::max(j0 - sy, 0), jhigh = std::min(j0 + sy, g.height16 - 16);
  const int cols = ihigh - ilow + 1, rows = jhigh - jlow + 1;

  // Every position of the window, ranked by the spiral order; the kernel picks the smallest SAD
  // and, among equal ones, the earliest step, which is what the spiral walk with "take it when
  // strictly smaller" finds.
  const std::uint16_t* rank =
      SpiralRanks() + (jlow - j0 + kMaxSearchRange) * kRankStride + (ilow - i0 + kMaxSearchRange);
  const std::uint8_t* window = At(sourceRef, ilow, jlow);
  int windowStride = stride;
  // The kernel reads a little past the window's right edge; in the plane's last row that would
  // be past its end, so such windows are searched in a copy.
  constexpr int kCopyStride = 64;
  static_assert(SearchReadWidth(kMaxSearchWindow) <= kCopyStride);
  alignas(32) std::uint8_t copy[(kMaxSearchWindow + 15) * kCopyStride];
  const std::ptrdiff_t lastRead =
      static_cast<std::ptrdiff_t>(jlow + rows + 14) * stride + ilow + SearchReadWidth(cols);
  if (lastRead > static_cast<std::ptrdiff_t>(sourceRef.pixels.size())) {
    std::memset(copy, 0, sizeof copy);
    const int width = std::min(SearchReadWidth(cols), stride - ilow);
    for (int y = 0; y < rows + 15; ++y)
      std::memcpy(copy + y * kCopyStride, window + static_cast<std::ptrdiff_t>(y) * stride,
                  static_cast<std::size_t>(width));
    window = copy;
    windowStride = kCopyStride;
  }
  // The half-pel search below reads the reference's four phases around the best position, most
  // often near the zero vector: their lines are fetched while the window is searched (one line a
  // row, the one reaching furthest right: the macroblock before has brought in those to its left).
  for (const Plane* plane : {&reference.recon.y, &reference.h, &reference.v, &reference.hv}) {
    const std::uint8_t* p = plane->pixels.data() + std::min(i0 + 16, plane->width - 1);
    for (int y = std::max(j0 - 1, 0); y < std::min(j0 + 17, plane->height); ++y)
      __builtin_prefetch(p + static_cast<std::ptrdiff_t>(y) * plane->width);
  }
  const std::uint32_t best = k.searchWindow(cur, stride, window, windowStride, cols, rows, rank);
  int dx, dy;
  SpiralOffset(static_cast<int>(best & 0xFFFF), dx, dy);
  const int imin = i0 + dx, jmin = j0 + dy;

  // Half-pel refinement around the best whole-pel position, rows outer, ties to the first.
  const int xc = 2 * imin, yc = 2 * jmin;
  const int xlow = std::max(xc - 1, 0), xhigh = std::min(xc + 1, 2 * (g.width16 - 16));
  const int ylow = std::max(yc - 1, 0), yhigh = std::min(yc + 1, 2 * (g.height16 - 16));
  const std::uint8_t* blocks[kMaxSadBlocks];
  int count = 0;
  for (int y = ylow; y <= yhigh; ++y)
    for (int x = xlow; x <= xhigh; ++x) blocks[count++] = reference.LumaAt(x, y);
  int sads[kMaxSadBlocks];
  k.sad16Blocks(cur, blocks, count, stride, sads);
  SearchResult result{xc, yc, 65536};
  count = 0;
  for (int y = ylow; y <= yhigh; ++y)
    for (int x = xlow; x <= xhigh; ++x, ++count)
      if (sads[count] < result.sad) result = {x, y, sads[count]};
  return result;
}

void EstimateMacroblock(const MotionInputs& in, int mbx, int mby, MacroblockInfo& mb) {
  const Kernels& k = *in.kernels;
  const PictureGeometry& g = in.geometry;
  const int i0 = 16 * mbx, j0 = 16 * mby;
  const std::uint8_t* cur = At(in.current->y, i0, j0);
  const int stride = g.width16;

  mb = MacroblockInfo{};
  int var;
  VarianceAndActivity(k, cur, stride, var, mb.act);

  if (in.pictureType == kPictureI) {
    mb.mbType = kMbIntra;
    mb.var = var;
    return;
  }

  const ReferencePicture& past = *in.oldRef;
  if (in.pictureType == kPictureP) {
    const SearchResult f =
        SearchMotion(k, g, cur, in.oldSource->y, past, i0, j0, in.forwardRange, in.forwardRange);
    const int vmc = k.sse16(cur, past.LumaAt(f.x, f.y), stride);
    if (vmc > var && vmc >= kIntraThreshold) {
      mb.mbType = kMbIntra;
      mb.var = var;
      return;
    }
    const int vzero = k.sse16(cur, past.LumaAt(2 * i0, 2 * j0), stride);
    if (4 * static_cast<std::int64_t>(vzero) > 5 * static_cast<std::int64_t>(vmc) &&
        vzero >= kIntraThreshold) {
      mb.mbType = kMbForward;
      mb.mv[0] = {f.x - 2 * i0, f.y - 2 * j0};
      mb.var = vmc;
    } else {
      mb.mbType = 0;  // no motion compensation: predicted with the zero vector
      mb.var = vzero;
    }
    return;
  }

  // B picture.
  const ReferencePicture& future = *in.newRef;
  const SearchResult f =
      SearchMotion(k, g, cur, in.oldSource->y, past, i0, j0, in.forwardRange, in.forwardRange);
  const SearchResult b =
      SearchMotion(k, g, cur, in.newSource->y, future, i0, j0, in.backwardRange, in.backwardRange);
  const std::uint8_t* forward = past.LumaAt(f.x, f.y);
  const std::uint8_t* backward = future.LumaAt(b.x, b.y);
  const int vmcf = k.sse16(cur, forward, stride);
  const int vmcr = k.sse16(cur, backward, stride);
  const int vmci = k.sseAverage16(cur, forward, backward, stride);
  int vmc;
  if (vmcf <= vmcr && vmcf <= vmci) {
    vmc = vmcf;
    mb.mbType = kMbForward;
  } else if (vmcr <= vmci) {
    vmc = vmcr;
    mb.mbType = kMbBackward;
  } else {
    vmc = vmci;
    mb.mbType = kMbForward | kMbBackward;
  }
  if (vmc > var && vmc >= kIntraThreshold) {
    mb.mbType = kMbIntra;
    mb.var = var;
    return;
  }
  mb.mv[0] = {f.x - 2 * i0, f.y - 2 * j0};
  mb.mv[1] = {b.x - 2 * i0, b.y - 2 * j0};
  mb.var = vmc;
}

namespace {

// Prediction of one chrominance component from `ref` with a vector in half-pels of that
// component; averaged with what `dst` holds when `average`.
void PredictChroma(const Kernels& k, const Plane& ref, Plane& dst, int x0, int y0, int vx, int vy,
                   bool average) {
  const int x = 2 * x0 + vx, y = 2 * y0 + vy;
  const std::uint8_t* src = At(ref, x >> 1, y >> 1);
  std::uint8_t* out = dst.Row(y0) + x0;
  if (!average) {
    k.predict(out, dst.width, src, ref.width, 8, x & 1, y & 1);
    return;
  }
  alignas(16) std::uint8_t tmp[8 * 8];
  k.predict(tmp, 8, src, ref.width, 8, x & 1, y & 1);
  k.average(out, dst.width, tmp, 8, 8);
}

void PredictFrom(const Kernels& k, const ReferencePicture& ref, PictureBuffer& dst, int mbx,
                 int mby, int vx, int vy, bool average) {
  const std::uint8_t* luma = ref.LumaAt(32 * mbx + vx, 32 * mby + vy);
  std::uint8_t* out = dst.y.Row(16 * mby) + 16 * mbx;
  if (average)
    k.average(out, dst.y.width, luma, ref.recon.y.width, 16);
  else
    k.predict(out, dst.y.width, luma, ref.recon.y.width, 16, 0, 0);
  const int cvx = ChromaVector(vx), cvy = ChromaVector(vy);
  PredictChroma(k, ref.recon.cb, dst.cb, 8 * mbx, 8 * mby, cvx, cvy, average);
  PredictChroma(k, ref.recon.cr, dst.cr, 8 * mbx, 8 * mby, cvx, cvy, average);
}

}  // namespace

void PredictMacroblock(const MotionInputs& in, int mbx, int mby, const MacroblockInfo& mb,
                       PictureBuffer& prediction) {
  const Kernels& k = *in.kernels;
  if (mb.mbType & kMbIntra) {
    for (int j = 0; j < 16; ++j) std::memset(prediction.y.Row(16 * mby + j) + 16 * mbx, 128, 16);
    for (int j = 0; j < 8; ++j) {
      std::memset(prediction.cb.Row(8 * mby + j) + 8 * mbx, 128, 8);
      std::memset(prediction.cr.Row(8 * mby + j) + 8 * mbx, 128, 8);
    }
    return;
  }
  const bool forward = in.pictureType == kPictureP || (mb.mbType & kMbForward);
  if (forward) PredictFrom(k, *in.oldRef, prediction, mbx, mby, mb.mv[0][0], mb.mv[0][1], false);
  if (mb.mbType & kMbBackward)
    PredictFrom(k, *in.newRef, prediction, mbx, mby, mb.mv[1][0], mb.mv[1][1], forward);
}

}  // namespace calvex::video
