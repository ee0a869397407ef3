#include "mux/packet_schedule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "mux/mux_test_streams.h"

namespace calvex::mux {
namespace {

using testing::AudioFrameStarts;
using testing::EncoderDisplayOrder;
using testing::MakeFakeAudio;
using testing::MakeFakeVideo;

// Picture sizes by type for the encoder's group structure: I 6000, P 2500, B 900 bytes.
std::vector<int> SizesFor(const std::vector<int>& display) {
  std::vector<int> sizes;
  for (std::size_t k = 0; k < display.size(); ++k) {
    const auto step = display[k] - static_cast<int>(k);
    sizes.push_back(display[k] % 12 == 0 ? 6000 : step < 0 ? 900 : 2500);
  }
  return sizes;
}

struct Scenario {
  testing::FakeVideo video;
  std::vector<std::int64_t> frames;
  MuxPlan plan;
  std::vector<ScheduledPacket> packets;
  std::int64_t bits = 0;

  Scenario(int pictures, int fps, int audioFrames) {
    const auto display = EncoderDisplayOrder(pictures);
    video = MakeFakeVideo(SizesFor(display), display);
    const auto audio = MakeFakeAudio(audioFrames, 2, 44100, 128, true);
    for (std::size_t f : AudioFrameStarts(audio)) frames.push_back(static_cast<std::int64_t>(f));
    const MuxParams params{fps, 1, pictures, 2, 128, 44100};
    EXPECT_EQ(PlanMultiplex(video.index, params, static_cast<std::int64_t>(audio.size()), plan),
              kOk);
    bits = SchedulePackets(plan, video.index, frames, packets);
  }

