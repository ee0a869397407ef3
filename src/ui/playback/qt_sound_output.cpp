#include "ui/playback/qt_sound_output.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>
#include <QTimer>
#include <chrono>
#include <mutex>
#include <vector>

namespace calvex::ui::playback {
namespace {

constexpr int kFeedIntervalMs = 10;
constexpr int kDeviceBufferMs = 100;
// How far the time heard is carried on past the device's last report.
constexpr std::int64_t kExtrapolateUs = 15000;

std::int64_t SteadyMicroseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// What the output and its driver share: the time heard, for the start it belongs to.
struct Heard {
  std::mutex mutex;
  std::uint64_t epoch = 0;
  std::int64_t heard = 0;
  std::int64_t stamp = 0;  // steady time of the report
  bool advancing = false;
};

// Lives on the sound thread: one QAudioSink in push mode, filled from the feed every 10 ms.
class Driver : public QObject {
 public:
  explicit Driver(std::shared_ptr<Heard> heard) : heard_(std::move(heard)) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kFeedIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &Driver::Feed);
  }
  ~Driver() override { Stop(); }

  void Start(int rate, int channels, std::shared_ptr<SoundFeed> feed, std::uint64_t epoch,
             bool muted) {
    Stop();
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) return;
    QAudioFormat format;
    format.setSampleRate(rate);
    format.setChannelCount(channels);
    format.setSampleFormat(QAudioFormat::Int16);
    sink_ = new QAudioSink(device, format, this);
    sink_->setBufferSize(rate * channels * 2 * kDeviceBufferMs / 1000);
    sink_->setVolume(muted ? 0.0 : 1.0);
    io_ = sink_->start();
    feed_ = std::move(feed);
    epoch_ = epoch;
    Feed();
    timer_.start();
  }
  void Stop() {
    timer_.stop();
    if (sink_ != nullptr) {
      sink_->stop();
      delete sink_;
      sink_ = nullptr;
    }
    io_ = nullptr;
    feed_.reset();
  }
  void SetMuted(bool muted) {
    muted_ = muted;
    if (sink_ != nullptr) sink_->setVolume(muted ? 0.0 : 1.0);
  }

 private:
  void Feed() {
    if (sink_ == nullptr || io_ == nullptr || !feed_) return;
    const qsizetype room = sink_->bytesFree() / 2;
    if (room > 0) {
      samples_.resize(static_cast<std::size_t>(room));
      const std::size_t n = feed_->Read(samples_.data(), samples_.size());
      if (n > 0)
        io_->write(reinterpret_cast<const char*>(samples_.data()), static_cast<qint64>(n * 2));
    }
    const std::int64_t heard = sink_->processedUSecs();
    std::lock_guard lock(heard_->mutex);
    if (heard_->epoch != epoch_) return;
    heard_->advancing = heard > heard_->heard;
    heard_->heard = heard;
    heard_->stamp = SteadyMicroseconds();
  }

  std::shared_ptr<Heard> heard_;
  QTimer timer_;
  QAudioSink* sink_ = nullptr;
  QIODevice* io_ = nullptr;
  std::shared_ptr<SoundFeed> feed_;
  std::vector<std::int16_t> samples_;
  std::uint64_t epoch_ = 0;
  bool muted_ = false;
};

class QtSoundOutput final : public SoundOutput {
 public:
  QtSoundOutput(QThread& thread, const std::atomic<bool>& available)
      : available_(available), heard_(std::make_shared<Heard>()), driver_(new Driver(heard_)) {
    driver_->moveToThread(&thread);
  }
  ~QtSoundOutput() override { driver_->deleteLater(); }

  bool Start(int sampleRate, int channels, std::shared_ptr<SoundFeed> feed) override {
    if (!available_ || sampleRate <= 0 || channels < 1 || channels > 2) return false;
    const std::uint64_t epoch = NewEpoch();
    Driver* driver = driver_;
    const bool muted = muted_;
    QMetaObject::invokeMethod(driver_,
                              [=] { driver->Start(sampleRate, channels, feed, epoch, muted); });
    return true;
  }
  void Stop() override {
    NewEpoch();
    Driver* driver = driver_;
    QMetaObject::invokeMethod(driver_, [driver] { driver->Stop(); });
  }
  void SetMuted(bool muted) override {
    muted_ = muted;
    Driver* driver = driver_;
    QMetaObject::invokeMethod(driver_, [driver, muted] { driver->SetMuted(muted); });
  }
  std::int64_t PlayedMicroseconds() const override {
    std::lock_guard lock(heard_->mutex);
    if (heard_->heard <= 0 || !heard_->advancing) return heard_->heard;
    // Between the device's reports the sound goes on being heard.
    return heard_->heard + std::min(SteadyMicroseconds() - heard_->stamp, kExtrapolateUs);
  }

 private:
  std::uint64_t NewEpoch() {
    std::lock_guard lock(heard_->mutex);
    heard_->heard = 0;
    heard_->advancing = false;
    return ++heard_->epoch;
  }

  const std::atomic<bool>& available_;
  std::shared_ptr<Heard> heard_;
  Driver* driver_;
  bool muted_ = false;
};

}  // namespace

SoundDevices::SoundDevices() {
  thread_.setObjectName(QStringLiteral("sound"));
  thread_.start();
  home_ = new QObject;
  home_->moveToThread(&thread_);
  QMetaObject::invokeMethod(home_,
                            [this] { available_ = !QMediaDevices::defaultAudioOutput().isNull(); });
}

SoundDevices::~SoundDevices() {
  home_->deleteLater();
  thread_.quit();
  thread_.wait();
}

std::unique_ptr<SoundOutput> SoundDevices::CreateOutput() {
  return std::make_unique<QtSoundOutput>(thread_, available_);
}

}  // namespace calvex::ui::playback
