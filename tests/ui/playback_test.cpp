// The playback component on made-up sources, a fake clock and a fake sound device: when pictures
// are shown, what a seek drops, the end notice; and the real sources on small files.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QThread>

#include "core/conversion_context.h"
#include "engine/default_drivers.h"
#include "engine/dispatcher.h"
#include "engine/source_files.h"
#include "made_up_media.h"
#include "support/media_tools.h"
#include "support/test_support.h"
#include "ui/playback/player.h"

namespace calvex::testing {
namespace {

using ui::playback::FrameTime;
using ui::playback::MediaInfo;
using ui::playback::OpenedMedia;
using ui::playback::Picture;
using ui::playback::Player;
using ui::playback::SoundFeed;

// A sound device whose sound is heard when the test says so.
class FakeOutput : public ui::playback::SoundOutput {
 public:
  bool Start(int, int, std::shared_ptr<SoundFeed> feed) override {
    feed_ = std::move(feed);
    heard_ = 0;
    received.clear();
    return true;
  }
  void Stop() override {
    feed_.reset();
    heard_ = 0;
  }
  void SetMuted(bool m) override { muted = m; }
  std::int64_t PlayedMicroseconds() const override { return heard_; }

  // Hears `ms` milliseconds of sound, once the feed has them.
  void Hear(int ms) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(ms));
    std::size_t got = 0;
    QElapsedTimer t;
    t.start();
    while (feed_ && got < samples.size() && t.elapsed() < 2000) {
      got += feed_->Read(samples.data() + got, samples.size() - got);
      if (got < samples.size()) QThread::msleep(1);
    }
    received.insert(received.end(), samples.begin(), samples.begin() + got);
    heard_ += static_cast<std::int64_t>(got) * 1000;
  }

  std::vector<std::int16_t> received;
  bool muted = false;

 private:
  std::shared_ptr<SoundFeed> feed_;
  std::int64_t heard_ = 0;
};

class PlayerTest : public ::testing::Test {
 protected:
  void Make(bool withSound) {
    info.hasPictures = true;
    info.rate = 25;
    info.scale = 1;
    info.frameCount = 50;
    info.hasSound = withSound;
    info.sampleRate = 1000;
    info.channels = 1;
    ui::playback::PlayerServices s;
    s.now = [this] { return now; };
    s.tickMs = 0;
    s.open = MadeUpServices(log, info).open;
    s.sound = [this] {
      auto o = std::make_unique<FakeOutput>();
      output = o.get();
      return o;
    };
    player = std::make_unique<Player>(std::move(s));
    QObject::connect(player.get(), &Player::positionChanged,
                     [this](int frame) { shown.emplace_back(frame, now); });
    QSignalSpy opened(player.get(), &Player::opened);
    player->Open(QStringLiteral("made-up.avi"));
    ASSERT_TRUE(opened.wait(2000));
    Tick();
    ASSERT_EQ(player->position(), 0);
    shown.clear();
  }

  // Ticks once the picture thread has filled the queue (or ended).
  void Tick() {
    QElapsedTimer t;
    t.start();
    while (player->picturesAhead() < 4 && !player->picturesFinished() && t.elapsed() < 2000)
      QThread::msleep(1);
    player->Tick();
  }
  void RunUntil(std::int64_t until, std::int64_t step = 5000) {
    for (; now <= until; now += step) Tick();
  }
  std::vector<int> Runs() { return log.PictureRuns(); }

  std::int64_t now = 0;
  MediaInfo info;
  SourceLog log;
  FakeOutput* output = nullptr;
  std::unique_ptr<Player> player;
  std::vector<std::pair<int, std::int64_t>> shown;  // frame, clock time
};

TEST_F(PlayerTest, PicturesAreShownAtTheirTimesAndTheEndIsNoticedOnce) {
  Make(false);
  QSignalSpy ended(player.get(), &Player::ended);
  player->Play();
  RunUntil(2100000);
  ASSERT_EQ(shown.size(), 49u);
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const auto [frame, at] = shown[i];
    EXPECT_EQ(frame, static_cast<int>(i) + 1);
    EXPECT_GE(at, FrameTime(info, frame)) << "frame " << frame << " early";
    EXPECT_LT(at, FrameTime(info, frame) + 5000) << "frame " << frame << " late";
  }
  EXPECT_EQ(ended.count(), 1);
  EXPECT_FALSE(player->playing());
  RunUntil(now + 200000);
  EXPECT_EQ(ended.count(), 1);
  // Played again from the last frame, it starts over and ends once more.
  player->Play();
  RunUntil(now + 2100000);
  EXPECT_EQ(ended.count(), 2);
}