  std::int64_t PictureStart(std::int64_t k) const {
    std::int64_t start = 0;
    for (std::int64_t i = 0; i <= k; ++i)
      start += IndexWordSize(video.index[static_cast<std::size_t>(i)]);
    return start;
  }
  std::int64_t Scr(const ScheduledPacket& p) const {
    return static_cast<std::int64_t>(static_cast<double>(p.startBit) * plan.ticksPerBit);
  }
};

TEST(PacketSchedule, OnlyTheFirstPackHasTheSystemHeaderAndPacksFollowEveryHalfSecond) {
  const Scenario s(75, 25, 130);  // three seconds
  ASSERT_FALSE(s.packets.empty());
  EXPECT_TRUE(s.packets[0].video);  // the audio credit starts at 0
  EXPECT_TRUE(s.packets[0].packHeader);
  EXPECT_TRUE(s.packets[0].systemHeader);
  std::int64_t lastPack = 0;
  int packs = 0;
  for (std::size_t i = 1; i < s.packets.size(); ++i) {
    const ScheduledPacket& p = s.packets[i];
    EXPECT_FALSE(p.systemHeader) << i;
    EXPECT_EQ(p.packHeader, s.Scr(p) - lastPack > kStampInterval) << i;
    if (p.packHeader) {
      lastPack = s.Scr(p);
      ++packs;
    }
  }
  EXPECT_GE(packs, 5);
}

TEST(PacketSchedule, CarriesEveryByteOnceAndAdvancesBothStreamsInProportion) {
  const Scenario s(75, 25, 130);
  std::int64_t video = 0, audio = 0, videoPackets = 0, audioPackets = 0;
  for (const ScheduledPacket& p : s.packets) {
    EXPECT_LE(p.dataBytes, kPacketDataBytes);
    if (p.video) {
      EXPECT_EQ(p.dataOffset, video);
      video += p.dataBytes;
      ++videoPackets;
    } else {
      EXPECT_EQ(p.dataOffset, audio);
      audio += p.dataBytes;
      ++audioPackets;
    }
    if (video < s.plan.videoBytes) {
      EXPECT_NEAR(static_cast<double>(audioPackets), s.plan.audioShare * videoPackets,
                  1.0 + s.plan.audioShare);
    }
  }
  EXPECT_EQ(video, s.plan.videoBytes);
  EXPECT_EQ(audio, s.plan.audioBytes);
  // The final units begin packets of their own: up to two more video packets, one more audio.
  EXPECT_GE(videoPackets, s.plan.videoPackets);
  EXPECT_LE(videoPackets, s.plan.videoPackets + 2);
  EXPECT_GE(audioPackets, s.plan.audioPackets);
  EXPECT_LE(audioPackets, s.plan.audioPackets + 1);
  const ScheduledPacket& last = s.packets.back();
  EXPECT_EQ(s.bits, last.DataStartBit() + 8 * last.dataBytes + 32);
}

TEST(PacketSchedule, FirstPacketOfEachStreamCarriesTheTimeStampOfItsFirstUnit) {
  const Scenario s(75, 25, 130);
  const ScheduledPacket* firstVideo = nullptr;
  const ScheduledPacket* firstAudio = nullptr;
  for (const ScheduledPacket& p : s.packets) {
    if (p.video && !firstVideo) firstVideo = &p;
    if (!p.video && !firstAudio) firstAudio = &p;
  }
  ASSERT_TRUE(firstVideo && firstAudio);
  EXPECT_EQ(firstVideo->stampedUnit, 0);
  EXPECT_TRUE(firstVideo->hasDecodingTime);  // an I picture is shown after the next reference
  EXPECT_EQ(firstVideo->StampBytes(), 12);
  EXPECT_EQ(firstAudio->stampedUnit, 0);
  EXPECT_EQ(firstAudio->StampBytes(), 7);
}

TEST(PacketSchedule, StampsBelongToTheFirstUnitStartingInThePacketAndRecurEveryHalfSecond) {
  const Scenario s(75, 25, 130);
  const StreamClock clock(s.plan, s.video.index, 0);
  std::int64_t lastVideo = -1, lastAudio = -1;
  int videoStamps = 0, audioStamps = 0;
  // Units whose packets are stamped in any case: the last picture decoded (coding number 74), the
  // last shown (display 74 is the P picture of coding number 73) and the last audio frame.
  const auto holds = [](const ScheduledPacket& p, std::int64_t offset) {
    return offset >= p.dataOffset && offset < p.dataOffset + p.dataBytes;
  };
  for (const ScheduledPacket& p : s.packets) {
    // The first unit that starts in the packet, if any.
    std::int64_t unit = -1;
    if (p.video) {
      for (std::int64_t k = 0; k < 75 && unit < 0; ++k)
        if (holds(p, s.PictureStart(k))) unit = k;
    } else {
      for (std::size_t m = 0; m < s.frames.size() && unit < 0; ++m)
        if (holds(p, s.frames[m])) unit = static_cast<std::int64_t>(m);
    }
    if (unit < 0) {
      EXPECT_EQ(p.stampedUnit, -1) << "a packet where nothing starts carries no time stamp";
      continue;
    }
    const std::int64_t t =
        p.video ? clock.VideoDecodingTime(unit) : clock.AudioPresentationTime(unit);
    std::int64_t& last = p.video ? lastVideo : lastAudio;
    const std::int64_t unitStart =
        p.video ? s.PictureStart(unit) : s.frames[static_cast<std::size_t>(unit)];
    const bool final =
        p.video ? unit == 73 || unit == 74 : unit + 1 == static_cast<std::int64_t>(s.frames.size());
    if (final) {
      EXPECT_EQ(unitStart, p.dataOffset) << "a final unit begins its packet";
    }
    const bool due = last < 0 || t - last > kStampInterval || final;
    EXPECT_EQ(p.stampedUnit >= 0, due) << (p.video ? "video" : "audio") << " unit " << unit;
    if (p.stampedUnit >= 0) {
      EXPECT_EQ(p.stampedUnit, unit);
      last = t;
      ++(p.video ? videoStamps : audioStamps);
    }
  }
  EXPECT_GE(videoStamps, 6);
  EXPECT_GE(audioStamps, 6);
}

TEST(PacketSchedule, DecodingTimeOnlyWhereItDiffersFromThePresentationTime) {
  const Scenario s(75, 25, 130);
  int bStamps = 0, referenceStamps = 0;
  for (const ScheduledPacket& p : s.packets) {
    if (!p.video || p.stampedUnit < 0) continue;
    const int step = IndexWordStep(s.video.index[static_cast<std::size_t>(p.stampedUnit)]);
    EXPECT_EQ(p.hasDecodingTime, step != -1);  // B pictures are shown as they are decoded
    ++(step == -1 ? bStamps : referenceStamps);
  }
  EXPECT_GT(referenceStamps, 0);
  EXPECT_GT(bStamps, 0);
}

TEST(PacketSchedule, ClockShowsPicturesInDisplayOrderAndStartsTheAudioWithThem) {
  const Scenario s(13, 25, 10);
  const StreamClock clock(s.plan, s.video.index, 5000);
  // Coding order I0 P3 B1 B2 P6 ...: decoded one period apart from 5000, shown from 5000 + 3600.
  EXPECT_EQ(clock.VideoDecodingTime(0), 5000);
  EXPECT_EQ(clock.VideoPresentationTime(0), 8600);
  EXPECT_EQ(clock.VideoDecodingTime(1), 8600);
  EXPECT_EQ(clock.VideoPresentationTime(1), 5000 + 4 * 3600);  // P3
  EXPECT_EQ(clock.VideoPresentationTime(2), 5000 + 2 * 3600);  // B1, decoded and shown at once
  EXPECT_EQ(clock.VideoDecodingTime(2), 5000 + 2 * 3600);
  EXPECT_EQ(clock.AudioPresentationTime(0), 8600);
  EXPECT_EQ(clock.AudioPresentationTime(10),
            8600 + static_cast<std::int64_t>(10 * 1152 / 44100.0 * 90000));
}

TEST(PacketSchedule, EmptyAudioPacketWhenTheCreditOutlivesTheAudio) {
  Scenario s(25, 25, 4);
  s.plan.audioShare = 3.0;  // more audio packets are due than the audio fills
  SchedulePackets(s.plan, s.video.index, s.frames, s.packets);
  int empty = 0;
  std::int64_t audio = 0;
  for (const ScheduledPacket& p : s.packets) {
    if (p.video) continue;
    audio += p.dataBytes;
    if (p.dataBytes == 0) {
      ++empty;
      EXPECT_EQ(audio, s.plan.audioBytes);
      EXPECT_EQ(p.PacketLength(), 3);
      EXPECT_EQ(p.stampedUnit, -1);
    }
  }
  EXPECT_GT(empty, 0);
  EXPECT_EQ(audio, s.plan.audioBytes);
}

}  // namespace
}  // namespace calvex::mux
