// Made-up media for the players' tests: pictures and sound made on the spot, with a log of what
// the player asked for.
#pragma once

#include <QImage>
#include <mutex>
#include <vector>

#include "ui/playback/player.h"

namespace calvex::testing {

struct SourceLog {
  std::mutex mutex;
  std::vector<int> pictureRuns, soundRuns;
  bool keyOnlyAsked = false;
  Status failAt = kOk;  // the picture run fails with this after frame 10

  std::vector<int> PictureRuns() {
    std::lock_guard lock(mutex);
    return pictureRuns;
  }
};

// Pictures of 8 x 8 pixels whose grey level is the frame number; key pictures every tenth frame.
class MadeUpPictures : public ui::playback::PictureSource {
 public:
  MadeUpPictures(SourceLog& log, int count) : log_(log), count_(count) {}
  Status Run(std::int32_t first, ui::playback::PictureSink& sink) override {
    {
      std::lock_guard lock(log_.mutex);
      log_.pictureRuns.push_back(first);
    }
    for (int f = first; f < count_; ++f) {
      if (sink.KeyPicturesOnly()) {
        std::lock_guard lock(log_.mutex);
        log_.keyOnlyAsked = true;
        if (f % 10 != 0) continue;
      }
      if (log_.failAt != kOk && f > 10) return log_.failAt;
      QImage picture(8, 8, QImage::Format_RGB888);
      picture.fill(QColor(f % 256, f % 256, f % 256));
      if (!sink.Deliver({f, picture})) return kOk;
    }
    return kOk;
  }

 private:
  SourceLog& log_;
  int count_;
};

// Mono sound at 1000 Hz whose every sample holds its own number.
class MadeUpSound : public ui::playback::SoundSource {
 public:
  MadeUpSound(SourceLog& log, const ui::playback::MediaInfo& info) : log_(log), info_(info) {}
  Status Run(std::int32_t first, ui::playback::SoundSink& sink) override {
    {
      std::lock_guard lock(log_.mutex);
      log_.soundRuns.push_back(first);
    }
    const std::int64_t start = ui::playback::FrameTime(info_, first) / 1000;
    sink.Begin(start * 1000);
    const std::int64_t end = ui::playback::FrameTime(info_, info_.frameCount) / 1000;
    for (std::int64_t s = start; s < end; s += 100) {
      std::vector<std::int16_t> block;
      for (std::int64_t i = s; i < std::min(s + 100, end); ++i)
        block.push_back(static_cast<std::int16_t>(i));
      if (!sink.Write(block.data(), block.size())) return kOk;
    }
    return kOk;
  }

 private:
  SourceLog& log_;
  ui::playback::MediaInfo info_;
};

// Player services that open every file as `info` (made-up pictures, and sound when it has some).
inline ui::playback::PlayerServices MadeUpServices(SourceLog& log,
                                                   const ui::playback::MediaInfo& info) {
  ui::playback::PlayerServices s = ui::playback::DefaultPlayerServices({});
  s.open = [&log, info](const std::string&, const video_decoder::ScanCallbacks&,
                        ui::playback::OpenedMedia& media) {
    media.info = info;
    media.pictures = std::make_unique<MadeUpPictures>(log, info.frameCount);
    if (info.hasSound) media.sound = std::make_unique<MadeUpSound>(log, info);
    return kOk;
  };
  return s;
}

}  // namespace calvex::testing
