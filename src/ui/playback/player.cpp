#include "ui/playback/player.h"

#include <QMetaObject>
#include <algorithm>
#include <atomic>
#include <chrono>

#include "ui/playback/hand_off_queue.h"
#include "ui/playback/task_thread.h"

namespace calvex::ui::playback {
namespace {

// Pictures decoded ahead of the one on show, and sound: 24 blocks of up to 2048 sample frames
// (about a second at 44.1 kHz).
constexpr std::size_t kPicturesAhead = 4;
constexpr std::size_t kSoundBlocksAhead = 24;
// The sound that stops being heard while there is sound to hear, or after the last of it, gives
// the clock back to the monotonic clock after this long (a device that fails, a short sound).
constexpr std::int64_t kSoundStallUs = 500000;
constexpr std::int64_t kSoundEndStallUs = 100000;

}  // namespace

// What the worker threads share with the player; they keep it alive while they run.
struct Player::Shared {
  OpenedMedia media;
  Status openStatus = kOk;
  PictureQueue pictures{kPicturesAhead};
  std::shared_ptr<SoundFeed> feed = std::make_shared<SoundFeed>(kSoundBlocksAhead);
  std::atomic<bool> keyOnly{false};
  std::atomic<bool> closing{false};
};

namespace {

class QueuePictureSink final : public PictureSink {
 public:
  QueuePictureSink(PictureQueue& queue, std::uint64_t generation, const std::atomic<bool>& keyOnly)
      : queue_(queue), generation_(generation), keyOnly_(keyOnly) {}
  bool Deliver(Picture picture) override { return queue_.Push(generation_, std::move(picture)); }
  bool Stopped() const override { return queue_.Over(generation_); }
  bool KeyPicturesOnly() const override { return keyOnly_; }

 private:
  PictureQueue& queue_;
  std::uint64_t generation_;
  const std::atomic<bool>& keyOnly_;
};

class FeedSoundSink final : public SoundSink {
 public:
  FeedSoundSink(SoundFeed& feed, std::uint64_t generation) : feed_(feed), generation_(generation) {}
  void Begin(std::int64_t start) override { feed_.Begin(generation_, start); }
  bool Write(const std::int16_t* samples, std::size_t count) override {
    return count == 0 ||
           feed_.Push(generation_, std::vector<std::int16_t>(samples, samples + count));
  }
  bool Stopped() const override { return feed_.Over(generation_); }