TEST_F(PlayerTest, SeekingDropsThePicturesDecodedAheadAndPlaysOnFromTheNewFrame) {
  Make(false);
  player->Play();
  RunUntil(200000);
  ASSERT_EQ(player->position(), 5);
  shown.clear();
  player->Seek(30);
  RunUntil(now + 200000);
  ASSERT_GE(shown.size(), 5u);
  for (std::size_t i = 0; i < shown.size(); ++i)
    EXPECT_EQ(shown[i].first, 30 + static_cast<int>(i));
  // The picture sought comes at once; the next one a frame time later.
  EXPECT_EQ(shown[1].second - shown[0].second, 40000);
  EXPECT_EQ(Runs(), (std::vector<int>{0, 30}));
}

TEST_F(PlayerTest, StepsWhilePausedUseThePicturesAlreadyDecoded) {
  Make(false);
  player->Seek(1);
  Tick();
  player->Seek(2);
  Tick();
  EXPECT_EQ(Runs(), (std::vector<int>{0}));
  player->Seek(20);  // not among them: a new run
  Tick();
  player->Seek(-5);  // clamped to the file
  Tick();
  EXPECT_EQ(Runs(), (std::vector<int>{0, 20, 0}));
  std::vector<int> frames;
  for (const auto& s : shown) frames.push_back(s.first);
  EXPECT_EQ(frames, (std::vector<int>{1, 2, 20, 0}));
}

TEST_F(PlayerTest, WithSoundThePicturesFollowTheSoundHeardFromTheFramePlayed) {
  Make(true);
  player->Play();
  ASSERT_NE(output, nullptr);
  EXPECT_TRUE(player->soundIsClock());
  RunUntil(400000);  // nothing heard yet: the pictures wait
  EXPECT_TRUE(shown.empty());
  output->Hear(1000);
  for (int i = 0; i < 10; ++i) Tick();  // late pictures are passed over
  EXPECT_EQ(player->position(), 25);
  ASSERT_FALSE(output->received.empty());
  EXPECT_EQ(output->received.front(), 0);

  player->Seek(40);  // the sound starts again with the frame sought
  Tick();
  EXPECT_EQ(player->position(), 40);
  output->Hear(100);
  ASSERT_FALSE(output->received.empty());
  EXPECT_EQ(output->received.front(), 1600);
  Tick();
  EXPECT_EQ(player->position(), 42);

  player->SetMuted(true);
  EXPECT_TRUE(output->muted);
  // A sound that stops being heard gives the clock back to the monotonic clock.
  player->Pause();
  player->Seek(10);
  Tick();
  player->Play();
  output->Hear(40);
  Tick();
  ASSERT_EQ(player->position(), 11);
  RunUntil(now + 600000, 10000);
  EXPECT_FALSE(player->soundIsClock());
  EXPECT_GT(player->position(), 11);
}

TEST_F(PlayerTest, FastPlayShowsKeyPicturesOnePerFrameTimeWithoutSound) {
  Make(true);
  player->Play();
  player->SetFast(true);
  EXPECT_FALSE(player->soundIsClock());
  RunUntil(300000);
  EXPECT_TRUE(log.keyOnlyAsked);
  ASSERT_GE(shown.size(), 3u);
  bool jumped = false;  // key pictures are ten frames apart
  for (std::size_t i = 1; i < shown.size(); ++i) {
    EXPECT_GE(shown[i].second - shown[i - 1].second, 40000);
    EXPECT_GT(shown[i].first, shown[i - 1].first);
    jumped |= shown[i].first - shown[i - 1].first == 10;
  }
  EXPECT_TRUE(jumped);
  // Back to normal play: on from the next frame, with sound.
  const int at = player->position();
  player->SetFast(false);
  EXPECT_TRUE(player->soundIsClock());
  Tick();
  EXPECT_EQ(player->position(), at + 1);
}

TEST_F(PlayerTest, ADecodingFailureIsReportedOnceAndEndsPlay) {
  log.failAt = kAviDecodeFailed;
  Make(false);
  QSignalSpy failed(player.get(), &Player::decodeFailed);
  QSignalSpy ended(player.get(), &Player::ended);
  player->Play();
  RunUntil(1000000);
  ASSERT_EQ(failed.count(), 1);
  EXPECT_EQ(failed.front().front().toInt(), static_cast<int>(kAviDecodeFailed));
  EXPECT_EQ(ended.count(), 0);
  EXPECT_FALSE(player->playing());
  EXPECT_EQ(player->position(), 10);
}

// --- The real sources ----------------------------------------------------------------------

