#include "video_encoder/high_analysis.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace calvex::video {
namespace {

// Vectors stay within this many whole pels each way (f_code 4 holds +-64 pels less a half).
constexpr int kMaxVector = 60;
// The whole-pel refinement around the best prediction.
constexpr int kRefineRange = 2;

const std::uint8_t* At(const Plane& p, int x, int y) {
  return p.pixels.data() + static_cast<std::ptrdiff_t>(y) * p.width + x;
}

// SAD of the plane's inner part (a margin of `margin` samples) against the reference displaced
// by (dx, dy), |dx|, |dy| <= margin; once it reaches `limit`, a partial sum that is no smaller.
long DisplacedSad(const Plane& cur, const Plane& ref, int margin, int dx, int dy,
                  long limit = std::numeric_limits<long>::max()) {
  long sad = 0;
  const int width = cur.width - 2 * margin;
  for (int y = margin; y < cur.height - margin && sad < limit; ++y) {
    const std::uint8_t* c = At(cur, margin, y);
    const std::uint8_t* r = At(ref, margin + dx, y + dy);
    int x = 0;
    // In runs of 16 and 8, which the compiler makes vector code of.
    for (; x + 16 <= width; x += 16) {
      int run = 0;
      for (int i = 0; i < 16; ++i) run += std::abs(c[x + i] - r[x + i]);
      sad += run;
    }
    for (; x + 8 <= width; x += 8) {
      int run = 0;
      for (int i = 0; i < 8; ++i) run += std::abs(c[x + i] - r[x + i]);
      sad += run;
    }
    for (; x < width; ++x) sad += std::abs(c[x] - r[x]);
  }
  return sad;
}

// The best displacement within `range` of (cx, cy); ties keep the one met first, the centre
// first of all.
std::array<int, 2> BestDisplacement(const Plane& cur, const Plane& ref, int margin, int cx, int cy,
                                    int range) {
  std::array<int, 2> best{cx, cy};
  long bestSad = DisplacedSad(cur, ref, margin, cx, cy);
  for (int dy = cy - range; dy <= cy + range; ++dy)
    for (int dx = cx - range; dx <= cx + range; ++dx) {
      if (std::abs(dx) > margin || std::abs(dy) > margin) continue;
      // Only a smaller SAD wins: the sum stops once it cannot.
      const long sad = DisplacedSad(cur, ref, margin, dx, dy, bestSad);
      if (sad < bestSad) {
        bestSad = sad;
        best = {dx, dy};
      }
    }
  return best;
}

int Clamp(int v, int low, int high) {
  return std::max(low, std::min(v, high));
}

// Finds the vector (half-pels, relative to the macroblock) of macroblock (i0, j0) in one
// direction.
std::array<int, 2> Search(const MotionInputs& in, const std::uint8_t* cur, const Plane& sourceRef,
                          const ReferencePicture& reference, int i0, int j0,
                          const std::array<std::array<int, 2>, 6>& predictions, int count) {
  const Kernels& k = *in.kernels;
  const PictureGeometry& g = in.geometry;
  // Whole-pel starting points, inside the picture and the vector range.
  std::array<std::array<int, 2>, 6> starts{};
  const std::uint8_t* blocks[kMaxSadBlocks];
  int n = 0;
  for (int p = 0; p < count; ++p) {
    const int x = Clamp(i0 + predictions[p][0], std::max(0, i0 - kMaxVector + kRefineRange),
                        std::min(g.width16 - 16, i0 + kMaxVector - kRefineRange));
    const int y = Clamp(j0 + predictions[p][1], std::max(0, j0 - kMaxVector + kRefineRange),
                        std::min(g.height16 - 16, j0 + kMaxVector - kRefineRange));
    bool seen = false;
    for (int q = 0; q < n; ++q) seen |= starts[q][0] == x && starts[q][1] == y;
    if (seen) continue;
    starts[n] = {x, y};
    blocks[n++] = At(sourceRef, x, y);
  }
  int sads[kMaxSadBlocks];
  k.sad16Blocks(cur, blocks, n, g.width16, sads);
  int best = 0;
  for (int p = 1; p < n; ++p)
    if (sads[p] < sads[best]) best = p;
  const SearchResult r = SearchMotion(k, g, cur, sourceRef, reference, starts[best][0],
                                      starts[best][1], kRefineRange, kRefineRange);
  return {r.x - 2 * i0, r.y - 2 * j0};
}

// The candidate's prediction and the DCT of the source minus it.
void Build(const MotionInputs& in, int mbx, int mby, PictureBuffer& scratch,
           MacroblockCandidate& c) {
  const Kernels& k = *in.kernels;
  MacroblockInfo mb;
  mb.mbType = c.mbType;
  mb.mv = c.mv;
  PredictMacroblock(in, mbx, mby, mb, scratch);
  for (int b = 0; b < 6; ++b) {
    const int comp = b < 4 ? 0 : b - 3;
    const int size = comp == 0 ? 16 : 8;
    const int x0 = size * mbx + (comp == 0 ? 8 * (b & 1) : 0);
    const int y0 = size * mby + (comp == 0 ? 8 * (b >> 1) : 0);
    const Plane& s = in.current->Component(comp);
    const Plane& pr = scratch.Component(comp);
    std::int16_t* block = c.blocks[static_cast<std::size_t>(b)].data();
    k.subtractBlock(s.Row(y0) + x0, pr.Row(y0) + x0, s.width, block);
    k.forwardDctFloat(block);
  }
  std::uint8_t* out = c.prediction.data();
  for (int y = 0; y < 16; ++y, out += 16)
    std::memcpy(out, scratch.y.Row(16 * mby + y) + 16 * mbx, 16);
  for (const Plane* p : {&scratch.cb, &scratch.cr})
    for (int y = 0; y < 8; ++y, out += 8) std::memcpy(out, p->Row(8 * mby + y) + 8 * mbx, 8);
}

}  // namespace