 private:
  SoundFeed& feed_;
  std::uint64_t generation_;
};

}  // namespace

PlayerServices DefaultPlayerServices(SoundOutputFactory sound) {
  PlayerServices s;
  s.now = [] {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  };
  s.sound = std::move(sound);
  s.open = OpenMedia;
  return s;
}

Player::Player(PlayerServices services, QObject* parent)
    : QObject(parent), services_(std::move(services)) {
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(services_.tickMs);
  connect(&timer_, &QTimer::timeout, this, &Player::Tick);
}

Player::~Player() {
  Close();
}

void Player::Open(const QString& path) {
  Close();
  state_ = State::kOpening;
  shared_ = std::make_shared<Shared>();
  pictureThread_ = std::make_unique<TaskThread>();
  soundThread_ = std::make_unique<TaskThread>();
  auto shared = shared_;
  pictureThread_->Post([this, shared, path = path.toStdString()] {
    int lastReported = -1;
    video_decoder::ScanCallbacks scan;
    scan.cancelled = [&shared] { return shared->closing.load(); };
    scan.progress = [this, &lastReported](int thousandths) {
      // Every whole percent; the player outlives this thread (its destructor joins it).
      if (thousandths / 10 == lastReported) return;
      lastReported = thousandths / 10;
      QMetaObject::invokeMethod(
          this, [this, thousandths] { emit scanProgress(thousandths); }, Qt::QueuedConnection);
    };
    shared->openStatus = services_.open(path, scan, shared->media);
    QMetaObject::invokeMethod(
        this,
        [this, shared] {
          if (shared == shared_) OpenFinished();
        },
        Qt::QueuedConnection);
  });
}

void Player::OpenFinished() {
  if (shared_->openStatus != kOk) {
    const Status s = shared_->openStatus;
    Close();
    emit openFailed(static_cast<int>(s));
    return;
  }
  info_ = shared_->media.info;
  state_ = State::kOpen;
  if (services_.sound && info_.hasSound) sound_ = services_.sound();
  if (sound_) sound_->SetMuted(muted_);
  position_ = 0;
  emit opened();
  if (info_.hasPictures) {
    RestartPictures(0);
    showNext_ = true;
    target_ = 0;
    UpdateTimer();
  } else {
    emit positionChanged(0);
  }
}

void Player::Close() {
  if (state_ == State::kClosed) return;
  shared_->closing = true;
  shared_->pictures.Close();
  shared_->feed->Close();
  if (sound_) sound_->Stop();
  sound_.reset();
  // Each thread ends after the picture or block it is decoding.
  pictureThread_.reset();
  soundThread_.reset();
  shared_.reset();
  timer_.stop();
  state_ = State::kClosed;
  info_ = {};
  playing_ = false;
  fast_ = false;
  showNext_ = false;
  soundClock_ = false;
  position_ = 0;
  target_ = 0;
  picture_ = QImage();
}

void Player::RestartPictures(std::int32_t frame) {
  const std::uint64_t generation = shared_->pictures.Restart();
  pictureThread_->DropPending();
  auto shared = shared_;
  pictureThread_->Post([shared, generation, frame] {
    QueuePictureSink sink(shared->pictures, generation, shared->keyOnly);
    const Status s = shared->media.pictures->Run(frame, sink);
    shared->pictures.Finish(generation, s);
  });
}

void Player::StartSound(std::int32_t frame) {
  StopSound();
  if (!sound_ || !shared_->media.sound) return;
  const std::uint64_t generation = shared_->feed->Restart();
  soundThread_->DropPending();
  auto shared = shared_;
  soundThread_->Post([shared, generation, frame] {
    FeedSoundSink sink(*shared->feed, generation);
    const Status s = shared->media.sound->Run(frame, sink);
    shared->feed->Finish(generation, s);
  });
  soundClock_ = sound_->Start(info_.sampleRate, info_.channels, shared_->feed);
  lastHeard_ = 0;
  heardSince_ = services_.now();
}

void Player::StopSound() {
  if (sound_) sound_->Stop();
  if (shared_) shared_->feed->Restart();
  soundClock_ = false;
}

void Player::StartClock(std::int64_t media) {
  baseMedia_ = media;
  anchor_ = services_.now();
}

std::int64_t Player::MediaNow() {
  if (!playing_) return baseMedia_;
  const std::int64_t now = services_.now();
  if (soundClock_) FollowSound(now);
  if (soundClock_) {
    const std::optional<std::int64_t> start = shared_->feed->start();
    // Until the first sound is heard the clock holds still.
    if (start && lastHeard_ > 0) return *start + lastHeard_;
    return baseMedia_;
  }
  return baseMedia_ + (now - anchor_);
}

// Hands the clock back to the monotonic one when the sound stops being heard while there is no
// more of it, or while it waits in the feed (a device that stalled).
void Player::FollowSound(std::int64_t now) {
  const std::int64_t heard = sound_->PlayedMicroseconds();
  if (heard != lastHeard_) {
    lastHeard_ = heard;
    heardSince_ = now;
    return;
  }
  const bool drained = shared_->feed->Drained();
  const std::int64_t stall = drained ? kSoundEndStallUs : kSoundStallUs;
  if (now - heardSince_ < stall || (!drained && shared_->feed->size() == 0)) return;
  const std::optional<std::int64_t> start = shared_->feed->start();
  baseMedia_ = start && lastHeard_ > 0 ? *start + lastHeard_ : baseMedia_;
  anchor_ = now;
  soundClock_ = false;
}

void Player::Play() {
  if (state_ != State::kOpen || playing_) return;
  if (info_.frameCount > 0 && Current() >= info_.frameCount - 1) Seek(0);
  const std::int32_t from = Current();
  playing_ = true;
  StartClock(FrameTime(info_, from));
  if (!fast_) StartSound(from);
  lastFastShow_ = 0;
  UpdateTimer();
  emit playingChanged(true);
}

void Player::Pause() {
  if (!playing_) return;
  baseMedia_ = MediaNow();
  playing_ = false;
  StopSound();
  UpdateTimer();
  emit playingChanged(false);
}

void Player::Stop() {
  Pause();
  Seek(0);
}

void Player::Seek(std::int32_t frame) {
  if (state_ != State::kOpen) return;
  frame = std::clamp(frame, 0, std::max(info_.frameCount - 1, 0));
  target_ = frame;
  if (!info_.hasPictures) {
    position_ = frame;
    StartClock(FrameTime(info_, frame));
    if (playing_ && !fast_) StartSound(frame);
    emit positionChanged(frame);
    return;
  }
  // Stepping on through pictures already decoded needs no new run.
  if (playing_ || !shared_->pictures.SkipTo(frame)) RestartPictures(frame);
  showNext_ = true;
  if (playing_) {
    StartClock(FrameTime(info_, frame));
    if (!fast_) StartSound(frame);
  }
  UpdateTimer();
}

std::size_t Player::picturesAhead() const {
  return shared_ ? shared_->pictures.size() : 0;
}

bool Player::picturesFinished() const {
  return shared_ && shared_->pictures.Finished();
}

std::int32_t Player::Current() const {
  return showNext_ ? target_ : position_;
}

void Player::SetMuted(bool muted) {
  muted_ = muted;
  if (sound_) sound_->SetMuted(muted);
}

void Player::SetFast(bool fast) {
  if (fast_ == fast) return;
  fast_ = fast;
  if (shared_) shared_->keyOnly = fast;
  if (!playing_) return;
  if (fast) {
    StopSound();
    lastFastShow_ = 0;
  } else {
    // Normal play picks up after the picture on show, with its sound.
    Seek(std::min(Current() + 1, std::max(info_.frameCount - 1, 0)));
  }
}

void Player::Show(Picture picture) {
  position_ = picture.frame;
  picture_ = std::move(picture.image);
  emit positionChanged(position_);
}

void Player::Tick() {
  if (state_ != State::kOpen) return;
  PictureQueue& queue = shared_->pictures;
  const std::int64_t now = services_.now();
  if (showNext_) {
    Status failure = kOk;
    if (queue.FrontFrame()) {
      showNext_ = false;
      Show(queue.Pop());
      // Playing goes on from the picture shown.
      if (playing_) StartClock(FrameTime(info_, position_));
      lastFastShow_ = now;
    } else if (queue.Drained(&failure)) {
      showNext_ = false;
      if (IsFailure(failure)) emit decodeFailed(static_cast<int>(failure));
    }
  }
  if (!playing_) {
    UpdateTimer();
    return;
  }
  const std::int64_t media = MediaNow();
  if (!showNext_) {
    if (fast_) {
      if (queue.FrontFrame() &&
          now - lastFastShow_ >= std::max<std::int64_t>(FrameTime(info_, 1), 1000)) {
        lastFastShow_ = now;
        Show(queue.Pop());
      }
    } else if (info_.hasPictures) {
      // Late pictures are passed over: only the last one whose time has come is shown.
      std::optional<Picture> due;
      for (auto f = queue.FrontFrame(); f && FrameTime(info_, *f) <= media; f = queue.FrontFrame())
        due = queue.Pop();
      if (due) Show(std::move(*due));
    } else {
      const std::int32_t frame = std::min(FrameAt(info_, media), std::max(info_.frameCount - 1, 0));
      if (frame != position_) {
        position_ = frame;
        emit positionChanged(frame);
      }
    }
  }
  Status failure = kOk;
  if (AtEnd(media, &failure)) {
    EndPlay();
    if (IsFailure(failure))
      emit decodeFailed(static_cast<int>(failure));
    else
      emit ended();
  }
}

bool Player::AtEnd(std::int64_t media, Status* failure) {
  if (showNext_) return false;
  if (!info_.hasPictures) {
    return media >= FrameTime(info_, info_.frameCount) &&
           (!soundClock_ || shared_->feed->Drained());
  }
  if (!shared_->pictures.Drained(failure)) return false;
  return fast_ || IsFailure(*failure) || media >= FrameTime(info_, position_ + 1);
}

void Player::EndPlay() {
  playing_ = false;
  baseMedia_ = FrameTime(info_, position_);
  StopSound();
  UpdateTimer();
  emit playingChanged(false);
}

void Player::UpdateTimer() {
  const bool wanted = services_.tickMs > 0 && state_ == State::kOpen && (playing_ || showNext_);
  if (wanted && !timer_.isActive()) timer_.start();
  if (!wanted) timer_.stop();
}

}  // namespace calvex::ui::playback
