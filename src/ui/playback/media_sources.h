// The files the players play, as pictures and sound made on worker threads: an AVI's pictures and
// sound through the media layer's frame and PCM readers, a WAV file's sound through its PCM
// reader, an MPEG file's pictures through our decoder and the file's picture index, and the sound
// of an MPEG system stream through our audio decoder.
//
// A source runs on one thread at a time; its Run delivers until the end of the file or until the
// sink refuses (the player sought elsewhere, paused or closed), and can be run again from another
// frame.
#pragma once

#include <QImage>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/info_blocks.h"
#include "core/status.h"
#include "video_decoder/mpeg_scanner.h"

namespace calvex::ui::playback {

enum class MediaKind { kAvi, kWav, kMpeg };

struct MediaInfo {
  MediaKind kind = MediaKind::kAvi;
  bool hasPictures = false;
  // Frames per second = rate / scale. A file without pictures counts tenths of a second.
  std::int32_t rate = 10;
  std::int32_t scale = 1;
  std::int32_t frameCount = 0;
  int width = 0;
  int height = 0;
  bool hasSound = false;
  int sampleRate = 0;  // of the 16-bit PCM the sound source delivers
  int channels = 0;    // 1 or 2
  // MPEG: the groups of pictures of the file's index.
  std::vector<GopIndexEntry> groups;
};

// Microseconds from the start of the file to the start of frame `frame`, and the frame on show
// at media time `us`.
std::int64_t FrameTime(const MediaInfo& info, std::int64_t frame);
std::int32_t FrameAt(const MediaInfo& info, std::int64_t us);

struct Picture {
  std::int32_t frame = 0;
  QImage image;
};

// Where a running source delivers. Deliver and Write wait while the player's queue is full, and
// answer false when the source should stop; Stopped tells it without delivering.
class PictureSink {
 public:
  virtual bool Deliver(Picture picture) = 0;
  virtual bool Stopped() const = 0;
  // Fast play: only key pictures are wanted (asked before each picture).
  virtual bool KeyPicturesOnly() const = 0;

 protected:
  ~PictureSink() = default;
};

class SoundSink {
 public:
  // Called once before the first samples: the media time at which they start.
  virtual void Begin(std::int64_t startMicroseconds) = 0;
  // 16-bit interleaved samples in the media's channel count.
  virtual bool Write(const std::int16_t* samples, std::size_t count) = 0;
  virtual bool Stopped() const = 0;

 protected:
  ~SoundSink() = default;
};

class PictureSource {
 public:
  virtual ~PictureSource() = default;
  // Delivers the pictures from frame `first` on, in display order. 0 (the end, or a refused
  // delivery) or a decoder's status code.
  virtual Status Run(std::int32_t first, PictureSink& sink) = 0;
};

class SoundSource {
 public:
  virtual ~SoundSource() = default;
  // Delivers the sound from the start of frame `first` on. 0 or a reader's status code.
  virtual Status Run(std::int32_t first, SoundSink& sink) = 0;
};

struct OpenedMedia {
  MediaInfo info;
  std::unique_ptr<PictureSource> pictures;  // none without pictures
  std::unique_ptr<SoundSource> sound;       // none without sound
};

// Opens `path` by its extension: ".avi", ".wav" or ".mpg" (an MPEG file's index comes from the
// index cache or from a scan, which `scan` follows and may cancel). Returns 0, 1 when the scan was
// cancelled, 142 for a name of another kind, or the readers' codes.
Status OpenMedia(const std::string& path, const video_decoder::ScanCallbacks& scan,
                 OpenedMedia& media);

}  // namespace calvex::ui::playback
