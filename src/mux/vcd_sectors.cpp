#include "mux/vcd_sectors.h"

#include <algorithm>
#include <cmath>

namespace calvex::mux {

namespace {

constexpr std::int64_t kVideoBufferBytes = kVcdVideoBufferBound * 1024;
constexpr std::int64_t kAudioBufferBytes = kVcdAudioBufferBound * 128;
// Pack header, then a packet's start code prefix, stream id and packet_length.
constexpr int kSectorOverhead = kPackHeaderBytes + kPacketStartBytes;
// Data goes out at most this long before it is due, so that a small stream is spread over the
// whole multiplex (readers look for the last time stamps near the end) rather than sent first.
constexpr std::int64_t kMaxLead = 45000;

// The access units of one elementary stream: where each begins, where the last ends, and when
// each leaves the decoder's buffer.
struct Units {
  std::vector<std::int64_t> begin;
  std::int64_t end = 0;
  std::vector<std::int64_t> time;

  std::int64_t End(std::size_t u) const { return u + 1 < begin.size() ? begin[u + 1] : end; }
  // The first unit that begins at or after `offset`.
  std::size_t FirstFrom(std::int64_t offset, std::size_t from) const {
    while (from < begin.size() && begin[from] < offset) ++from;
    return from;
  }
};

// One stream's side of the decoder model while the sectors are laid out.
struct StreamState {
  const Units& units;
  std::int64_t bufferBytes;
  std::int64_t delivered = 0;
  std::size_t removed = 0;   // units that have left the buffer
  std::size_t next = 0;      // first unit not begun before `delivered`
  std::size_t complete = 0;  // first unit not wholly delivered
  bool started = false;

