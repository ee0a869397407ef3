// Motion search, mode decisions and prediction.
#include "video_encoder/motion_estimation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <utility>

namespace calvex::video {
namespace {

PictureBuffer TexturedPicture(const PictureGeometry& g, unsigned seed, int dx = 0, int dy = 0) {
  PictureBuffer p;
  p.Allocate(g);
  auto texture = [seed](int x, int y) {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 73856093u ^
                      static_cast<std::uint32_t>(y) * 19349663u ^ seed;
    h = h * 2654435761u;
    return static_cast<std::uint8_t>(40 + ((h >> 24) % 160));
  };
  for (int y = 0; y < g.height16; ++y)
    for (int x = 0; x < g.width16; ++x) p.y.Row(y)[x] = texture(x - dx, y - dy);
  for (int y = 0; y < g.chromaHeight(); ++y)
    for (int x = 0; x < g.chromaWidth(); ++x) {
      p.cb.Row(y)[x] = static_cast<std::uint8_t>(100 + (x + y) % 50);
      p.cr.Row(y)[x] = static_cast<std::uint8_t>(120 + (x * y) % 40);
    }
  return p;
}

// A reference picture made of `p`, with its half-pel phases.
ReferencePicture AsReference(const PictureGeometry& g, const PictureBuffer& p) {
  ReferencePicture r;
  r.Allocate(g);
  r.recon = p;
  r.BuildHalfPel(KernelsForCpu(), 0, g.height16);
  return r;
}

// The pictures and references of one test and the motion inputs over them.
struct Scene {
  PictureBuffer cur, past, future;
  ReferencePicture pastRef, futureRef;
  MotionInputs in;

