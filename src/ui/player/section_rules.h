// The rules of the Scratch Pad that need no window: marking sections, where the transport
// buttons go, which of them may be pressed, the time code, and the geometry of the position track
// and the section bar.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/info_blocks.h"

namespace calvex::ui {

struct FrameSection {
  std::int32_t first = 0;
  std::int32_t last = 0;
  bool operator==(const FrameSection&) const = default;
};

inline constexpr int kMaxMarkedSections = 16;

// Overlapping sections merged into one, sorted by first frame (sections that touch at one frame
// merge too).
std::vector<FrameSection> NormaliseSections(std::vector<FrameSection> sections);

// The sections being marked: at most 16, sorted and disjoint after every change, and the in point
// of a Mark In that waits for its Mark Out.
class SectionMarks {
 public:
  SectionMarks() = default;
  explicit SectionMarks(std::vector<FrameSection> sections);

  // False (the hand sound) when 16 sections exist.
  bool MarkIn(std::int32_t frame);
  // Completes the pending section with the two frames in order. False without a pending mark or
  // at the in point's own frame.
  bool MarkOut(std::int32_t frame);
  void Remove(int index);
  enum class Edge { kFirst, kLast };
  // Moves an edge of section `index` to `frame`; the sections are normalised again.
  void MoveEdge(int index, Edge edge, std::int32_t frame);

  const std::vector<FrameSection>& sections() const { return sections_; }
  std::optional<std::int32_t> pendingIn() const { return pendingIn_; }
  // The first section that holds `frame`, or -1.
  int SectionAt(std::int32_t frame) const;

 private:
  std::vector<FrameSection> sections_;
  std::optional<std::int32_t> pendingIn_;
};

// Where Forward and Rewind go from `position` in a file of `frameCount` frames: an AVI moves by a
// tenth of the file; an MPEG file to the next group's first frame (the last frame after the last
// group), or back to the nearest group that starts before the position (frame 0 when none).
std::int32_t ForwardTarget(std::int32_t position, std::int32_t frameCount,
                           std::span<const GopIndexEntry> groups, bool mpeg);
std::int32_t RewindTarget(std::int32_t position, std::int32_t frameCount,
                          std::span<const GopIndexEntry> groups, bool mpeg);

// The group a section of an MPEG file starts decoding at: the last one whose first frame is not
// after the section's (the first group when none; a zero entry without groups).
GopIndexEntry SeekEntryFor(std::int32_t first, std::span<const GopIndexEntry> groups);

// The buttons that move by position: at frame 0 those that go back are disabled, at the last
// frame those that go on.
struct TransportEnabling {
  bool back = false;     // Previous, Rewind, Begin
  bool forward = false;  // Next, Forward, End
};
TransportEnabling EnablingAt(std::int32_t position, std::int32_t frameCount);

// Whole frames per second of the time code: the rate rounded (an AVI's cut to hundredths first).
int TimeCodeFramesPerSecond(std::int32_t rate, std::int32_t scale, bool avi);
// "hh:mm:ss:ff" of frame `frame`.
std::string FrameTimeCode(std::int32_t frame, int framesPerSecond);

// The position track: the thumb moves along a track 8 pixels in from each end.
inline constexpr int kTrackInset = 8;
std::int32_t TrackFrameAt(int x, int widgetWidth, std::int32_t frameCount);
int TrackX(std::int32_t frame, int widgetWidth, std::int32_t frameCount);

// The section bar: frame to x and back, and what a click does.
int BarX(std::int32_t frame, int barWidth, std::int32_t frameCount);
std::int32_t BarFrameAt(int x, int barWidth, std::int32_t frameCount);
struct BarClick {
  enum class Action { kHighlight, kClear, kDragFirst, kDragLast } action = Action::kClear;
  int section = -1;
};
// With a highlighted section, a click up to 4 pixels before its first edge (or after its last)
// drags that edge; otherwise the section under the click is highlighted, or the highlight goes.
BarClick ClickOnBar(int x, int barWidth, std::int32_t frameCount, const SectionMarks& marks,
                    int highlighted);

}  // namespace calvex::ui
