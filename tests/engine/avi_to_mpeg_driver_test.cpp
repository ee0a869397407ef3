// The AVI to MPEG driver over a stand-in AVI reader: the output file, frame-rate mapping,
// sections, progress, cancel, disk full and failed reads.
#include "engine/avi_to_mpeg_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "engine/default_drivers.h"
#include "support/test_support.h"
#include "video_encoder/encoder_test_support.h"

namespace calvex {
namespace {

using calvex::testing::ListDirectory;
using calvex::testing::TempDir;

// An AVI of `frames` frames at `rate` (numerator << 16 | denominator) whose frame k is a flat
// grey of level 20 + 6 k (mod 216) or, when `moving`, the synthetic test picture k.
class FakeAvi : public AviFrameReader {
 public:
  FakeAvi(int frames, std::uint32_t rate, bool moving = false)
      : frames_(frames), rate_(rate), moving_(moving) {}

  Status Open(const std::string&, BitmapInfoHeader& request, media::AviOpenInfo& info) override {
    if (openStatus != kOk) return openStatus;
    request = MakeBitmapHeader24(request.width, request.height);
    width_ = request.width;
    height_ = request.height;
    info.frameRatePacked = rate_;
    info.frameCount = frames_;
    info.width = width_;
    info.height = height_;
    open = true;
    return kOk;
  }
  Status GetFrame(std::int32_t frame, std::uint8_t* buffer) override {
    reads.push_back(frame);
    if (frame == failAt || frame < 0 || frame >= frames_) return 1001;
    if (moving_) {
      video::testing::SyntheticFrame(width_, height_, frame, buffer);
    } else {
      const auto level = static_cast<std::uint8_t>(20 + (6 * frame) % 216);
      std::fill_n(buffer, MakeBitmapHeader24(width_, height_).sizeImage, level);
    }
    return kOk;
  }
  void Close() override { open = false; }

  Status openStatus = kOk;
  int failAt = -1;
  bool open = false;
  std::vector<int> reads;

 private:
  int frames_;
  std::uint32_t rate_;
  bool moving_;
  int width_ = 0, height_ = 0;
};

class TestHost : public NullHost {
 public:
  bool ConversionProgress(const ProgressRecord& r, ProgressKind kind, int thousandths) override {
    EXPECT_EQ(kind, ProgressKind::kVideo);
    progress.push_back(thousandths);
    frames.push_back(r.frameNumber);
    return cancelAtProgress >= 0 && static_cast<int>(progress.size()) > cancelAtProgress;
  }
  bool PollCancel() override { return ++polls > cancelAtPoll && cancelAtPoll >= 0; }
  void SetStatusField(StatusField field, const std::string& text) override {
    if (field == StatusField::kOutputSize) size = text;
    if (field == StatusField::kOutputRate) rate = text;
  }
  std::vector<int> progress, frames;
  int cancelAtProgress = -1, cancelAtPoll = -1, polls = 0;
  std::string size, rate;
};

constexpr std::uint32_t Rate(int num, int den) {
  return static_cast<std::uint32_t>(num) << 16 | static_cast<std::uint32_t>(den);
}

struct Fixture {
  TempDir dir;
  ConversionSettings settings;
  AudioEncodeParams audio;
  AviToMpegJob job;
  TestHost host;
  RunFlags flags;
  ConversionContext context{host, flags, 2};

