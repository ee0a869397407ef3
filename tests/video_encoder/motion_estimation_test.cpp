// Motion search, mode decisions and prediction.
#include "video_encoder/motion_estimation.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

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

MotionInputs Inputs(const PictureGeometry& g, int type, const PictureBuffer& cur,
                    const PictureBuffer& past, const PictureBuffer* future = nullptr) {
  MotionInputs in;
  in.kernels = &KernelsForCpu();
  in.geometry = g;
  in.pictureType = type;
  in.forwardRange = type == kPictureP ? 11 : 3;
  in.backwardRange = 7;
  in.current = &cur;
  in.oldSource = &past;
  in.oldRecon = &past;
  in.newSource = future ? future : &past;
  in.newRecon = future ? future : &past;
  return in;
}

TEST(MotionEstimation, StaticSceneUsesNoMotionCompensation) {
  const PictureGeometry g = PictureGeometry::For(64, 48);
  const PictureBuffer pic = TexturedPicture(g, 1);
  const MotionInputs in = Inputs(g, kPictureP, pic, pic);
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
  const MotionInputs in = Inputs(g, kPictureP, cur, past);
  MacroblockInfo mb;
  EstimateMacroblock(in, 2, 1, mb);
  EXPECT_EQ(mb.mbType, kMbForward);
  EXPECT_EQ(mb.mv[0][0], -6);  // half-pels: the block came from 3 pels left, 2 below
  EXPECT_EQ(mb.mv[0][1], 4);
  EXPECT_EQ(mb.var, 0);

  // In a B picture the same past picture is found forward; the future one is far off.
  const PictureBuffer future = TexturedPicture(g, 99);
  MotionInputs b = Inputs(g, kPictureB, cur, past, &future);
  EstimateMacroblock(b, 2, 1, mb);
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
  EstimateMacroblock(Inputs(g, kPictureP, cur, past), 0, 0, mb);
  EXPECT_FALSE(mb.mbType & kMbIntra);
  EXPECT_EQ(mb.var, 1024);

  std::fill(past.y.pixels.begin(), past.y.pixels.end(), 104);  // SSE 4096 > variance 0
  EstimateMacroblock(Inputs(g, kPictureP, cur, past), 0, 0, mb);
  EXPECT_EQ(mb.mbType, kMbIntra);
}

// Records every whole-pel position the search looks at.
std::set<std::pair<int, int>>* gVisited = nullptr;
const std::uint8_t* gPlaneBase = nullptr;
int gStride = 0;

int RecordingSad(const std::uint8_t* cur, const std::uint8_t* ref, int stride, int limit) {
  const long offset = ref - gPlaneBase;
  gVisited->insert({static_cast<int>(offset % gStride), static_cast<int>(offset / gStride)});
  return ReferenceKernels().sadFullPel(cur, ref, stride, limit);
}

TEST(MotionEstimation, SearchStaysInsideThePicture) {
  const PictureGeometry g = PictureGeometry::For(80, 48);
  const PictureBuffer ref = TexturedPicture(g, 3), cur = TexturedPicture(g, 4);
  Kernels k = ReferenceKernels();
  k.sadFullPel = RecordingSad;
  std::set<std::pair<int, int>> visited;
  gVisited = &visited;
  gPlaneBase = ref.y.pixels.data();
  gStride = g.width16;

  SearchMotion(k, g, cur.y.Row(0), ref.y, ref.y, 0, 0, 11, 11);  // top-left macroblock
  EXPECT_EQ(visited.size(), 12u * 12u);                          // 0..11 both ways
  for (const auto& [x, y] : visited) {
    EXPECT_GE(x, 0);
    EXPECT_GE(y, 0);
  }
  visited.clear();
  const int i0 = g.width16 - 16, j0 = g.height16 - 16;
  const SearchResult r = SearchMotion(k, g, cur.y.Row(j0) + i0, ref.y, ref.y, i0, j0, 7, 7);
  for (const auto& [x, y] : visited) {
    EXPECT_LE(x, g.width16 - 16);
    EXPECT_LE(y, g.height16 - 16);
  }
  EXPECT_LE(r.x, 2 * (g.width16 - 16));
  EXPECT_LE(r.y, 2 * (g.height16 - 16));
  gVisited = nullptr;
}

TEST(MotionEstimation, WindowSumsOnlySpeedTheSearchUp) {
  const PictureGeometry g = PictureGeometry::For(96, 64);
  for (unsigned seed = 0; seed < 6; ++seed) {
    const PictureBuffer ref = TexturedPicture(g, seed), cur = TexturedPicture(g, seed, seed % 3, 1);
    const std::vector<int> sums = StripSums(ref.y);
    ASSERT_EQ(sums.size(),
              static_cast<std::size_t>((g.width16 - 15) * (g.height16 - kStripHeight + 1)));
    const BlockStrips at = StripsOf(ref.y.Row(7) + 5, g.width16);
    for (int s = 0; s < 4; ++s)
      EXPECT_EQ(sums[static_cast<std::size_t>((7 + kStripHeight * s) * (g.width16 - 15) + 5)],
                at[static_cast<std::size_t>(s)]);
    const int last = (g.height16 - kStripHeight) * (g.width16 - 15) + g.width16 - 16;
    int s = 0, s2 = 0;
    ReferenceKernels().blockSums(ref.y.Row(g.height16 - 16) + g.width16 - 16, g.width16, 16, &s,
                                 &s2);
    EXPECT_EQ(sums[static_cast<std::size_t>(last)] +
                  sums[static_cast<std::size_t>(last - kStripHeight * (g.width16 - 15))] +
                  sums[static_cast<std::size_t>(last - 2 * kStripHeight * (g.width16 - 15))] +
                  sums[static_cast<std::size_t>(last - 3 * kStripHeight * (g.width16 - 15))],
              s);
    for (int mby = 0; mby < g.mbHeight; ++mby)
      for (int mbx = 0; mbx < g.mbWidth; ++mbx) {
        const std::uint8_t* block = cur.y.Row(16 * mby) + 16 * mbx;
        const BlockStrips strips = StripsOf(block, g.width16);
        const SearchResult plain =
            SearchMotion(KernelsForCpu(), g, block, ref.y, ref.y, 16 * mbx, 16 * mby, 11, 11);
        const SearchResult pruned = SearchMotion(KernelsForCpu(), g, block, ref.y, ref.y, 16 * mbx,
                                                 16 * mby, 11, 11, &sums, &strips);
        EXPECT_EQ(plain.x, pruned.x);
        EXPECT_EQ(plain.y, pruned.y);
        EXPECT_EQ(plain.sad, pruned.sad);
      }
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
  PredictMacroblock(Inputs(g, kPictureP, past, past), 1, 1, mb, pred);
  // Luminance at (16, 16) from half-pel (29, 37): both halves, rounded.
  const auto& y = past.y;
  EXPECT_EQ(pred.y.Row(16)[16],
            (y.Row(18)[14] + y.Row(18)[15] + y.Row(19)[14] + y.Row(19)[15] + 2) >> 2);
  // Chrominance vector (-1, 2): horizontal half-pel, vertical whole pel.
  EXPECT_EQ(pred.cb.Row(8)[8], (past.cb.Row(9)[7] + past.cb.Row(9)[8] + 1) >> 1);

  mb.mbType = kMbIntra;
  PredictMacroblock(Inputs(g, kPictureP, past, past), 0, 0, mb, pred);
  EXPECT_EQ(pred.y.Row(15)[15], 128);
  EXPECT_EQ(pred.cr.Row(7)[7], 128);
}

}  // namespace
}  // namespace calvex::video
