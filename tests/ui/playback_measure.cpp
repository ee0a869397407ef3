// Measures the playback component on real files with real time (not a test: run it by hand,
// `build/tests/ui/calvex_playback_measure`, under Xvfb or QT_QPA_PLATFORM=offscreen):
//   - how long a 10 s clip takes to play, paced by the monotonic clock (no sound device) and by a
//     stand-in sound device that takes the samples at their rate;
//   - on the flash-and-beep movie (AVI, and the MPEG file our engine makes of it), how far each
//     flash is shown from the start of its beep in the sound handed to the device;
//   - the longest stall of the user-interface thread while 640 x 480 files play, seek and pause,
//     each picture drawn in a window;
//   - the peak memory of the process.
// With --device the program's own sound output is used instead of the stand-in, when the machine
// has a sound device.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>
#include <thread>

#include "core/conversion_context.h"
#include "engine/default_drivers.h"
#include "engine/dispatcher.h"
#include "engine/source_files.h"
#include "support/media_tools.h"
#include "support/test_support.h"
#include "ui/playback/player.h"
#include "ui/playback/qt_sound_output.h"
#include "ui/player/player_widgets.h"

namespace calvex::testing {
namespace {

using ui::playback::Player;

// A stand-in for a sound card: on its own thread it takes the samples at their rate, 5 ms at a
// time, and keeps the first channel of what it took.
class PacedSound : public ui::playback::SoundOutput {
 public:
  ~PacedSound() override { Stop(); }
  bool Start(int rate, int channels, std::shared_ptr<ui::playback::SoundFeed> feed) override {
    Stop();
    {
      std::lock_guard lock(mutex_);
      received_.clear();
    }
    taken_ = 0;
    running_ = true;
    thread_ = std::thread([this, rate, channels, feed] {
      const auto start = std::chrono::steady_clock::now();
      std::vector<std::int16_t> block;
      std::int64_t frames = 0;
      while (running_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // A device that ran dry goes on from where the sound is, as a real one does.
        const std::int64_t due = static_cast<std::int64_t>(elapsed * rate) - frames;
        if (due <= 0) continue;
        block.resize(static_cast<std::size_t>(due * channels));
        const std::size_t got = feed->Read(block.data(), block.size()) / channels;
        frames += static_cast<std::int64_t>(got) + (got == 0 ? due : 0);
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < got; ++i) received_.push_back(block[i * channels]);
        taken_ = static_cast<std::int64_t>(received_.size()) * 1000000 / rate;
      }
    });
    return true;
  }
  void Stop() override {
    running_ = false;
    if (thread_.joinable()) thread_.join();
  }
  void SetMuted(bool) override {}
  std::int64_t PlayedMicroseconds() const override { return taken_; }
  std::vector<std::int16_t> Received() {
    std::lock_guard lock(mutex_);
    return received_;
  }