  Fixture(int width, int height, int rateIndex) {
    settings.aviToMpeg.width = width;
    settings.aviToMpeg.height = height;
    settings.aviToMpeg.frameRateIndex = rateIndex;
    settings.aviToMpeg.dataRateKBps = 150;
    settings.videoBitRate = VideoBitRateFor(settings.aviToMpeg);
    job.source = dir.File("movie.avi");
    job.destination = dir.File("movie.mpg");
    job.settings = &settings;
    job.audio = &audio;
  }
};

TEST(AviToMpeg, MovieWithoutSoundBecomesAVideoStream) {
  Fixture f(160, 120, 0);
  FakeAvi avi(20, Rate(30, 1), true);
  AviToMpegDriver driver(avi);
  ASSERT_EQ(driver.Run(f.job, f.context), kOk);
  EXPECT_FALSE(avi.open);
  EXPECT_EQ(ListDirectory(f.dir.path()), (std::vector<std::string>{"movie.mpg"}));
  EXPECT_EQ(f.host.size, "160 x 120");
  EXPECT_EQ(f.host.rate, "30.000");
  EXPECT_EQ(driver.pictureIndex().size(), 21u);
  // Progress for each of the 20 fetched pictures, then the end.
  ASSERT_EQ(f.host.progress.size(), 21u);
  EXPECT_EQ(f.host.progress[0], 0);
  EXPECT_EQ(f.host.progress[19], 1000);
  EXPECT_EQ(f.host.progress[20], 1000);
  // Each frame is read once, in coding order.
  std::vector<int> frames = avi.reads;
  std::sort(frames.begin(), frames.end());
  for (int k = 0; k < 20; ++k) EXPECT_EQ(frames[static_cast<std::size_t>(k)], k);

  if (calvex::testing::HaveTool("ffmpeg")) {
    std::string log;
    const auto decoded = video::testing::DecodeWithFfmpeg(f.job.destination, 160, 120, &log);
    EXPECT_EQ(decoded.size(), 20u);
    EXPECT_EQ(log, "");
  }
}

// Decodes the output and names, for each picture, the AVI frame whose grey level it shows.
std::vector<int> ShownFrames(const std::string& path, int width, int height) {
  std::vector<int> shown;
  for (const auto& pic : video::testing::DecodeWithFfmpeg(path, width, height, nullptr)) {
    double sum = 0;
    for (auto v : pic.y) sum += v;
    const double y = sum / static_cast<double>(pic.y.size());
    // Studio-range luminance of grey g is 16 + g x 219 / 255.
    const double grey = (y - 16) * 255.0 / 219.0;
    shown.push_back(static_cast<int>(std::lround((grey - 20) / 6)));
  }
  return shown;
}

TEST(AviToMpeg, FrameRateMapping) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  {
    // 15 frames per second at 30: every frame twice.
    Fixture f(64, 48, 0);
    FakeAvi avi(12, Rate(15, 1));
    AviToMpegDriver driver(avi);
    ASSERT_EQ(driver.Run(f.job, f.context), kOk);
    EXPECT_EQ(f.settings.outputFrameCount, 24);
    const auto shown = ShownFrames(f.job.destination, 64, 48);
    ASSERT_EQ(shown.size(), 24u);
    for (int n = 0; n < 24; ++n) EXPECT_EQ(shown[static_cast<std::size_t>(n)], n / 2) << n;
  }
  {
    // 30 at 25: every sixth frame is dropped.
    Fixture f(64, 48, 2);
    FakeAvi avi(30, Rate(30, 1));
    AviToMpegDriver driver(avi);
    ASSERT_EQ(driver.Run(f.job, f.context), kOk);
    EXPECT_EQ(f.settings.outputFrameCount, 25);
    const auto shown = ShownFrames(f.job.destination, 64, 48);
    ASSERT_EQ(shown.size(), 25u);
    for (int n = 0; n < 25; ++n) {
      EXPECT_EQ(shown[static_cast<std::size_t>(n)], SourceFrameFor(f.settings, n)) << n;
      EXPECT_NE(shown[static_cast<std::size_t>(n)] % 6, 5) << n;
    }
  }
}

TEST(AviToMpeg, SectionAtTheSameRate) {
  Fixture f(64, 48, 0);
  f.settings.sectionFirst = 7;
  f.settings.sectionLast = 16;
  FakeAvi avi(40, Rate(30, 1));
  AviToMpegDriver driver(avi);
  ASSERT_EQ(driver.Run(f.job, f.context), kOk);
  EXPECT_EQ(driver.pictureIndex().size(), 11u);
  EXPECT_EQ(*std::min_element(avi.reads.begin(), avi.reads.end()), 7);
  EXPECT_EQ(*std::max_element(avi.reads.begin(), avi.reads.end()), 16);
}

TEST(AviToMpeg, FailuresLeaveNothingBehind) {
  {
    Fixture f(64, 48, 0);
    FakeAvi avi(10, Rate(30, 1));
    avi.openStatus = 1001;
    AviToMpegDriver driver(avi);
    EXPECT_EQ(driver.Run(f.job, f.context), 1001u);
    EXPECT_TRUE(ListDirectory(f.dir.path()).empty());
  }
  {
    Fixture f(64, 48, 0);
    FakeAvi avi(10, Rate(30, 1));
    avi.failAt = 4;
    AviToMpegDriver driver(avi);
    EXPECT_EQ(driver.Run(f.job, f.context), kAviDecodeFailed);
    EXPECT_FALSE(avi.open);
    EXPECT_TRUE(ListDirectory(f.dir.path()).empty());
  }
  {
    Fixture f(64, 48, 0);
    FakeAvi avi(0, Rate(30, 1));
    AviToMpegDriver driver(avi);
    EXPECT_EQ(driver.Run(f.job, f.context), kAviNoVideo);
    EXPECT_TRUE(ListDirectory(f.dir.path()).empty());
  }
  {
    // The audio of a movie with sound cannot be read (there is no such file): the video's
    // temporary stream goes too.
    Fixture f(64, 48, 0);
    f.settings.aviInfo.audioFormatTag = 1;
    FakeAvi avi(10, Rate(30, 1));
    AviToMpegDriver driver(avi);
    EXPECT_EQ(driver.Run(f.job, f.context), kMediaAviOpen1);
    EXPECT_FALSE(avi.open);
    EXPECT_TRUE(ListDirectory(f.dir.path()).empty());
  }
}

TEST(AviToMpeg, DiskFull) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  Fixture f(64, 48, 0);
  f.job.destination = "/dev/full";
  FakeAvi avi(30, Rate(30, 1), true);
  AviToMpegDriver driver(avi);
  EXPECT_EQ(driver.Run(f.job, f.context), kDiskFull);
  EXPECT_TRUE(f.flags.diskFull);
  EXPECT_TRUE(std::filesystem::exists("/dev/full"));
}

