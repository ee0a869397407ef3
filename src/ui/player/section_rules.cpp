#include "ui/player/section_rules.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace calvex::ui {
namespace {

constexpr int kEdgeGrabPixels = 4;

}  // namespace

std::vector<FrameSection> NormaliseSections(std::vector<FrameSection> sections) {
  // A sweep over the start and end events: a section is emitted from where the depth rises from
  // 0 to where it falls back to 0. Starts sort before ends on the same frame.
  struct Event {
    std::int32_t frame;
    int step;  // +1 start, -1 end
  };
  std::vector<Event> events;
  for (const FrameSection& s : sections) {
    events.push_back({std::min(s.first, s.last), +1});
    events.push_back({std::max(s.first, s.last), -1});
  }
  std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
    return a.frame != b.frame ? a.frame < b.frame : a.step > b.step;
  });
  std::vector<FrameSection> merged;
  int depth = 0;
  for (const Event& e : events) {
    if (e.step > 0 && depth++ == 0) merged.push_back({e.frame, e.frame});
    if (e.step < 0 && --depth == 0) merged.back().last = e.frame;
  }
  return merged;
}

SectionMarks::SectionMarks(std::vector<FrameSection> sections)
    : sections_(NormaliseSections(std::move(sections))) {
  if (sections_.size() > static_cast<std::size_t>(kMaxMarkedSections))
    sections_.resize(kMaxMarkedSections);
}

bool SectionMarks::MarkIn(std::int32_t frame) {
  if (sections_.size() >= static_cast<std::size_t>(kMaxMarkedSections)) return false;
  pendingIn_ = frame;
  return true;
}

bool SectionMarks::MarkOut(std::int32_t frame) {
  if (!pendingIn_ || *pendingIn_ == frame) return false;
  sections_.push_back({std::min(*pendingIn_, frame), std::max(*pendingIn_, frame)});
  sections_ = NormaliseSections(std::move(sections_));
  pendingIn_.reset();
  return true;
}

void SectionMarks::Remove(int index) {
  if (index >= 0 && index < static_cast<int>(sections_.size()))
    sections_.erase(sections_.begin() + index);
}

void SectionMarks::MoveEdge(int index, Edge edge, std::int32_t frame) {
  if (index < 0 || index >= static_cast<int>(sections_.size())) return;
  (edge == Edge::kFirst ? sections_[index].first : sections_[index].last) = frame;
  sections_ = NormaliseSections(std::move(sections_));
}

int SectionMarks::SectionAt(std::int32_t frame) const {
  for (std::size_t i = 0; i < sections_.size(); ++i)
    if (sections_[i].first <= frame && frame <= sections_[i].last) return static_cast<int>(i);
  return -1;
}

std::int32_t ForwardTarget(std::int32_t position, std::int32_t frameCount,
                           std::span<const GopIndexEntry> groups, bool mpeg) {
  const std::int32_t last = std::max(frameCount - 1, 0);
  if (!mpeg) return std::min(position + frameCount / 10, last);
  for (const GopIndexEntry& g : groups)
    if (g.firstFrame > position) return std::min(g.firstFrame, last);
  return last;
}

std::int32_t RewindTarget(std::int32_t position, std::int32_t frameCount,
                          std::span<const GopIndexEntry> groups, bool mpeg) {
  if (!mpeg) return std::max(position - frameCount / 10, 0);
  std::int32_t target = 0;
  for (const GopIndexEntry& g : groups)
    if (g.firstFrame < position) target = g.firstFrame;
  return std::max(target, 0);
}

GopIndexEntry SeekEntryFor(std::int32_t first, std::span<const GopIndexEntry> groups) {
  if (groups.empty()) return {};
  std::size_t chosen = 0;
  for (std::size_t i = 1; i < groups.size() && groups[i].firstFrame <= first; ++i) chosen = i;
  return groups[chosen];
}

TransportEnabling EnablingAt(std::int32_t position, std::int32_t frameCount) {
  return {position > 0, position < frameCount - 1};
}

int TimeCodeFramesPerSecond(std::int32_t rate, std::int32_t scale, bool avi) {
  if (rate <= 0 || scale <= 0) return 1;
  double fps = static_cast<double>(rate) / scale;
  if (avi) fps = std::trunc(fps * 100.0) / 100.0;
  return std::max(static_cast<int>(std::lround(fps)), 1);
}

std::string FrameTimeCode(std::int32_t frame, int framesPerSecond) {
  const int f = std::max(framesPerSecond, 1);
  const std::int32_t n = std::max(frame, 0);
  const std::int32_t seconds = n / f;
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60,
                seconds % 60, n % f);
  return text;
}

std::int32_t TrackFrameAt(int x, int widgetWidth, std::int32_t frameCount) {
  const int track = std::max(widgetWidth - 2 * kTrackInset, 1);
  const int clamped = std::clamp(x, kTrackInset, track + kTrackInset);
  const std::int64_t frame = std::int64_t{clamped - kTrackInset} * frameCount / track;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(frame, 0, std::max(frameCount - 1, 0)));
}

int TrackX(std::int32_t frame, int widgetWidth, std::int32_t frameCount) {
  const int track = std::max(widgetWidth - 2 * kTrackInset, 1);
  if (frameCount <= 0) return kTrackInset;
  return kTrackInset + static_cast<int>(std::int64_t{frame} * track / frameCount);
}

int BarX(std::int32_t frame, int barWidth, std::int32_t frameCount) {
  if (frameCount <= 0) return 0;
  return static_cast<int>(std::int64_t{barWidth} * frame / frameCount);
}

std::int32_t BarFrameAt(int x, int barWidth, std::int32_t frameCount) {
  if (barWidth <= 0) return 0;
  const std::int64_t frame = std::int64_t{frameCount} * std::clamp(x, 0, barWidth) / barWidth;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(frame, 0, std::max(frameCount - 1, 0)));
}

BarClick ClickOnBar(int x, int barWidth, std::int32_t frameCount, const SectionMarks& marks,
                    int highlighted) {
  const auto& sections = marks.sections();
  if (highlighted >= 0 && highlighted < static_cast<int>(sections.size())) {
    const int x1 = BarX(sections[highlighted].first, barWidth, frameCount);
    const int x2 = BarX(sections[highlighted].last, barWidth, frameCount);
    if (x >= x1 - kEdgeGrabPixels && x <= x1) return {BarClick::Action::kDragFirst, highlighted};
    if (x >= x2 && x <= x2 + kEdgeGrabPixels) return {BarClick::Action::kDragLast, highlighted};
  }
  const int under = marks.SectionAt(BarFrameAt(x, barWidth, frameCount));
  if (under >= 0) return {BarClick::Action::kHighlight, under};
  return {};
}

}  // namespace calvex::ui
