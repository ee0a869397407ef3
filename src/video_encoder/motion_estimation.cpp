#include "video_encoder/motion_estimation.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace calvex::video {
namespace {

constexpr int kIntraThreshold = 9 * 256;

const std::uint8_t* At(const Plane& p, int x, int y) {
  return p.pixels.data() + static_cast<std::ptrdiff_t>(y) * p.width + x;
}

// Reference block at half-pel position (x, y).
const std::uint8_t* HalfPelAt(const Plane& p, int x, int y) {
  return At(p, x >> 1, y >> 1);
}

// Sum-of-squares variance of a 16 x 16 block: sum p^2 - (sum p)^2 / 256.
int Variance16(const Kernels& k, const std::uint8_t* p, int stride) {
  int s = 0, s2 = 0;
  k.blockSums(p, stride, 16, &s, &s2);
  return static_cast<int>(s2 - static_cast<std::int64_t>(s) * s / 256);
}

// 1 + the smallest variance of the four 8 x 8 luminance blocks.
double Activity(const Kernels& k, const std::uint8_t* p, int stride) {
  double smallest = 0;
  for (int b = 0; b < 4; ++b) {
    int s = 0, s2 = 0;
    k.blockSums(p + 8 * (b & 1) + 8 * (b >> 1) * stride, stride, 8, &s, &s2);
    const double v = s2 / 64.0 - (s / 64.0) * (s / 64.0);
    if (b == 0 || v < smallest) smallest = v;
  }
  return 1.0 + smallest;
}

int SseAt(const Kernels& k, const std::uint8_t* cur, const Plane& ref, int x, int y) {
  return k.sseHalfPel(cur, HalfPelAt(ref, x, y), ref.width, x & 1, y & 1);
}

}  // namespace