// A clip whose frame n is grey at luminance 16 + 6n, with a sine tone.
std::string MakeCountingClip(const TempDir& dir, const std::string& name,
                             const std::string& codec) {
  const std::string path = dir.File(name);
  const bool ok = Ffmpeg(
      "-f lavfi -i color=black:s=64x48:r=25:d=1.2,format=yuv420p,geq=lum='16+6*N':cb=128:cr=128 "
      "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=1.2 " +
      codec + " " + ShellQuote(path));
  return ok ? path : std::string();
}

// The first 16 pictures delivered, across a group boundary (a decoder may still hand over a
// picture it held after being told to stop).
struct CollectPictures : ui::playback::PictureSink {
  static constexpr std::size_t kWanted = 16;
  bool Deliver(Picture p) override {
    if (frames.size() == kWanted) return false;
    frames.push_back(p.frame);
    greys.push_back(p.image.pixelColor(32, 24).green());
    return frames.size() < kWanted;
  }
  bool Stopped() const override { return false; }
  bool KeyPicturesOnly() const override { return false; }
  std::vector<int> frames, greys;
};

struct CollectSound : ui::playback::SoundSink {
  void Begin(std::int64_t s) override { start = s; }
  bool Write(const std::int16_t*, std::size_t count) override {
    samples += count;
    return samples < 20000;
  }
  bool Stopped() const override { return false; }
  std::int64_t start = -1;
  std::size_t samples = 0;
};

TEST(PlaybackSources, PicturesAndSoundStartAtTheFrameAskedFor) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  setenv("XDG_DATA_HOME", dir.File("data").c_str(), 1);  // the MPEG index cache
  std::filesystem::create_directories(dir.File("ours"));
  const struct {
    const char* name;
    const char* codec;
  } clips[] = {{"clip.avi", "-c:v mjpeg -q:v 2 -c:a pcm_s16le"},
               {"clip.mpg", "-c:v mpeg1video -q:v 2 -bf 2 -g 12 -c:a mp2 -f mpeg"},
               {"ours.mpg", ""}};
  for (const auto& clip : clips) {
    SCOPED_TRACE(clip.name);
    std::string path;
    if (std::string(clip.name) == "ours.mpg") {
      // Our own encoder's groups, made from the AVI.
      SourceEntry entry;
      ASSERT_EQ(MakeSourceEntry(dir.File("clip.avi"), DefaultInfoReaders(), entry), kOk);
      StandaloneContext context;
      ASSERT_EQ(ConvertEntry(entry, dir.File("ours"), DefaultDrivers(), context.get()),
                kEntryConverted);
      path = dir.File("ours/clip.mpg");
    } else {
      path = MakeCountingClip(dir, clip.name, clip.codec);
    }
    ASSERT_FALSE(path.empty());
    int scanned = 0;  // progress reports of the index scan
    video_decoder::ScanCallbacks scan;
    scan.progress = [&scanned](int) { ++scanned; };
    OpenedMedia media;
    ASSERT_EQ(ui::playback::OpenMedia(path, scan, media), kOk);
    EXPECT_EQ(media.info.frameCount, 30);
    if (media.info.kind == ui::playback::MediaKind::kMpeg) {
      // Scanned once; the second opening takes the index from the cache.
      EXPECT_GT(scanned, 0);
      const int first = scanned;
      OpenedMedia again;
      ASSERT_EQ(ui::playback::OpenMedia(path, scan, again), kOk);
      EXPECT_EQ(scanned, first);
      EXPECT_EQ(again.info.groups.size(), media.info.groups.size());
      EXPECT_EQ(again.info.frameCount, 30);
    }
    EXPECT_EQ(media.info.width, 64);
    ASSERT_TRUE(media.sound);
    // Forward, back into an earlier group, and to a B picture after a run to the end.
    for (int first : {7, 2, 29, 13, 0}) {
      CollectPictures pictures;
      ASSERT_EQ(media.pictures->Run(first, pictures), kOk);
      std::vector<int> expected;
      for (int f = first; f < std::min<int>(first + CollectPictures::kWanted, 30); ++f)
        expected.push_back(f);
      EXPECT_EQ(pictures.frames, expected) << "from " << first;
      for (std::size_t i = 0; i < pictures.frames.size(); ++i)
        EXPECT_NEAR(pictures.greys[i], pictures.frames[i] * 6 * 255 / 219, 4);
      CollectSound sound;
      ASSERT_EQ(media.sound->Run(first, sound), kOk);
      const std::int64_t at = FrameTime(media.info, first);
      // AVI sound starts at the frame's own sample; MPEG sound at the audio frame that holds it.
      EXPECT_LE(sound.start, at);
      EXPECT_GT(sound.start, at - 1152 * 1000000 / 44100 - 1);
      EXPECT_GT(sound.samples, 0u);
    }
  }
}

}  // namespace
}  // namespace calvex::testing