  bool Done() const { return delivered >= units.end; }
  void RemoveBy(std::int64_t t) {
    while (removed < units.begin.size() && units.time[removed] <= t) ++removed;
  }
  std::int64_t Held() const {
    const std::int64_t gone = removed == 0 ? 0 : std::min(units.End(removed - 1), delivered);
    return delivered - gone;
  }
  // When the unit holding the next byte to send leaves the buffer.
  std::int64_t Due() const {
    return complete < units.time.size() ? units.time[complete] : INT64_MAX;
  }
  // Sends a packet whose data has arrived by `arrival`; returns by how much the units it
  // completes arrive late at the latest.
  std::int64_t Deliver(const VcdSector& p, double arrival) {
    delivered += p.dataBytes;
    next = units.FirstFrom(delivered, next);
    std::int64_t late = INT64_MIN;
    for (; complete < units.begin.size() && units.End(complete) <= delivered; ++complete)
      late = std::max(late, static_cast<std::int64_t>(std::ceil(arrival)) - units.time[complete]);
    return late;
  }
};

// The next packet of a stream: its data and the unit whose time stamp it carries (the first that
// begins in it).
VcdSector NextPacket(const StreamState& s, VcdSectorKind kind, bool video,
                     const StreamClock& clock) {
  VcdSector p;
  p.kind = kind;
  p.dataOffset = s.delivered;
  const std::size_t u = s.next;
  if (u < s.units.begin.size()) {
    VcdSector stamped = p;
    stamped.stampedUnit = static_cast<std::int32_t>(u);
    const auto k = static_cast<std::int64_t>(u);
    stamped.hasDecodingTime = video && clock.VideoPresentationTime(k) != clock.VideoDecodingTime(k);
    if (s.units.begin[u] < s.delivered + stamped.Capacity()) p = stamped;
  }
  p.dataBytes =
      static_cast<std::int32_t>(std::min<std::int64_t>(p.Capacity(), s.units.end - s.delivered));
  return p;
}

// Lays the sectors out for the clock's start-up delay; returns how late the latest unit arrives.
std::int64_t Lay(const MuxPlan& plan, const StreamClock& clock, const Units& video,
                 const Units& audio, std::vector<VcdSector>& sectors) {
  sectors.clear();
  StreamState v{video, kVideoBufferBytes};
  StreamState a{audio, kAudioBufferBytes};
  const double sectorTicks = 8.0 * kVcdSectorBytes * plan.ticksPerBit;
  std::int64_t late = INT64_MIN;
  sectors.push_back(VcdSector{VcdSectorKind::kVideoHeader});
  while (!v.Done() || !a.Done()) {
    const auto s = static_cast<double>(sectors.size());
    const auto start = static_cast<std::int64_t>(s * sectorTicks);
    const double arrival = (s + 1.0) * sectorTicks;
    v.RemoveBy(start);
    a.RemoveBy(start);
    const VcdSector vp = NextPacket(v, VcdSectorKind::kVideo, true, clock);
    const VcdSector ap = NextPacket(a, VcdSectorKind::kAudio, false, clock);
    const bool videoFits =
        !v.Done() && v.Held() + vp.dataBytes <= v.bufferBytes && v.Due() - start <= kMaxLead;
    const bool audioFits =
        !a.Done() && a.Held() + ap.dataBytes <= a.bufferBytes && a.Due() - start <= kMaxLead;
    if (videoFits && (!audioFits || v.Due() <= a.Due())) {
      sectors.push_back(vp);
      late = std::max(late, v.Deliver(vp, arrival));
    } else if (audioFits && !a.started) {
      // The audio stream's system header goes in a sector of its own ahead of its first data.
      sectors.push_back(VcdSector{VcdSectorKind::kAudioHeader});
      a.started = true;
    } else if (audioFits) {
      sectors.push_back(ap);
      late = std::max(late, a.Deliver(ap, arrival));
    } else {
      sectors.push_back(VcdSector{VcdSectorKind::kPadding});
    }
  }
  sectors.push_back(VcdSector{VcdSectorKind::kEnd});
  return late;
}

}  // namespace

int VcdSector::StampBytes() const {
  if (stampedUnit < 0) return 3;  // STD buffer fields, then 0x0F
  return hasDecodingTime ? 12 : 7;
}

int VcdSector::Capacity() const {
  const int room = kVcdSectorBytes - kSectorOverhead - StampBytes();
  return kind == VcdSectorKind::kAudio ? room - kVcdAudioTrailBytes : room;
}

MuxPlan VideoCdPlan(const MuxPlan& plan) {
  MuxPlan p = plan;
  p.muxRate = kVcdMuxRate;
  p.ticksPerBit = kClockHz / (static_cast<double>(kVcdMuxRate) * 400.0);
  p.videoBufferBound = kVcdVideoBufferBound;
  p.audioBufferBound = kVcdAudioBufferBound;
  return p;
}

VcdSchedule ScheduleVcdSectors(const MuxPlan& plan, std::span<const std::uint32_t> index,
                               std::span<const std::int64_t> audioFrames) {
  // Picture k takes the bytes from its start code to the next one's (picture 0 also the sequence
  // header before it); audio frame m to the next frame.
  Units video, audio;
  const auto pictures = static_cast<std::int64_t>(index.size()) - 1;
  std::int64_t cumulative = 0;
  for (std::int64_t k = 0; k < pictures; ++k) {
    cumulative += IndexWordSize(index[static_cast<std::size_t>(k)]);
    video.begin.push_back(k == 0 ? 0 : cumulative);
  }
  video.end = plan.videoBytes;
  for (const std::int64_t offset : audioFrames)
    audio.begin.push_back(audio.begin.empty() ? 0 : offset);
  audio.end = plan.audioBytes;
  // Sound with no frame found leaves with the first picture shown.
  if (audio.begin.empty() && audio.end > 0) audio.begin.push_back(0);

  VcdSchedule schedule;
  schedule.startDelay = std::max<std::int64_t>(plan.startDelay, 1);
  for (int attempt = 0; attempt < 12; ++attempt) {
    const StreamClock clock(plan, index, schedule.startDelay);
    video.time.clear();
    audio.time.clear();
    for (std::int64_t k = 0; k < pictures; ++k) video.time.push_back(clock.VideoDecodingTime(k));
    for (std::size_t m = 0; m < audio.begin.size(); ++m)
      audio.time.push_back(clock.AudioPresentationTime(static_cast<std::int64_t>(m)));
    schedule.lateTicks =
        std::max<std::int64_t>(0, Lay(plan, clock, video, audio, schedule.sectors));
    if (schedule.lateTicks == 0) break;
    schedule.startDelay += schedule.lateTicks;
  }
  return schedule;
}

}  // namespace calvex::mux
