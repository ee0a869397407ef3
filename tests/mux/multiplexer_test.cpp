#include "mux/multiplexer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "mux/mux_test_streams.h"
#include "mux/packet_schedule.h"
#include "mux/system_stream_parser.h"
#include "support/test_support.h"

namespace calvex::mux {
namespace {

using calvex::testing::ReadFileBytes;
using calvex::testing::TempDir;
using calvex::testing::WriteFileBytes;
using testing::CheckDecoderModel;
using testing::ParseSystemStream;

// Records the interleaving progress and cancels at a chosen picture.
class ProgressHost : public NullHost {
 public:
  bool ConversionProgress(const ProgressRecord& r, ProgressKind kind, int thousandths) override {
    frames.push_back(r.frameNumber);
    kinds.push_back(kind);
    last = thousandths;
    lastRecord = r;
    return r.frameNumber == cancelAt;
  }
  std::vector<int> frames;
  std::vector<ProgressKind> kinds;
  int last = -1;
  int cancelAt = -1;
  ProgressRecord lastRecord;
};

std::vector<int> SizesFor(const std::vector<int>& display) {
  std::vector<int> sizes;
  for (std::size_t k = 0; k < display.size(); ++k)
    sizes.push_back(display[k] % 12 == 0 ? 7000 : display[k] < static_cast<int>(k) ? 800 : 2600);
  return sizes;
}

// Two seconds of hand-made video at 25 pictures per second and of Layer II audio whose frames are
// full of false sync words.
class MultiplexerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto display = testing::EncoderDisplayOrder(kPictures);
    video_ = testing::MakeFakeVideo(SizesFor(display), display);
    audio_ = testing::MakeFakeAudio(87, 2, 44100, 128, true);
    WriteFileBytes(videoPath(), video_.bytes);
    WriteFileBytes(audioPath(), audio_);
  }
  std::string videoPath() const { return dir_.File("~~temp.mpg"); }
  std::string audioPath() const { return dir_.File("~~temp.mp2"); }
  std::string outPath() const { return dir_.File("out.mpg"); }
  MuxParams params() const { return {25, 1, kPictures, 2, 128, 44100}; }

  Status Run(ProgressHost& host, const std::string& out, Multiplexer* mux = nullptr) {
    RunFlags flags;
    ConversionContext context(host, flags);
    Multiplexer local;
    Multiplexer& m = mux ? *mux : local;
    const Status s =
        m.MultiplexSystemStream(out, videoPath(), audioPath(), video_.index, params(), context);
    diskFull_ = flags.diskFull;
    return s;
  }

  static constexpr int kPictures = 50;
  TempDir dir_;
  testing::FakeVideo video_;
  std::vector<std::uint8_t> audio_;
  bool diskFull_ = false;
};

TEST_F(MultiplexerTest, WritesAStreamThatCarriesBothInputsWhole) {
  ProgressHost host;
  Multiplexer mux;
  ASSERT_EQ(Run(host, outPath(), &mux), kOk);
  const auto bytes = ReadFileBytes(outPath());
  const auto s = ParseSystemStream(bytes);
  ASSERT_EQ(s.error, "");
  EXPECT_TRUE(s.endCode);
  EXPECT_EQ(s.video, video_.bytes);
  EXPECT_EQ(s.audio, audio_);
  const MuxLayout& layout = mux.layout();
  EXPECT_EQ(static_cast<std::int64_t>(s.packets.size()), layout.packets);
  EXPECT_EQ(layout.audioFrames, 87);

  // One system header, in the first pack, with the bounds every packet repeats.
  ASSERT_FALSE(s.packs.empty());
  ASSERT_TRUE(s.packs[0].hasSystemHeader);
  for (std::size_t i = 1; i < s.packs.size(); ++i) EXPECT_FALSE(s.packs[i].hasSystemHeader);
  const auto& h = s.packs[0].systemHeader;
  EXPECT_EQ(h.rateBound, layout.plan.muxRate);
  EXPECT_EQ(h.audioBound, 1);
  EXPECT_EQ(h.videoBound, 1);
  EXPECT_TRUE(h.fixed && h.audioLock && h.videoLock);
  // A constrained parameter stream keeps within 46 KB of video and 4 KB of audio buffer.
  EXPECT_EQ(h.constrained, layout.videoBufferBound <= 46 && layout.audioBufferBound <= 32);
  ASSERT_EQ(h.entries.size(), 2u);
  EXPECT_EQ(h.entries[0].streamId, 0xC0);
  EXPECT_EQ(h.entries[0].scale, 0);
  EXPECT_EQ(h.entries[0].size, layout.audioBufferBound);
  EXPECT_EQ(h.entries[1].streamId, 0xE0);
  EXPECT_EQ(h.entries[1].scale, 1);
  EXPECT_EQ(h.entries[1].size, layout.videoBufferBound);
  for (const auto& pack : s.packs) EXPECT_EQ(pack.muxRate, layout.plan.muxRate);
  for (const auto& p : s.packets) {
    EXPECT_EQ(p.bufferScale, p.streamId == 0xE0 ? 1 : 0);
    EXPECT_EQ(p.bufferSize, p.streamId == 0xE0 ? layout.videoBufferBound : layout.audioBufferBound);
  }
  // The bounds cover the plan's and what the decoder buffers really hold.
  EXPECT_GE(layout.videoBufferBound, layout.plan.videoBufferBound);
  EXPECT_GE(layout.audioBufferBound, layout.plan.audioBufferBound);
  EXPECT_GE(layout.startDelay, layout.plan.startDelay);

  // The first packet is video, and both streams start together on the clock.
  EXPECT_EQ(s.packets[0].streamId, 0xE0);
  const auto videoPackets = s.PacketsOf(0xE0);
  const auto audioPackets = s.PacketsOf(0xC0);
  EXPECT_EQ(videoPackets[0]->dts, layout.startDelay);
  EXPECT_EQ(videoPackets[0]->pts, layout.startDelay + 3600);
  EXPECT_EQ(audioPackets[0]->pts, videoPackets[0]->pts);
  EXPECT_EQ(audioPackets[0]->dts, -1);

  // The whole file obeys the system target decoder, and the audio time stamps sit on real frames
  // although the frame data is full of 0xFFF patterns.
  const auto model = CheckDecoderModel(s, 3600.0, 1152 / 44100.0 * 90000.0);
  EXPECT_TRUE(model.faults.empty()) << model.faults.front();
  EXPECT_GE(model.latestArrivalMargin, -1.0);
  EXPECT_LE(model.videoPeak, layout.videoBufferBound * 1024);
  EXPECT_LE(model.audioPeak, layout.audioBufferBound * 128);
}