  Scene(const PictureGeometry& g, int type, const PictureBuffer& c, const PictureBuffer& p,
        const PictureBuffer* f = nullptr)
      : cur(c), past(p), future(f ? *f : p) {
    pastRef = AsReference(g, past);
    futureRef = AsReference(g, future);
    in.kernels = &KernelsForCpu();
    in.geometry = g;
    in.pictureType = type;
    in.forwardRange = type == kPictureP ? 11 : 3;
    in.backwardRange = 7;
    in.current = &cur;
    in.oldSource = &past;
    in.oldRef = &pastRef;
    in.newSource = &future;
    in.newRef = &futureRef;
  }
};

TEST(MotionEstimation, StaticSceneUsesNoMotionCompensation) {
  const PictureGeometry g = PictureGeometry::For(64, 48);
  const PictureBuffer pic = TexturedPicture(g, 1);
  const Scene scene(g, kPictureP, pic, pic);
  const MotionInputs& in = scene.in;
  for (int mby = 0; mby < g.mbHeight; ++mby)
    for (int mbx = 0; mbx < g.mbWidth; ++mbx) {
      MacroblockInfo mb;
      EstimateMacroblock(in, mbx, mby, mb);
      EXPECT_EQ(mb.mbType, 0);
      EXPECT_EQ(mb.mv[0][0], 0);
      EXPECT_EQ(mb.mv[0][1], 0);
      EXPECT_EQ(mb.var, 0);
    }
}

TEST(MotionEstimation, FindsAShiftedPicture) {
  const PictureGeometry g = PictureGeometry::For(96, 64);
  const PictureBuffer past = TexturedPicture(g, 2);
  const PictureBuffer cur = TexturedPicture(g, 2, 3, -2);  // content moved right 3, up 2
  MacroblockInfo mb;
  EstimateMacroblock(Scene(g, kPictureP, cur, past).in, 2, 1, mb);
  EXPECT_EQ(mb.mbType, kMbForward);
  EXPECT_EQ(mb.mv[0][0], -6);  // half-pels: the block came from 3 pels left, 2 below
  EXPECT_EQ(mb.mv[0][1], 4);
  EXPECT_EQ(mb.var, 0);

  // In a B picture the same past picture is found forward; the future one is far off.
  const PictureBuffer future = TexturedPicture(g, 99);
  EstimateMacroblock(Scene(g, kPictureB, cur, past, &future).in, 2, 1, mb);
  EXPECT_EQ(mb.mbType, kMbForward);
  EXPECT_EQ(mb.mv[0][0], -6);
  EXPECT_EQ(mb.mv[0][1], 4);
}

TEST(MotionEstimation, SmallErrorsAreNeverIntra) {
  const PictureGeometry g = PictureGeometry::For(32, 32);
  PictureBuffer cur, past;
  cur.Allocate(g);
  past.Allocate(g);
  std::fill(cur.y.pixels.begin(), cur.y.pixels.end(), 100);    // variance 0
  std::fill(past.y.pixels.begin(), past.y.pixels.end(), 102);  // SSE 1024 < 2304
  MacroblockInfo mb;
  EstimateMacroblock(Scene(g, kPictureP, cur, past).in, 0, 0, mb);
  EXPECT_FALSE(mb.mbType & kMbIntra);
  EXPECT_EQ(mb.var, 1024);

  std::fill(past.y.pixels.begin(), past.y.pixels.end(), 104);  // SSE 4096 > variance 0
  EstimateMacroblock(Scene(g, kPictureP, cur, past).in, 0, 0, mb);
  EXPECT_EQ(mb.mbType, kMbIntra);
}

// The search as ISO/IEC 11172-2 encoders describe it: the spiral walk with early-terminating
// SADs, then the half-pel refinement, all with the plain half-pel rule.
int HalfPelSample(const Plane& p, int x, int y) {
  const std::uint8_t* a = p.Row(y >> 1) + (x >> 1);
  const std::uint8_t* b = a + p.width;
  const int hx = x & 1, hy = y & 1;
  if (!hx && !hy) return a[0];
  if (hx && !hy) return (a[0] + a[1] + 1) >> 1;
  if (!hx) return (a[0] + b[0] + 1) >> 1;
  return (a[0] + a[1] + b[0] + b[1] + 2) >> 2;
}

SearchResult SpiralSearch(const PictureGeometry& g, const Plane& cur, const Plane& source,
                          const Plane& recon, int i0, int j0, int s) {
  auto sad = [&](int x, int y, int limit) {  // half-pel position
    int d = 0;
    for (int j = 0; j < 16 && d < limit; ++j)
      for (int i = 0; i < 16; ++i)
        d += std::abs(cur.Row(j0 + j)[i0 + i] - HalfPelSample(source, x + 2 * i, y + 2 * j));
    return d;
  };
  const int ilow = std::max(i0 - s, 0), ihigh = std::min(i0 + s, g.width16 - 16);
  const int jlow = std::max(j0 - s, 0), jhigh = std::min(j0 + s, g.height16 - 16);
  int imin = i0, jmin = j0, dmin = sad(2 * i0, 2 * j0, 65536);
  auto consider = [&](int i, int j) {
    if (i < ilow || i > ihigh || j < jlow || j > jhigh) return;
    const int d = sad(2 * i, 2 * j, dmin);
    if (d < dmin) dmin = d, imin = i, jmin = j;
  };
  for (int l = 1; l <= s; ++l) {
    int i = i0 - l, j = j0 - l;
    for (int n = 0; n < 2 * l; ++n) consider(i++, j);
    for (int n = 0; n < 2 * l; ++n) consider(i, j++);
    for (int n = 0; n < 2 * l; ++n) consider(i--, j);
    for (int n = 0; n < 2 * l; ++n) consider(i, j--);
  }
  SearchResult best{2 * imin, 2 * jmin, 65536};
  for (int y = std::max(2 * jmin - 1, 0); y <= std::min(2 * jmin + 1, 2 * (g.height16 - 16)); ++y)
    for (int x = std::max(2 * imin - 1, 0); x <= std::min(2 * imin + 1, 2 * (g.width16 - 16));
         ++x) {
      int d = 0;
      for (int j = 0; j < 16; ++j)
        for (int i = 0; i < 16; ++i)
          d += std::abs(cur.Row(j0 + j)[i0 + i] - HalfPelSample(recon, x + 2 * i, y + 2 * j));
      if (d < best.sad) best = {x, y, d};
    }
  return best;
}

// Every macroblock of pictures with motion, near-flat areas (ties) and odd sizes, with every
// range the encoder uses and the largest, against the spiral walk.
TEST(MotionEstimation, SearchMatchesTheSpiralWalk) {
  std::mt19937 rng(9);
  for (const auto& [w, h] : {std::pair{200, 136}, {96, 64}, {48, 32}, {16, 16}}) {
    const PictureGeometry g = PictureGeometry::For(w, h);
    for (int variant = 0; variant < (w > 100 ? 1 : 4); ++variant) {
      const unsigned seed = static_cast<unsigned>(rng());
      PictureBuffer source = TexturedPicture(g, seed);
      PictureBuffer cur = TexturedPicture(g, seed, static_cast<int>(rng() % 9) - 4,
                                          static_cast<int>(rng() % 9) - 4);
      PictureBuffer recon = TexturedPicture(g, seed + 1);
      if (variant == 1) {  // flat areas: many equal SADs
        for (auto* p : {&source.y, &cur.y})
          for (auto& v : p->pixels) v = static_cast<std::uint8_t>(100 + (v & 1) * (rng() % 2));
      } else if (variant == 2) {  // everything equal
        std::fill(source.y.pixels.begin(), source.y.pixels.end(), 50);
        std::fill(cur.y.pixels.begin(), cur.y.pixels.end(), 60);
        std::fill(recon.y.pixels.begin(), recon.y.pixels.end(), 55);
      } else if (variant == 3) {
        recon = source;
      }
      const ReferencePicture reference = AsReference(g, recon);
      for (const Kernels* k : {&Sse2Kernels(), &KernelsForCpu()})
        for (int range : {3, 7, 11, kMaxSearchRange})
          for (int mby = 0; mby < g.mbHeight; ++mby)
            for (int mbx = 0; mbx < g.mbWidth; ++mbx) {
              const SearchResult expected =
                  SpiralSearch(g, cur.y, source.y, recon.y, 16 * mbx, 16 * mby, range);
              const SearchResult got = SearchMotion(*k, g, cur.y.Row(16 * mby) + 16 * mbx, source.y,
                                                    reference, 16 * mbx, 16 * mby, range, range);
              EXPECT_EQ(got.x, expected.x) << k->name << " range " << range;
              EXPECT_EQ(got.y, expected.y) << k->name << " range " << range;
              EXPECT_EQ(got.sad, expected.sad) << k->name << " range " << range;
            }
    }
  }
}

TEST(MotionEstimation, SpiralOrder) {
  // The first ring: from the top-left corner right, down, left and up.
  const int expected[9][2] = {{0, 0}, {-1, -1}, {0, -1}, {1, -1}, {1, 0},
                              {1, 1}, {0, 1},   {-1, 1}, {-1, 0}};
  for (int r = 0; r < 9; ++r) {
    int dx, dy;
    SpiralOffset(r, dx, dy);
    EXPECT_EQ(dx, expected[r][0]) << r;
    EXPECT_EQ(dy, expected[r][1]) << r;
  }
  int dx, dy;
  SpiralOffset(9, dx, dy);  // the second ring starts at its top-left corner
  EXPECT_EQ(dx, -2);
  EXPECT_EQ(dy, -2);
  SpiralOffset(24, dx, dy);  // and ends just below it
  EXPECT_EQ(dx, -2);
  EXPECT_EQ(dy, -1);
}

TEST(MotionEstimation, SearchStaysInsideThePicture) {
  const PictureGeometry g = PictureGeometry::For(80, 48);
  // The content moved far toward the top-left: the best matches lie outside the picture.
  const PictureBuffer ref = TexturedPicture(g, 3), cur = TexturedPicture(g, 3, -9, -9);
  const ReferencePicture reference = AsReference(g, ref);
  for (int mby = 0; mby < g.mbHeight; ++mby)
    for (int mbx = 0; mbx < g.mbWidth; ++mbx) {
      const SearchResult r = SearchMotion(KernelsForCpu(), g, cur.y.Row(16 * mby) + 16 * mbx, ref.y,
                                          reference, 16 * mbx, 16 * mby, 11, 11);
      EXPECT_GE(r.x, 0);
      EXPECT_GE(r.y, 0);
      EXPECT_LE(r.x, 2 * (g.width16 - 16));
      EXPECT_LE(r.y, 2 * (g.height16 - 16));
      EXPECT_LE(std::abs(r.x - 32 * mbx), 23);
      EXPECT_LE(std::abs(r.y - 32 * mby), 23);
    }
}

TEST(MotionEstimation, ChromaVectorsAndPrediction) {
  EXPECT_EQ(ChromaVector(-3), -1);
  EXPECT_EQ(ChromaVector(5), 2);
  EXPECT_EQ(ChromaVector(-1), 0);

  const PictureGeometry g = PictureGeometry::For(48, 48);
  const PictureBuffer past = TexturedPicture(g, 5);
  PictureBuffer pred;
  pred.Allocate(g);
  MacroblockInfo mb;
  mb.mbType = kMbForward;
  mb.mv[0] = {-3, 5};
  const Scene scene(g, kPictureP, past, past);
  PredictMacroblock(scene.in, 1, 1, mb, pred);
  // Luminance at (16, 16) from half-pel (29, 37): both halves, rounded.
  const auto& y = past.y;
  EXPECT_EQ(pred.y.Row(16)[16],
            (y.Row(18)[14] + y.Row(18)[15] + y.Row(19)[14] + y.Row(19)[15] + 2) >> 2);
  // Chrominance vector (-1, 2): horizontal half-pel, vertical whole pel.
  EXPECT_EQ(pred.cb.Row(8)[8], (past.cb.Row(9)[7] + past.cb.Row(9)[8] + 1) >> 1);

  mb.mbType = kMbIntra;
  PredictMacroblock(scene.in, 0, 0, mb, pred);
  EXPECT_EQ(pred.y.Row(15)[15], 128);
  EXPECT_EQ(pred.cr.Row(7)[7], 128);
}

}  // namespace
}  // namespace calvex::video
