// What the player needs of a sound device: play the samples of a feed, stop at once, mute, and
// tell how much has been heard, which is the player's clock while there is sound.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "ui/playback/hand_off_queue.h"

namespace calvex::ui::playback {

class SoundOutput {
 public:
  virtual ~SoundOutput() = default;
  // Plays the samples read from `feed` (16-bit interleaved, `sampleRate` Hz, 1 or 2 channels),
  // starting from nothing heard. False when no device takes them: the player then paces the
  // pictures by its own clock.
  virtual bool Start(int sampleRate, int channels, std::shared_ptr<SoundFeed> feed) = 0;
  // Stops at once; what the device still holds is dropped.
  virtual void Stop() = 0;
  virtual void SetMuted(bool muted) = 0;
  // Microseconds of sound heard since the last Start.
  virtual std::int64_t PlayedMicroseconds() const = 0;
};

using SoundOutputFactory = std::function<std::unique_ptr<SoundOutput>()>;

}  // namespace calvex::ui::playback
