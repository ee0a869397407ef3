// The Scratch Pad's rules: marking, the transport targets and enabling, the time code.
#include <gtest/gtest.h>

#include "ui/player/section_rules.h"

namespace calvex::ui {
namespace {

using Sections = std::vector<FrameSection>;

TEST(SectionMarksTest, MarksBecomeSortedDisjointSections) {
  const struct {
    std::vector<std::pair<int, int>> marks;  // Mark In, Mark Out
    Sections expected;
  } cases[] = {
      {{{50, 20}}, {{20, 50}}},
      {{{10, 40}, {30, 60}}, {{10, 60}}},
      {{{30, 40}, {10, 20}}, {{10, 20}, {30, 40}}},
      {{{10, 20}, {20, 30}}, {{10, 30}}},  // touching at one frame
      {{{10, 60}, {20, 30}}, {{10, 60}}},
      {{{5, 8}, {50, 60}, {7, 55}}, {{5, 60}}},
  };
  for (const auto& c : cases) {
    SectionMarks marks;
    for (const auto& [in, out] : c.marks) {
      ASSERT_TRUE(marks.MarkIn(in));
      ASSERT_TRUE(marks.MarkOut(out));
    }
    EXPECT_EQ(marks.sections(), c.expected) << "first mark " << c.marks[0].first;
    EXPECT_FALSE(marks.pendingIn());
  }
}

TEST(SectionMarksTest, RefusedMarksChangeNothing) {
  SectionMarks marks;
  EXPECT_FALSE(marks.MarkOut(5));  // no Mark In
  ASSERT_TRUE(marks.MarkIn(5));
  EXPECT_FALSE(marks.MarkOut(5));  // the in point's own frame
  EXPECT_EQ(marks.pendingIn(), 5);
  for (int i = 0; i < 16; ++i) {
    ASSERT_TRUE(marks.MarkIn(i * 10));
    ASSERT_TRUE(marks.MarkOut(i * 10 + 5));
  }
  EXPECT_FALSE(marks.MarkIn(500));  // a 17th
  EXPECT_EQ(marks.sections().size(), 16u);
  EXPECT_FALSE(marks.pendingIn());
}

TEST(SectionMarksTest, EdgesMoveAndSectionsGo) {
  SectionMarks marks({{10, 20}, {30, 40}});
  marks.MoveEdge(0, SectionMarks::Edge::kLast, 35);  // now overlaps the second
  EXPECT_EQ(marks.sections(), (Sections{{10, 40}}));
  marks.MoveEdge(0, SectionMarks::Edge::kFirst, 50);  // dragged past the other edge
  EXPECT_EQ(marks.sections(), (Sections{{40, 50}}));
  EXPECT_EQ(marks.SectionAt(45), 0);
  EXPECT_EQ(marks.SectionAt(39), -1);
  marks.Remove(0);
  EXPECT_TRUE(marks.sections().empty());
}

TEST(TransportTest, ForwardAndRewindTargets) {
  const std::vector<GopIndexEntry> groups = {{0, 0, 0, 0}, {12, 12, 0, 0}, {24, 24, 0, 0}};
  const struct {
    bool mpeg;
    int count, position, forward, rewind;
  } cases[] = {
      {false, 95, 0, 9, 0},   {false, 95, 50, 59, 41}, {false, 95, 90, 94, 81},
      {false, 5, 3, 3, 3},  // a tenth of 5 frames is none
      {true, 30, 5, 12, 0},   {true, 30, 12, 24, 0},   {true, 30, 13, 24, 12},
      {true, 30, 27, 29, 24}, {true, 30, 0, 12, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ForwardTarget(c.position, c.count, groups, c.mpeg), c.forward)
        << (c.mpeg ? "MPEG " : "AVI ") << c.position;
    EXPECT_EQ(RewindTarget(c.position, c.count, groups, c.mpeg), c.rewind)
        << (c.mpeg ? "MPEG " : "AVI ") << c.position;
  }
  EXPECT_EQ(SeekEntryFor(13, groups).firstFrame, 12);
  EXPECT_EQ(SeekEntryFor(12, groups).firstFrame, 12);
  EXPECT_EQ(SeekEntryFor(100, groups).firstFrame, 24);
  EXPECT_EQ(SeekEntryFor(5, {}).firstFrame, 0);
}

TEST(TransportTest, EnablingByPosition) {
  const struct {
    int position, count;
    bool back, forward;
  } cases[] = {
      {0, 95, false, true}, {40, 95, true, true}, {94, 95, true, false}, {0, 1, false, false}};
  for (const auto& c : cases) {
    const TransportEnabling e = EnablingAt(c.position, c.count);
    EXPECT_EQ(e.back, c.back) << c.position << " of " << c.count;
    EXPECT_EQ(e.forward, c.forward) << c.position << " of " << c.count;
  }
}

TEST(TimeCodeTest, FramesPerSecondAndText) {
  EXPECT_EQ(FrameTimeCode(1523, 25), "00:01:00:23");
  EXPECT_EQ(FrameTimeCode(0, 25), "00:00:00:00");
  EXPECT_EQ(FrameTimeCode(30 * 3661, 30), "01:01:01:00");
  EXPECT_EQ(TimeCodeFramesPerSecond(30000, 1001, true), 30);  // 29.97
  EXPECT_EQ(TimeCodeFramesPerSecond(24000, 1001, false), 24);
  EXPECT_EQ(TimeCodeFramesPerSecond(15, 1, true), 15);
  EXPECT_EQ(TimeCodeFramesPerSecond(0, 0, true), 1);
}

TEST(GeometryTest, TrackAndBarMapPixelsAndFrames) {
  // A 116-pixel track widget: the track runs from 8 to 108.
  EXPECT_EQ(TrackFrameAt(0, 116, 200), 0);
  EXPECT_EQ(TrackFrameAt(58, 116, 200), 100);
  EXPECT_EQ(TrackFrameAt(500, 116, 200), 199);
  EXPECT_EQ(TrackX(100, 116, 200), 58);
  EXPECT_EQ(BarX(50, 200, 100), 100);
  EXPECT_EQ(BarFrameAt(100, 200, 100), 50);
  EXPECT_EQ(BarFrameAt(-3, 200, 100), 0);
  EXPECT_EQ(BarFrameAt(200, 200, 100), 99);

  // Sections (10, 20) and (50, 60) of 100 frames on a 200-pixel bar: x 20-40 and 100-120.
  const SectionMarks marks({{10, 20}, {50, 60}});
  using A = BarClick::Action;
  const struct {
    int x, highlighted;
    A action;
    int section;
  } cases[] = {{30, -1, A::kHighlight, 0}, {110, -1, A::kHighlight, 1}, {70, -1, A::kClear, -1},
               {16, 0, A::kDragFirst, 0},  {20, 0, A::kDragFirst, 0},   {44, 0, A::kDragLast, 0},
               {110, 0, A::kHighlight, 1}, {70, 0, A::kClear, -1},      {15, 0, A::kClear, -1}};
  for (const auto& c : cases) {
    const BarClick click = ClickOnBar(c.x, 200, 100, marks, c.highlighted);
    EXPECT_EQ(click.action, c.action) << "x " << c.x << " highlighted " << c.highlighted;
    EXPECT_EQ(click.section, c.section) << "x " << c.x << " highlighted " << c.highlighted;
  }
}

}  // namespace
}  // namespace calvex::ui
