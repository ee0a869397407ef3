#include "mux/decoder_buffers.h"

#include <algorithm>
#include <cmath>

namespace calvex::mux {

namespace {

// One elementary stream's deliveries: where each packet's data begins in the stream and in the
// multiplex.
struct Delivery {
  std::int64_t offset;
  std::int64_t bytes;
  std::int64_t startBit;
};

class StreamBuffer {
 public:
  StreamBuffer(std::vector<Delivery> deliveries, double ticksPerBit)
      : deliveries_(std::move(deliveries)), ticksPerBit_(ticksPerBit) {}

  // When byte `b` of the stream has fully arrived; access units are asked for in stream order.
  double ArrivalOf(std::int64_t b) {
    while (late_ + 1 < deliveries_.size() &&
           deliveries_[late_].offset + deliveries_[late_].bytes <= b)
      ++late_;
    const Delivery& d = deliveries_[late_];
    return static_cast<double>(d.startBit + 8 * (b - d.offset + 1)) * ticksPerBit_;
  }

  // Bytes that have arrived by time t; times are asked for in increasing order.
  std::int64_t ArrivedBy(double t) {
    const double bit = t / ticksPerBit_;
    while (full_ < deliveries_.size()) {
      const Delivery& d = deliveries_[full_];
      if (static_cast<double>(d.startBit + 8 * d.bytes) > bit) break;
      arrived_ = d.offset + d.bytes;
      ++full_;
    }
    if (full_ == deliveries_.size()) return arrived_;
    const Delivery& d = deliveries_[full_];
    const auto partial =
        static_cast<std::int64_t>(std::floor((bit - static_cast<double>(d.startBit)) / 8.0));
    return d.offset + std::clamp<std::int64_t>(partial, 0, d.bytes);
  }

  bool empty() const { return deliveries_.empty(); }

 private:
  std::vector<Delivery> deliveries_;
  double ticksPerBit_;
  std::size_t late_ = 0;
  std::size_t full_ = 0;
  std::int64_t arrived_ = 0;
};

StreamBuffer BufferOf(std::span<const ScheduledPacket> packets, bool video, double ticksPerBit) {
  std::vector<Delivery> d;
  for (const ScheduledPacket& p : packets)
    if (p.video == video && p.dataBytes > 0)
      d.push_back({p.dataOffset, p.dataBytes, p.DataStartBit()});
  return StreamBuffer(std::move(d), ticksPerBit);
}

// Walks the access units [begin(u), end(u)) leaving at time(u), u = 0..units-1.
template <typename Begin, typename End, typename Time>
void Walk(StreamBuffer& buffer, std::int64_t units, Begin begin, End end, Time time,
          std::int64_t& late, std::int64_t& peak) {
  if (buffer.empty()) return;
  for (std::int64_t u = 0; u < units; ++u) {
    if (end(u) <= begin(u)) continue;
    const auto t = static_cast<double>(time(u));
    const double arrival = buffer.ArrivalOf(end(u) - 1);
    late = std::max(late, static_cast<std::int64_t>(std::ceil(arrival - t)));
    peak = std::max(peak, buffer.ArrivedBy(t) - begin(u));
  }
}

}  // namespace

DecoderBufferUse SimulateDecoderBuffers(const MuxPlan& plan, std::span<const std::uint32_t> index,
                                        std::span<const std::int64_t> audioFrames,
                                        std::span<const ScheduledPacket> packets,
                                        const StreamClock& clock) {
  DecoderBufferUse use;

  // Picture k takes the bytes from its start code to the next one's; picture 0 also the
  // sequence header before it, the last picture the end code after it.
  const auto pictures = static_cast<std::int64_t>(index.size()) - 1;
  std::vector<std::int64_t> starts(static_cast<std::size_t>(pictures) + 1);
  std::int64_t cumulative = 0;
  for (std::int64_t k = 0; k <= pictures; ++k) {
    cumulative += IndexWordSize(index[static_cast<std::size_t>(k)]);
    starts[static_cast<std::size_t>(k)] = k == 0 ? 0 : cumulative;
  }
  starts[static_cast<std::size_t>(pictures)] = plan.videoBytes;
  StreamBuffer video = BufferOf(packets, true, plan.ticksPerBit);
  Walk(
      video, pictures, [&](std::int64_t k) { return starts[static_cast<std::size_t>(k)]; },
      [&](std::int64_t k) { return starts[static_cast<std::size_t>(k) + 1]; },
      [&](std::int64_t k) { return clock.VideoDecodingTime(k); }, use.lateTicks,
      use.videoPeakBytes);

  // Audio frame m takes the bytes to the next frame; bytes after the last frame go with it.
  const auto frames = static_cast<std::int64_t>(audioFrames.size());
  StreamBuffer sound = BufferOf(packets, false, plan.ticksPerBit);
  Walk(
      sound, frames,
      [&](std::int64_t m) { return m == 0 ? 0 : audioFrames[static_cast<std::size_t>(m)]; },
      [&](std::int64_t m) {
        return m + 1 < frames ? audioFrames[static_cast<std::size_t>(m) + 1] : plan.audioBytes;
      },
      [&](std::int64_t m) { return clock.AudioPresentationTime(m); }, use.lateTicks,
      use.audioPeakBytes);
  if (frames == 0) use.audioPeakBytes = plan.audioBytes;
  return use;
}

}  // namespace calvex::mux