TEST_F(MultiplexerTest, ReportsInterleavingProgressPictureByPicture) {
  ProgressHost host;
  ASSERT_EQ(Run(host, outPath()), kOk);
  ASSERT_EQ(host.frames.size(), static_cast<std::size_t>(kPictures));
  for (int k = 0; k < kPictures; ++k) EXPECT_EQ(host.frames[static_cast<std::size_t>(k)], k);
  for (ProgressKind kind : host.kinds) EXPECT_EQ(kind, ProgressKind::kInterleaving);
  EXPECT_EQ(host.last, 1000);
  // Picture 49 at 25 per second: 00:00:01:24.
  EXPECT_EQ(host.lastRecord.seconds, 1);
  EXPECT_EQ(host.lastRecord.fraction, 24);
}

TEST_F(MultiplexerTest, SameInputGivesTheSameBytes) {
  ProgressHost host;
  ASSERT_EQ(Run(host, outPath()), kOk);
  ASSERT_EQ(Run(host, dir_.File("again.mpg")), kOk);
  EXPECT_EQ(ReadFileBytes(outPath()), ReadFileBytes(dir_.File("again.mpg")));
}

TEST_F(MultiplexerTest, CancelStopsAndLeavesNoDestination) {
  ProgressHost host;
  host.cancelAt = 10;
  EXPECT_EQ(Run(host, outPath()), kCancelled);
  EXPECT_EQ(host.frames.back(), 10);
  EXPECT_FALSE(std::filesystem::exists(outPath()));
  EXPECT_EQ(ReadFileBytes(videoPath()), video_.bytes);  // the inputs stay for the caller
  EXPECT_EQ(ReadFileBytes(audioPath()), audio_);
}

TEST_F(MultiplexerTest, FailuresGiveTheirCodesAndLeaveNoDestination) {
  ProgressHost host;
  RunFlags flags;
  ConversionContext context(host, flags);
  Multiplexer mux;
  EXPECT_EQ(mux.MultiplexSystemStream(outPath(), videoPath(), dir_.File("none.mp2"), video_.index,
                                      params(), context),
            kMuxInternal);
  EXPECT_EQ(mux.MultiplexSystemStream(outPath(), dir_.File("none.mpg"), audioPath(), video_.index,
                                      params(), context),
            kMuxInternal);
  EXPECT_EQ(mux.MultiplexSystemStream(dir_.File("missing/out.mpg"), videoPath(), audioPath(),
                                      video_.index, params(), context),
            kCreateFailed);
  // A video stream shorter than its index says.
  auto shortVideo = video_.bytes;
  shortVideo.resize(shortVideo.size() / 2);
  WriteFileBytes(dir_.File("short.mpg"), shortVideo);
  EXPECT_EQ(mux.MultiplexSystemStream(outPath(), dir_.File("short.mpg"), audioPath(), video_.index,
                                      params(), context),
            kReadFailed);
  // Audio coded otherwise than the parameters say.
  EXPECT_EQ(mux.MultiplexSystemStream(outPath(), videoPath(), audioPath(), video_.index,
                                      {25, 1, kPictures, 2, 128, 48000}, context),
            kMuxInternal);
  EXPECT_FALSE(std::filesystem::exists(outPath()));
  EXPECT_FALSE(flags.diskFull);
}

TEST_F(MultiplexerTest, FullDiskGives147AndRaisesTheFlag) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  ProgressHost host;
  EXPECT_EQ(Run(host, "/dev/full"), kDiskFull);
  EXPECT_TRUE(diskFull_);
  EXPECT_TRUE(std::filesystem::exists("/dev/full"));
}

TEST_F(MultiplexerTest, AnEmptyAudioFileGivesAVideoOnlyMultiplex) {
  WriteFileBytes(audioPath(), {});
  ProgressHost host;
  ASSERT_EQ(Run(host, outPath()), kOk);
  const auto s = ParseSystemStream(ReadFileBytes(outPath()));
  ASSERT_EQ(s.error, "");
  EXPECT_EQ(s.video, video_.bytes);
  EXPECT_TRUE(s.audio.empty());
}

TEST(ConstrainedParametersFlag, ReadFromTheSequenceHeader) {
  auto v = testing::MakeFakeVideo({100}, {0}).bytes;
  EXPECT_TRUE(ConstrainedParametersFlag(v));
  v[11] &= static_cast<std::uint8_t>(~0x04);
  EXPECT_FALSE(ConstrainedParametersFlag(v));
  v[3] = 0xB8;
  v[11] |= 0x04;
  EXPECT_FALSE(ConstrainedParametersFlag(v));
}

}  // namespace
}  // namespace calvex::mux
