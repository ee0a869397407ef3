#include "mux/packet_schedule.h"

#include <algorithm>

namespace calvex::mux {

namespace {

std::int64_t Ticks(double t) {
  return static_cast<std::int64_t>(t);
}

}  // namespace

std::int64_t StreamClock::VideoDecodingTime(std::int64_t k) const {
  return startDelay_ + Ticks(static_cast<double>(k) * plan_.videoPeriod);
}

std::int64_t StreamClock::VideoPresentationTime(std::int64_t k) const {
  const int step = IndexWordStep(index_[static_cast<std::size_t>(k)]);
  return startDelay_ +
         Ticks(static_cast<double>(k + step + plan_.reorderDelay) * plan_.videoPeriod);
}

std::int64_t StreamClock::AudioPresentationTime(std::int64_t m) const {
  return startDelay_ +
         Ticks(plan_.reorderDelay * plan_.videoPeriod + static_cast<double>(m) * plan_.audioPeriod);
}

int ScheduledPacket::StampBytes() const {
  if (stampedUnit < 0) return 3;  // STD buffer fields, then 0x0F
  return hasDecodingTime ? 12 : 7;
}

std::int64_t ScheduledPacket::DataStartBit() const {
  const int before = (packHeader ? kPackHeaderBytes : 0) + (systemHeader ? kSystemHeaderBytes : 0) +
                     kPacketStartBytes + StampBytes();
  return startBit + 8 * static_cast<std::int64_t>(before);
}

std::int64_t SchedulePackets(const MuxPlan& plan, std::span<const std::uint32_t> index,
                             std::span<const std::int64_t> audioFrames,
                             std::vector<ScheduledPacket>& packets) {
  packets.clear();
  packets.reserve(static_cast<std::size_t>(plan.videoPackets + plan.audioPackets + 1));
  const StreamClock clock(plan, index, 0);
  const auto pictures = static_cast<std::int32_t>(index.size()) - 1;
  const auto frames = static_cast<std::int32_t>(audioFrames.size());

  std::int64_t videoLeft = plan.videoBytes;
  std::int64_t audioLeft = plan.audioBytes;
  std::int64_t videoDone = 0;
  std::int64_t audioDone = 0;
  std::int32_t picture = 0;                             // first picture not begun before videoDone
  std::int64_t pictureStart = IndexWordSize(index[0]);  // where it begins
  std::int32_t frame = 0;  // first audio frame not begun before audioDone
  double credit = 0.0;
  bool firstPack = true;
  bool firstVideoStamp = true;
  bool firstAudioStamp = true;
  std::int64_t lastPackScr = 0;
  std::int64_t lastVideoStamp = 0;
  std::int64_t lastAudioStamp = 0;
  std::int64_t bits = 0;

  // The last picture decoded, the last picture shown and the last audio frame each begin a packet
  // of their own, which is stamped as well: readers find each stream's end time there.
  std::int32_t lastShown = 0;
  for (std::int32_t k = 1; k < pictures; ++k)
    if (k + IndexWordStep(index[static_cast<std::size_t>(k)]) >
        lastShown + IndexWordStep(index[static_cast<std::size_t>(lastShown)]))
      lastShown = k;
  std::int64_t lastShownStart = 0;
  for (std::int32_t k = 0; k <= lastShown; ++k)
    lastShownStart += IndexWordSize(index[static_cast<std::size_t>(k)]);
  const std::int64_t lastDecodedStart =
      plan.videoBytes - IndexWordSize(index[static_cast<std::size_t>(pictures)]);
  const std::int64_t lastFrameStart = frames > 0 ? audioFrames.back() : -1;
  // A packet from `begin` ends before `offset` when it would hold it past its first byte.
  const auto endBefore = [](std::int64_t offset, std::int64_t begin, std::int32_t& bytes) {
    if (offset > begin && offset < begin + bytes) bytes = static_cast<std::int32_t>(offset - begin);
  };

  while (videoLeft + audioLeft != 0) {
    ScheduledPacket p;
    p.startBit = bits;
    const auto scr = static_cast<std::int64_t>(static_cast<double>(bits) * plan.ticksPerBit);
    if (firstPack || scr - lastPackScr > kStampInterval) {
      p.packHeader = true;
      p.systemHeader = firstPack;
      lastPackScr = scr;
      firstPack = false;
    }
    p.video = !(credit >= 1.0 || videoLeft == 0);
    if (p.video) {
      p.dataBytes = static_cast<std::int32_t>(std::min<std::int64_t>(videoLeft, kPacketDataBytes));
      p.dataOffset = videoDone;
      endBefore(lastShownStart, videoDone, p.dataBytes);
      endBefore(lastDecodedStart, videoDone, p.dataBytes);
      if (picture < pictures && pictureStart < videoDone + p.dataBytes) {
        const std::int64_t t = clock.VideoDecodingTime(picture);
        if (firstVideoStamp || t - lastVideoStamp > kStampInterval ||
            pictureStart == lastShownStart || pictureStart == lastDecodedStart) {
          p.stampedUnit = picture;
          p.hasDecodingTime = clock.VideoPresentationTime(picture) != t;
          lastVideoStamp = t;
          firstVideoStamp = false;
        }
      }
      credit += plan.audioShare;
      videoDone += p.dataBytes;
      videoLeft -= p.dataBytes;
      while (picture < pictures && pictureStart < videoDone) {
        ++picture;
        pictureStart += IndexWordSize(index[static_cast<std::size_t>(picture)]);
      }
      p.nextPicture = picture;
    } else {
      p.dataBytes = static_cast<std::int32_t>(std::min<std::int64_t>(audioLeft, kPacketDataBytes));
      p.dataOffset = audioDone;
      p.nextPicture = picture;
      endBefore(lastFrameStart, audioDone, p.dataBytes);
      if (frame < frames &&
          audioFrames[static_cast<std::size_t>(frame)] < audioDone + p.dataBytes) {
        const std::int64_t t = clock.AudioPresentationTime(frame);
        if (firstAudioStamp || t - lastAudioStamp > kStampInterval ||
            audioFrames[static_cast<std::size_t>(frame)] == lastFrameStart) {
          p.stampedUnit = frame;
          lastAudioStamp = t;
          firstAudioStamp = false;
        }
      }
      credit -= 1.0;
      audioDone += p.dataBytes;
      audioLeft -= p.dataBytes;
      while (frame < frames && audioFrames[static_cast<std::size_t>(frame)] < audioDone) ++frame;
    }
    bits = p.DataStartBit() + 8 * static_cast<std::int64_t>(p.dataBytes);
    packets.push_back(p);
  }
  return bits + 32;  // the end code
}

}  // namespace calvex::mux