void ReducedPicture::Build(const Plane& luma) {
  // The sums of the 4 x 4 blocks, whose rounded averages are the quarter picture; four of them
  // make the sum of an 8 x 8 block.
  quarter.Allocate(luma.width / 4, luma.height / 4);
  eighth.Allocate(luma.width / 8, luma.height / 8);
  const int w = quarter.width;
  std::vector<int> sums(static_cast<std::size_t>(w) * quarter.height);
  for (int y = 0; y < quarter.height; ++y) {
    int* row = sums.data() + static_cast<std::ptrdiff_t>(y) * w;
    for (int j = 0; j < 4; ++j) {
      const std::uint8_t* p = luma.Row(4 * y + j);
      for (int x = 0; x < w; ++x) row[x] += p[4 * x] + p[4 * x + 1] + p[4 * x + 2] + p[4 * x + 3];
    }
    for (int x = 0; x < w; ++x) quarter.Row(y)[x] = static_cast<std::uint8_t>((row[x] + 8) >> 4);
  }
  for (int y = 0; y < eighth.height; ++y) {
    const int* top = sums.data() + static_cast<std::ptrdiff_t>(2 * y) * w;
    const int* bottom = top + w;
    for (int x = 0; x < eighth.width; ++x)
      eighth.Row(y)[x] = static_cast<std::uint8_t>(
          (top[2 * x] + top[2 * x + 1] + bottom[2 * x] + bottom[2 * x + 1] + 32) >> 6);
  }
}

std::array<int, 2> GlobalMotion(const ReducedPicture& current, const ReducedPicture& reference) {
  // Too small a picture for a margin: no global motion.
  if (current.eighth.width < 24 || current.eighth.height < 20) return {0, 0};
  const auto coarse = BestDisplacement(current.eighth, reference.eighth, 7, 0, 0, 7);
  const auto fine =
      BestDisplacement(current.quarter, reference.quarter, 16, 2 * coarse[0], 2 * coarse[1], 2);
  return {Clamp(4 * fine[0], -kMaxVector, kMaxVector), Clamp(4 * fine[1], -kMaxVector, kMaxVector)};
}