TEST(AviToMpeg, CancelLeavesNoFile) {
  for (bool atProgress : {false, true}) {
    Fixture f(64, 48, 0);
    if (atProgress)
      f.host.cancelAtProgress = 4;
    else
      f.host.cancelAtPoll = 6;
    FakeAvi avi(30, Rate(30, 1), true);
    AviToMpegDriver driver(avi);
    EXPECT_EQ(driver.Run(f.job, f.context), kCancelled);
    EXPECT_TRUE(f.flags.cancelled);
    EXPECT_TRUE(ListDirectory(f.dir.path()).empty());
  }
}

// A real AVI without sound through the media layer and the default driver set.
TEST(AviToMpeg, RealAviWithoutSound) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  Fixture f(160, 120, 2);
  const auto made = calvex::testing::RunCommand(
      "ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=176x144:rate=25:duration=1 -c:v mjpeg "
      "-g 5 -y " +
      calvex::testing::ShellQuote(f.job.source));
  ASSERT_EQ(made.exitCode, 0) << made.output;
  ASSERT_EQ(media::RAVIGetInfo(f.job.source, f.settings.aviInfo), kAviNoAudio);
  ASSERT_EQ(DefaultDrivers().aviToMpeg(f.job, f.context), kOk);
  EXPECT_EQ(ListDirectory(f.dir.path()), (std::vector<std::string>{"movie.avi", "movie.mpg"}));
  std::string log;
  const auto decoded = video::testing::DecodeWithFfmpeg(f.job.destination, 160, 120, &log);
  EXPECT_EQ(decoded.size(), 25u);
  EXPECT_EQ(log, "");
}

}  // namespace
}  // namespace calvex