std::vector<int> StripSums(const Plane& p) {
  const int w = p.width - 15, h = p.height - (kStripHeight - 1);
  std::vector<int> sums(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
  std::vector<int> column(static_cast<std::size_t>(p.width), 0);  // kStripHeight rows from y down
  for (int y = 0; y < kStripHeight; ++y)
    for (int x = 0; x < p.width; ++x) column[static_cast<std::size_t>(x)] += p.Row(y)[x];
  for (int y = 0; y < h; ++y) {
    int s = 0;
    for (int x = 0; x < 16; ++x) s += column[static_cast<std::size_t>(x)];
    int* out = sums.data() + static_cast<std::size_t>(y) * w;
    for (int x = 0; x < w; ++x) {
      out[x] = s;
      if (x + 16 < p.width)
        s += column[static_cast<std::size_t>(x + 16)] - column[static_cast<std::size_t>(x)];
    }
    if (y + kStripHeight < p.height) {
      const std::uint8_t* add = p.Row(y + kStripHeight);
      const std::uint8_t* drop = p.Row(y);
      for (int x = 0; x < p.width; ++x) column[static_cast<std::size_t>(x)] += add[x] - drop[x];
    }
  }
  return sums;
}

BlockStrips StripsOf(const std::uint8_t* block, int stride) {
  BlockStrips c{};
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      c[static_cast<std::size_t>(y / kStripHeight)] += block[y * stride + x];
  return c;
}

SearchResult SearchMotion(const Kernels& k, const PictureGeometry& g, const std::uint8_t* cur,
                          const Plane& sourceRef, const Plane& reconRef, int i0, int j0, int sx,
                          int sy, const std::vector<int>* stripSums, const BlockStrips* curStrips) {
  const int stride = g.width16;
  const int ilow = std::max(i0 - sx, 0), ihigh = std::min(i0 + sx, g.width16 - 16);
  const int jlow = std::max(j0 - sy, 0), jhigh = std::min(j0 + sy, g.height16 - 16);

  const int* sums = stripSums && curStrips ? stripSums->data() : nullptr;
  const int sumStride = g.width16 - 15;
  const std::ptrdiff_t stripStep = static_cast<std::ptrdiff_t>(kStripHeight) * sumStride;
  int imin = i0, jmin = j0;
  int dmin = k.sadFullPel(cur, At(sourceRef, i0, j0), stride, 65536);
  // One candidate. The SAD is at least the sum over the strips of the differences of their sums;
  // a window where that reaches dmin cannot be strictly better, so its SAD is not needed.
  auto consider = [&](int i, int j) {
    if (sums) {
      const int* at = sums + static_cast<std::ptrdiff_t>(j) * sumStride + i;
      const BlockStrips& c = *curStrips;
      const int bound = std::abs(c[0] - at[0]) + std::abs(c[1] - at[stripStep]) +
                        std::abs(c[2] - at[2 * stripStep]) + std::abs(c[3] - at[3 * stripStep]);
      if (bound >= dmin) return;
    }
    const int d = k.sadFullPel(cur, At(sourceRef, i, j), stride, dmin);
    if (d < dmin) {
      dmin = d;
      imin = i;
      jmin = j;
    }
  };
  // Rings l = 1, 2, ... around (i0, j0), each walked from its top-left corner: right along the
  // top, down the right side, left along the bottom, up the left side; positions outside the
  // window are passed over. Ties keep the earlier position.
  const int rings = std::max(sx, sy);
  for (int l = 1; l <= rings; ++l) {
    const int top = j0 - l, bottom = j0 + l, left = i0 - l, right = i0 + l;
    if (top >= jlow)
      for (int i = std::max(left, ilow), end = std::min(right - 1, ihigh); i <= end; ++i)
        consider(i, top);
    if (right <= ihigh)
      for (int j = std::max(top, jlow), end = std::min(bottom - 1, jhigh); j <= end; ++j)
        consider(right, j);
    if (bottom <= jhigh)
      for (int i = std::min(right, ihigh), end = std::max(left + 1, ilow); i >= end; --i)
        consider(i, bottom);
    if (left >= ilow)
      for (int j = std::min(bottom, jhigh), end = std::max(top + 1, jlow); j >= end; --j)
        consider(left, j);
  }

  // Half-pel refinement around the best whole-pel position.
  const int xc = 2 * imin, yc = 2 * jmin;
  const int xlow = std::max(xc - 1, 0), xhigh = std::min(xc + 1, 2 * (g.width16 - 16));
  const int ylow = std::max(yc - 1, 0), yhigh = std::min(yc + 1, 2 * (g.height16 - 16));
  SearchResult best{xc, yc, 65536};
  for (int y = ylow; y <= yhigh; ++y)
    for (int x = xlow; x <= xhigh; ++x) {
      const int d = k.sadHalfPel(cur, HalfPelAt(reconRef, x, y), stride, x & 1, y & 1);
      if (d < best.sad) best = {x, y, d};
    }
  return best;
}

void EstimateMacroblock(const MotionInputs& in, int mbx, int mby, MacroblockInfo& mb) {
  const Kernels& k = *in.kernels;
  const PictureGeometry& g = in.geometry;
  const int i0 = 16 * mbx, j0 = 16 * mby;
  const std::uint8_t* cur = At(in.current->y, i0, j0);
  const int stride = g.width16;

  mb = MacroblockInfo{};
  mb.act = Activity(k, cur, stride);
  const int var = Variance16(k, cur, stride);
  const BlockStrips strips = in.pictureType == kPictureI ? BlockStrips{} : StripsOf(cur, stride);

  if (in.pictureType == kPictureI) {
    mb.mbType = kMbIntra;
    mb.var = var;
    return;
  }

  if (in.pictureType == kPictureP) {
    const SearchResult f = SearchMotion(k, g, cur, in.oldSource->y, in.oldRecon->y, i0, j0,
                                        in.forwardRange, in.forwardRange, in.oldSums, &strips);
    const int vmc = SseAt(k, cur, in.oldRecon->y, f.x, f.y);
    if (vmc > var && vmc >= kIntraThreshold) {
      mb.mbType = kMbIntra;
      mb.var = var;
      return;
    }
    const int vzero = SseAt(k, cur, in.oldRecon->y, 2 * i0, 2 * j0);
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
  const SearchResult f = SearchMotion(k, g, cur, in.oldSource->y, in.oldRecon->y, i0, j0,
                                      in.forwardRange, in.forwardRange, in.oldSums, &strips);
  const SearchResult b = SearchMotion(k, g, cur, in.newSource->y, in.newRecon->y, i0, j0,
                                      in.backwardRange, in.backwardRange, in.newSums, &strips);
  const int vmcf = SseAt(k, cur, in.oldRecon->y, f.x, f.y);
  const int vmcr = SseAt(k, cur, in.newRecon->y, b.x, b.y);
  const int vmci =
      k.sseBidirectional(cur, HalfPelAt(in.oldRecon->y, f.x, f.y), f.x & 1, f.y & 1,
                         HalfPelAt(in.newRecon->y, b.x, b.y), b.x & 1, b.y & 1, stride);
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

// Prediction of one component from `ref` with a vector in half-pels of that component.
void PredictComponent(const Kernels& k, const Plane& ref, Plane& dst, int x0, int y0, int size,
                      int vx, int vy, bool average) {
  const int x = 2 * x0 + vx, y = 2 * y0 + vy;
  std::uint8_t* out = dst.Row(y0) + x0;
  if (!average) {
    k.predict(out, dst.width, HalfPelAt(ref, x, y), ref.width, size, x & 1, y & 1);
    return;
  }
  alignas(16) std::uint8_t tmp[16 * 16];
  k.predict(tmp, size, HalfPelAt(ref, x, y), ref.width, size, x & 1, y & 1);
  for (int j = 0; j < size; ++j)
    for (int i = 0; i < size; ++i) {
      std::uint8_t& o = out[j * dst.width + i];
      o = static_cast<std::uint8_t>((o + tmp[j * size + i] + 1) >> 1);
    }
}

void PredictFrom(const Kernels& k, const PictureBuffer& ref, PictureBuffer& dst, int mbx, int mby,
                 int vx, int vy, bool average) {
  PredictComponent(k, ref.y, dst.y, 16 * mbx, 16 * mby, 16, vx, vy, average);
  const int cvx = ChromaVector(vx), cvy = ChromaVector(vy);
  PredictComponent(k, ref.cb, dst.cb, 8 * mbx, 8 * mby, 8, cvx, cvy, average);
  PredictComponent(k, ref.cr, dst.cr, 8 * mbx, 8 * mby, 8, cvx, cvy, average);
}

}  // namespace

void PredictMacroblock(const MotionInputs& in, int mbx, int mby, const MacroblockInfo& mb,
                       PictureBuffer& prediction) {
  const Kernels& k = *in.kernels;
  if (mb.mbType & kMbIntra) {
    for (int j = 0; j < 16; ++j) std::fill_n(prediction.y.Row(16 * mby + j) + 16 * mbx, 16, 128);
    for (int j = 0; j < 8; ++j) {
      std::fill_n(prediction.cb.Row(8 * mby + j) + 8 * mbx, 8, 128);
      std::fill_n(prediction.cr.Row(8 * mby + j) + 8 * mbx, 8, 128);
    }
    return;
  }
  const bool forward = in.pictureType == kPictureP || (mb.mbType & kMbForward);
  if (forward) PredictFrom(k, *in.oldRecon, prediction, mbx, mby, mb.mv[0][0], mb.mv[0][1], false);
  if (mb.mbType & kMbBackward)
    PredictFrom(k, *in.newRecon, prediction, mbx, mby, mb.mv[1][0], mb.mv[1][1], forward);
}

}  // namespace calvex::video