 private:
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<std::int64_t> taken_{0};
  std::mutex mutex_;
  std::vector<std::int16_t> received_;
};

// CPU time of the calling thread, in milliseconds.
double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Playback {
  double seconds = 0;  // from Play to the end notice
  // The longest gap between two ticks of a 1 ms timer on the user-interface thread, and the
  // most CPU time that thread spent in such a gap (a gap without it was the system's scheduling,
  // not the program's work).
  double longestStallMs = 0;
  double longestBusyMs = 0;
  double longestCallMs = 0;
  std::vector<double> flashOffsetsMs;
};

// Plays `path` to its end. With `exercise`, seeks every 700 ms and pauses for a moment every
// 2 s for the first 7 s, then plays on to the end. The flash offsets are measured when `paced` is
// given.
Playback Play(const std::string& path, ui::playback::SoundOutputFactory sound, PacedSound** paced,
              bool exercise) {
  Playback result;
  Player player(ui::playback::DefaultPlayerServices(std::move(sound)));
  // The exercised runs draw every picture in a window of its size, as the Scratch Pad does.
  ui::PictureView view;
  if (exercise) {
    QObject::connect(&player, &Player::opened, [&] {
      view.setFixedSize(player.info().width + 2, player.info().height + 2);
      view.show();
    });
    QObject::connect(&player, &Player::positionChanged,
                     [&] { view.ShowPicture(player.picture()); });
  }
  QEventLoop loop;
  QElapsedTimer clock;
  std::vector<std::pair<int, std::int64_t>> flashes;  // frame, sound heard when shown
  bool white = false;
  QObject::connect(&player, &Player::opened, [&] {
    clock.start();
    player.Play();
  });
  QObject::connect(&player, &Player::openFailed, [&](int status) {
    std::printf("  cannot open %s: %d\n", path.c_str(), status);
    loop.quit();
  });
  QObject::connect(&player, &Player::ended, [&] {
    result.seconds = clock.nsecsElapsed() / 1e9;
    loop.quit();
  });
  QObject::connect(&player, &Player::positionChanged, [&](int frame) {
    const QImage& picture = player.picture();
    if (picture.isNull() || paced == nullptr || *paced == nullptr) return;
    const bool now = picture.pixelColor(picture.width() / 2, picture.height() / 2).value() > 128;
    if (now && !white) flashes.emplace_back(frame, (*paced)->PlayedMicroseconds());
    white = now;
  });
  // The user-interface thread's stalls: the longest gap between two ticks of a 1 ms timer.
  QElapsedTimer sinceTick;
  sinceTick.start();
  double cpuAtTick = ThreadCpuMs();
  QTimer watch;
  watch.setTimerType(Qt::PreciseTimer);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    result.longestStallMs = std::max(result.longestStallMs, sinceTick.nsecsElapsed() / 1e6 - 1);
    const double cpu = ThreadCpuMs();
    result.longestBusyMs = std::max(result.longestBusyMs, cpu - cpuAtTick);
    cpuAtTick = cpu;
    sinceTick.restart();
  });
  watch.start(1);
  QTimer exerciser;
  int step = 0;
  const auto timed = [&](auto call) {
    const double cpu = ThreadCpuMs();
    call();
    result.longestCallMs = std::max(result.longestCallMs, ThreadCpuMs() - cpu);
  };
  QObject::connect(&exerciser, &QTimer::timeout, [&] {
    if (clock.elapsed() > 7000) exerciser.stop();
    if (!player.playing()) return;
    const int count = player.info().frameCount;
    if (++step % 3 == 0) {
      timed([&] { player.Pause(); });
      QTimer::singleShot(150, &player, [&] { timed([&] { player.Play(); }); });
    } else {
      timed([&] { player.Seek((player.position() + count / 7) % std::max(count - 30, 1)); });
    }
  });
  if (exercise) exerciser.start(700);
  player.Open(QString::fromStdString(path));
  QTimer::singleShot(60000, &loop, &QEventLoop::quit);
  loop.exec();
  watch.stop();
  exerciser.stop();

  if (paced != nullptr && *paced != nullptr) {
    // Beeps: loud sound after at least 100 ms of quiet, in the sound the device took.
    const std::vector<std::int16_t> sound = (*paced)->Received();
    const int rate = player.info().sampleRate;
    std::vector<std::int64_t> beeps;
    std::int64_t quiet = 0;
    for (std::size_t i = 0; i < sound.size(); ++i) {
      if (std::abs(sound[i]) > 2000) {
        if (quiet > rate / 10) beeps.push_back(static_cast<std::int64_t>(i) * 1000000 / rate);
        quiet = 0;
      } else {
        ++quiet;
      }
    }
    for (const auto& [frame, heard] : flashes) {
      double best = 1e9;
      for (std::int64_t beep : beeps)
        if (std::abs(heard - beep) < std::abs(best)) best = static_cast<double>(heard - beep);
      result.flashOffsetsMs.push_back(best / 1000.0);
    }
  }
  return result;
}

double PeakMemoryMb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  return 0;
}

bool Make(const std::string& args) {
  if (Ffmpeg(args)) return true;
  std::printf("ffmpeg failed: %s\n", args.c_str());
  return false;
}

