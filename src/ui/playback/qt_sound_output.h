// Sound out through Qt Multimedia: the default output device, found once, and QAudioSink outputs
// that all run on one sound thread of their own, so that a busy user-interface thread never
// starves them.
#pragma once

#include <QThread>
#include <atomic>
#include <memory>

#include "ui/playback/sound_output.h"

namespace calvex::ui::playback {

class SoundDevices {
 public:
  // Starts the sound thread, which looks for the default output device.
  SoundDevices();
  // Every output made here must be gone first.
  ~SoundDevices();
  SoundDevices(const SoundDevices&) = delete;
  SoundDevices& operator=(const SoundDevices&) = delete;

  // An output on the default device; it refuses to start while there is none (no sound server,
  // no sound card).
  std::unique_ptr<SoundOutput> CreateOutput();
  SoundOutputFactory Factory() {
    return [this] { return CreateOutput(); };
  }
  bool available() const { return available_; }

 private:
  QThread thread_;
  QObject* home_ = nullptr;  // lives on the sound thread
  std::atomic<bool> available_{false};
};

}  // namespace calvex::ui::playback
