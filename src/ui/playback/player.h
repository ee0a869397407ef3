// The playback component of the desktop program's players: opens a file, decodes its pictures and
// sound on two worker threads a few pictures ahead, plays the sound through a sound output and
// shows each picture when the sound heard reaches its time, so that the two stay together. Without
// sound, or without a sound device, a monotonic clock paces the pictures at the file's rate.
//
// Every call returns at once: the UI thread never waits for decoding. A seek drops what was
// decoded ahead and shows the wanted picture as soon as it is decoded.
//
//   Player player(DefaultPlayerServices(sound));
//   connect(&player, &Player::positionChanged, view, [&] { view->Show(player.picture()); });
//   connect(&player, &Player::opened, &player, &Player::Play);
//   player.Open(path);
#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

#include "ui/playback/media_sources.h"
#include "ui/playback/sound_output.h"

namespace calvex::ui::playback {

class TaskThread;

struct PlayerServices {
  // The monotonic clock, in microseconds.
  std::function<std::int64_t()> now;
  // Makes the player's sound output; none: the player is silent.
  SoundOutputFactory sound;
  // Opens a file into its sources (OpenMedia; tests give made-up ones).
  std::function<Status(const std::string&, const video_decoder::ScanCallbacks&, OpenedMedia&)> open;
  // The interval of the presentation timer; 0: no timer, the owner calls Tick.
  int tickMs = 4;
};

// The steady clock, OpenMedia and the given sound outputs.
PlayerServices DefaultPlayerServices(SoundOutputFactory sound);

class Player : public QObject {
  Q_OBJECT
 public:
  explicit Player(PlayerServices services, QObject* parent = nullptr);
  ~Player() override;

  // Opens a file on the worker thread; opened() or openFailed() follow, and after opened() the
  // first picture. While an MPEG file is scanned for its index, scanProgress() reports.
  void Open(const QString& path);
  // Ends decoding and forgets the file.
  void Close();
  bool isOpen() const { return state_ == State::kOpen; }
  bool isOpening() const { return state_ == State::kOpening; }
  const MediaInfo& info() const { return info_; }

  // Plays from the picture on show (from the start when it is the last one).
  void Play();
  void Pause();
  // Pauses and shows frame 0.
  void Stop();
  // Shows frame `frame` (clamped to the file) and, while playing, plays on from there.
  void Seek(std::int32_t frame);
  void SetMuted(bool muted);
  // Fast play: key pictures only (every tenth picture of an AVI), one per frame time, silent.
  void SetFast(bool fast);

  bool playing() const { return playing_; }
  bool fast() const { return fast_; }
  bool muted() const { return muted_; }
  // The frame on show (of a file without pictures, the tenth of a second being played).
  std::int32_t position() const { return position_; }
  const QImage& picture() const { return picture_; }
  // The sound device is playing the file's sound and is the clock.
  bool soundIsClock() const { return soundClock_; }
  // Media time now, in microseconds.
  std::int64_t MediaNow();
  // Pictures decoded and waiting to be shown; whether the run that decodes them has ended.
  std::size_t picturesAhead() const;
  bool picturesFinished() const;

  // One step of the presentation: shows the pictures whose time has come and notices the end.
  void Tick();

 signals:
  void opened();
  void openFailed(int status);
  void scanProgress(int thousandths);
  void positionChanged(int frame);
  // Playing reached the end of the file (once per play).
  void ended();
  void decodeFailed(int status);
  void playingChanged(bool playing);

 private:
  enum class State { kClosed, kOpening, kOpen };
  struct Shared;

  void OpenFinished();
  void RestartPictures(std::int32_t frame);
  void StartSound(std::int32_t frame);
  void StopSound();
  void StartClock(std::int64_t media);
  void FollowSound(std::int64_t now);
  void Show(Picture picture);
  bool AtEnd(std::int64_t media, Status* failure);
  void EndPlay();
  void UpdateTimer();
  // The frame on show, or the one a seek asked for until it is shown.
  std::int32_t Current() const;

  PlayerServices services_;
  State state_ = State::kClosed;
  MediaInfo info_;
  std::shared_ptr<Shared> shared_;
  std::unique_ptr<TaskThread> pictureThread_;
  std::unique_ptr<TaskThread> soundThread_;
  std::unique_ptr<SoundOutput> sound_;
  QTimer timer_;

  bool playing_ = false;
  bool fast_ = false;
  bool muted_ = false;
  bool showNext_ = false;  // a seek: show the first picture decoded as soon as it comes
  std::int32_t position_ = 0;
  std::int32_t target_ = 0;  // the frame of the last seek
  QImage picture_;

  // The clock: media time baseMedia_ at monotonic time anchor_ (frozen while paused), or, while
  // soundClock_, the feed's start plus the sound heard.
  std::int64_t baseMedia_ = 0;
  std::int64_t anchor_ = 0;
  bool soundClock_ = false;
  std::int64_t lastHeard_ = 0;
  std::int64_t heardSince_ = 0;  // monotonic time of the last change of the sound heard
  std::int64_t lastFastShow_ = 0;
};

}  // namespace calvex::ui::playback