std::string MpegOf(const std::string& avi, const std::string& dir) {
  SourceEntry entry;
  if (MakeSourceEntry(avi, DefaultInfoReaders(), entry) != kOk) return {};
  StandaloneContext context;
  if (ConvertEntry(entry, dir, DefaultDrivers(), context.get()) != kEntryConverted) return {};
  return avi.substr(0, avi.size() - 4) + ".mpg";
}

int Measure(bool device) {
  TempDir dir;
  setenv("XDG_DATA_HOME", dir.File("data").c_str(), 1);
  const std::string clip = dir.File("ten.avi"), flash = dir.File("flash.avi");
  const std::string large = dir.File("large.avi"), largeMpeg = dir.File("large.mpg");
  const std::string tone = " -f lavfi -i sine=frequency=440:sample_rate=44100:duration=10 ";
  if (!Make("-f lavfi -i testsrc=s=320x240:r=25:d=10" + tone + "-c:v mjpeg -q:v 3 -c:a pcm_s16le " +
            ShellQuote(clip)) ||
      !MakeFlashAvi(flash, 25, 1, 250, 12, 25) ||
      !Make("-f lavfi -i testsrc2=s=640x480:r=25:d=10" + tone +
            "-c:v mjpeg -q:v 3 -c:a pcm_s16le " + ShellQuote(large)) ||
      !Make("-f lavfi -i testsrc2=s=640x480:r=25:d=10" + tone +
            "-c:v mpeg1video -b:v 4M -c:a mp2 -f mpeg " + ShellQuote(largeMpeg)))
    return 1;
  const std::string clipMpeg = MpegOf(clip, dir.path().string());
  const std::string flashMpeg = MpegOf(flash, dir.path().string());
  if (clipMpeg.empty() || flashMpeg.empty()) {
    std::printf("the engine could not convert the clips\n");
    return 1;
  }

  std::unique_ptr<ui::playback::SoundDevices> devices;
  if (device) devices = std::make_unique<ui::playback::SoundDevices>();
  PacedSound* paced = nullptr;
  const ui::playback::SoundOutputFactory pacedFactory = [&paced] {
    auto s = std::make_unique<PacedSound>();
    paced = s.get();
    return s;
  };
  const ui::playback::SoundOutputFactory sound = device ? devices->Factory() : pacedFactory;
  const char* soundName = device ? "sound device" : "stand-in sound device";

  std::printf("10 s clips, from Play to the end notice:\n");
  for (const std::string& path : {clip, clipMpeg}) {
    std::printf("  %-10s monotonic clock: %.3f s\n", path.substr(path.size() - 8).c_str(),
                Play(path, {}, nullptr, false).seconds);
    std::printf("  %-10s %s: %.3f s\n", path.substr(path.size() - 8).c_str(), soundName,
                Play(path, sound, nullptr, false).seconds);
  }
  if (!device) {
    std::printf("flash shown after the start of its beep in the sound taken (ms):\n");
    for (const std::string& path : {flash, flashMpeg}) {
      const Playback p = Play(path, pacedFactory, &paced, false);
      double worst = 0;
      std::printf("  %-10s", path.substr(path.size() - 9).c_str());
      for (double ms : p.flashOffsetsMs) {
        std::printf(" %+.1f", ms);
        worst = std::max(worst, std::abs(ms));
      }
      std::printf("  (%zu flashes, worst %.1f)\n", p.flashOffsetsMs.size(), worst);
    }
  }
  std::printf("640 x 480, seeking and pausing while playing:\n");
  for (const std::string& path : {large, largeMpeg}) {
    const Playback p = Play(path, sound, nullptr, true);
    std::printf(
        "  %-10s longest UI stall %.1f ms (of it busy at most %.1f ms), longest player call %.2f "
        "ms CPU\n",
        path.substr(path.size() - 9).c_str(), p.longestStallMs, p.longestBusyMs, p.longestCallMs);
  }
  std::printf("peak memory: %.1f MB\n", PeakMemoryMb());
  return 0;
}

}  // namespace
}  // namespace calvex::testing

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  const bool device = argc > 1 && std::string(argv[1]) == "--device";
  return calvex::testing::Measure(device);
}