void AnalyseMacroblockHigh(const MotionInputs& in, const HighInputs& high, int mbx, int mby,
                           MacroblockInfo& mb, MacroblockCandidates& out) {
  const Kernels& k = *in.kernels;
  const PictureGeometry& g = in.geometry;
  const int i0 = 16 * mbx, j0 = 16 * mby;
  const std::uint8_t* cur = At(in.current->y, i0, j0);
  mb = MacroblockInfo{};
  int var;
  VarianceAndActivity(k, cur, g.width16, var, mb.act);
  mb.var = var;
  out.count = 0;
  PictureBuffer& scratch = *high.scratch;
  auto add = [&](int type, std::array<int, 2> forward, std::array<int, 2> backward) {
    MacroblockCandidate& c = out.c[static_cast<std::size_t>(out.count++)];
    c.mbType = type;
    c.mv = {forward, backward};
    Build(in, mbx, mby, scratch, c);
  };
  if (in.pictureType != kPictureI) {
    auto& field = *high.field;
    const int index = mby * g.mbWidth + mbx;
    std::array<std::array<int, 2>, 2> found{};
    const int directions = in.pictureType == kPictureB ? 2 : 1;
    for (int d = 0; d < directions; ++d) {
      // Predictions in whole pels: zero, the global motion, the neighbours' vectors.
      std::array<std::array<int, 2>, 6> predictions{};
      int count = 0;
      predictions[count++] = {0, 0};
      predictions[count++] = high.global[static_cast<std::size_t>(d)];
      auto neighbour = [&](int x, int y) {
        if (x < 0 || x >= g.mbWidth || y < 0) return;
        const auto& v =
            field[static_cast<std::size_t>(y * g.mbWidth + x)][static_cast<std::size_t>(d)];
        predictions[count++] = {v[0] / 2, v[1] / 2};
      };
      neighbour(mbx - 1, mby);
      neighbour(mbx, mby - 1);
      neighbour(mbx + 1, mby - 1);
      const Plane& source = d == 0 ? in.oldSource->y : in.newSource->y;
      const ReferencePicture& ref = d == 0 ? *in.oldRef : *in.newRef;
      found[static_cast<std::size_t>(d)] = Search(in, cur, source, ref, i0, j0, predictions, count);
    }
    field[static_cast<std::size_t>(index)] = found;
    // Candidates that cannot come near the best are left out: their DCTs are most of the work.
    const int stride = g.width16;
    const std::uint8_t* forward = in.oldRef->LumaAt(2 * i0 + found[0][0], 2 * j0 + found[0][1]);
    const int forwardSse = k.sse16(cur, forward, stride);
    int bestSse = forwardSse;
    if (in.pictureType == kPictureP) {
      const int zeroSse = k.sse16(cur, in.oldRef->LumaAt(2 * i0, 2 * j0), stride);
      const bool moved = found[0] != std::array<int, 2>{0, 0};
      if (!moved || zeroSse <= 2 * forwardSse + 4096) add(0, {0, 0}, {0, 0});
      if (moved) add(kMbForward, found[0], {0, 0});
      bestSse = std::min(bestSse, zeroSse);
    } else {
      const std::uint8_t* backward = in.newRef->LumaAt(2 * i0 + found[1][0], 2 * j0 + found[1][1]);
      const std::array<int, 3> sse = {forwardSse, k.sse16(cur, backward, stride),
                                      k.sseAverage16(cur, forward, backward, stride)};
      const std::array<int, 3> types = {kMbForward, kMbBackward, kMbForward | kMbBackward};
      // The best of forward, backward and both, and the second where it comes within an eighth
      // (and a little) of the best.
      const auto best =
          static_cast<std::size_t>(std::min_element(sse.begin(), sse.end()) - sse.begin());
      const auto worst =
          static_cast<std::size_t>(std::max_element(sse.begin(), sse.end()) - sse.begin());
      bestSse = sse[best];
      for (std::size_t t = 0; t < 3; ++t)
        if (t == best || (t != worst && 8 * static_cast<std::int64_t>(sse[t]) <=
                                            9 * static_cast<std::int64_t>(bestSse) + 2048))
          add(types[t], found[0], found[1]);
    }
    // Intra is worth a look only where prediction leaves much of the block's own variance.
    if (2 * static_cast<std::int64_t>(bestSse) < var) return;
  }
  add(kMbIntra, {0, 0}, {0, 0});
}

void StorePrediction(const MacroblockCandidate& c, int mbx, int mby, PictureBuffer& prediction) {
  const std::uint8_t* in = c.prediction.data();
  for (int y = 0; y < 16; ++y, in += 16)
    std::memcpy(prediction.y.Row(16 * mby + y) + 16 * mbx, in, 16);
  for (Plane* p : {&prediction.cb, &prediction.cr})
    for (int y = 0; y < 8; ++y, in += 8) std::memcpy(p->Row(8 * mby + y) + 8 * mbx, in, 8);
}

int FCodeFor(const std::vector<MacroblockCandidates>& mbs, int dir) {
  int reach = 0;  // the largest of v and -v - 1 over the components
  for (const MacroblockCandidates& m : mbs)
    for (int i = 0; i < m.count; ++i) {
      const MacroblockCandidate& c = m.c[static_cast<std::size_t>(i)];
      const int flag = dir == 0 ? kMbForward : kMbBackward;
      if (!(c.mbType & flag)) continue;
      for (const int v : c.mv[static_cast<std::size_t>(dir)]) reach = std::max({reach, v, -v - 1});
    }
  int fCode = 1;
  while (fCode < 7 && reach > 16 * (1 << (fCode - 1)) - 1) ++fCode;
  return fCode;
}

}  // namespace calvex::video
