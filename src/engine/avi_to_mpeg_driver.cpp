#include "engine/avi_to_mpeg_driver.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/messages.h"
#include "video_encoder/video_encoder.h"

namespace calvex {
namespace {

// The most pictures an output may have: 24 hours of them, as far as the time code of a group of
// pictures counts. More come only from a source whose header claims minutes or hours per frame,
// and coding them would take memory and time by the picture.
std::int64_t MaxPictures(const ConversionSettings& s) {
  return std::int64_t{24 * 3600} * s.targetMilliFps / 1000;
}

class MediaAviFrameReader : public AviFrameReader {
 public:
  Status Open(const std::string& path, BitmapInfoHeader& request,
              media::AviOpenInfo& info) override {
    return reader_.RAVIOpen(path, request, info);
  }
  Status GetFrame(std::int32_t frame, std::uint8_t* buffer) override {
    return reader_.RAVIGetFrame(frame, buffer);
  }
  void Close() override { reader_.RAVIClose(); }

 private:
  media::AviReader reader_;
};

class AviPictureSource : public video::PictureSource {
 public:
  AviPictureSource(AviFrameReader& reader, const ConversionSettings& settings)
      : reader_(reader), settings_(settings) {}
  Status FetchPicture(int displayNumber, std::uint8_t* bitmap) override {
    return reader_.GetFrame(SourceFrameFor(settings_, displayNumber), bitmap);
  }

 private:
  AviFrameReader& reader_;
  const ConversionSettings& settings_;
};

// Progress per fetched picture and the cancel check before each picture, on the conversion's
// own thread.
class DriverEvents : public video::EncoderEvents {
 public:
  DriverEvents(ConversionContext& context, const ConversionSettings& settings)
      : context_(context), settings_(settings) {}

  bool PictureFetched(const video::FetchedPicture& p) override {
    if (p.displayNumber == 0) fetched_ = 0;
    const int n = settings_.outputFrameCount;
    const int thousandths =
        n > 1 ? static_cast<int>(static_cast<std::int64_t>(fetched_) * 1000 / (n - 1)) : 1000;
    ProgressRecord record = TimeRecord(fetched_);
    record.frameNumber = SourceFrameFor(settings_, p.displayNumber);
    record.pictureType = p.pictureType;
    record.bitmapHeader = p.header;
    record.bitmapBits = p.bitmap;
    if (context_.Progress(record, ProgressKind::kVideo, thousandths)) return true;
    ++fetched_;
    return false;
  }

  bool PollCancel() override { return context_.PollCancel(); }

  // The stage's last progress call; true when the user cancelled there.
  bool Finished() {
    ProgressRecord record = TimeRecord(fetched_);
    return context_.Progress(record, ProgressKind::kVideo, 1000);
  }

 private:
  // Time code of `count` pictures at the output rate.
  ProgressRecord TimeRecord(int count) const {
    ProgressRecord r;
    const int fps = static_cast<int>(settings_.targetMilliFps * 0.001 + 0.5);
    const int s = count / fps;
    r.hours = s / 3600;
    r.minutes = (s / 60) % 60;
    r.seconds = s % 60;
    r.fraction = count % fps;
    return r;
  }

  ConversionContext& context_;
  const ConversionSettings& settings_;
  int fetched_ = 0;
};

}  // namespace

std::unique_ptr<AviFrameReader> MakeMediaAviFrameReader() {
  return std::make_unique<MediaAviFrameReader>();
}

Status AviToMpegDriver::EncodeVideo(const std::string& videoPath, ConversionSettings& settings,
                                    ConversionContext& context) {
  const AviToMpegParams& p = settings.aviToMpeg;
  video::VideoEncoderParams params;
  params.width = p.width;
  params.height = p.height;
  params.pictureRateCode = settings.pictureRateCode;
  params.rateNum = settings.targetRateNum;
  params.rateDen = settings.targetRateDen;
  params.milliFps = settings.targetMilliFps;
  params.bitRate = settings.videoBitRate;
  params.pictureCount = settings.outputFrameCount;
  params.threads = context.threads();
  params.preset =
      context.highQualityVideo() ? video::EncoderPreset::kHigh : video::EncoderPreset::kStandard;

  AviPictureSource source(reader_, settings);
  DriverEvents events(context, settings);
  const Status status = video::EncodeVideoFile(params, source, events, videoPath, &pictureIndex_);
  if (status == kDiskFull) context.RaiseDiskFull();
  // A cancel confirmed at the very end still cancels: the user was told the run would stop.
  if (status == kOk && events.Finished()) return kCancelled;
  return status;
}

Status AviToMpegDriver::Run(AviToMpegJob& job, ConversionContext& context) {
  pictureIndex_.clear();
  if (job.settings == nullptr) return kInternalError;
  ConversionSettings& settings = *job.settings;

  // A Video CD is a system stream with sound even when the AVI has none.
  const bool withSound = settings.aviInfo.HasAudio() || settings.aviToMpeg.videoCd == 1;
  if (withSound && job.audio == nullptr) return kInternalError;

  const AviToMpegParams& p = settings.aviToMpeg;
  BitmapInfoHeader request = MakeBitmapHeader24(p.width, p.height);
  media::AviOpenInfo info;
  const Status opened = reader_.Open(job.source, request, info);
  if (opened != kOk) return opened;

  struct Closer {
    AviFrameReader& r;
    ~Closer() { r.Close(); }
  } closer{reader_};

  // The frames must come as the encoder reads them: 24-bit, bottom-up, at the output size.
  const BitmapInfoHeader expected = MakeBitmapHeader24(p.width, p.height);
  if (request.width != expected.width || request.height != expected.height ||
      request.bitCount != 24 || request.sizeImage < expected.sizeImage)
    return kVideoFormatUnreadable;

  settings.aviInfo.frameRatePacked = info.frameRatePacked;
  settings.sourceFrameCount = info.frameCount;
  DeriveFrameParameters(settings);
  if (settings.outputFrameCount <= 0) return kAviNoVideo;
  if (settings.outputFrameCount > MaxPictures(settings)) return kFrameRateUnsupported;

  context.SetStatusField(StatusField::kOutputSize, FormatText("%3d x %3d", p.width, p.height));
  context.SetStatusField(
      StatusField::kOutputRate,
      FormatText("%2.3f", static_cast<double>(settings.targetRateNum) / settings.targetRateDen));

  if (withSound) return EncodeWithSound(job, settings, context);
  return EncodeVideo(job.destination, settings, context);
}

Status ConvertAviToMpeg(AviToMpegJob& job, ConversionContext& context) {
  const std::unique_ptr<AviFrameReader> reader = MakeMediaAviFrameReader();
  AviToMpegDriver driver(*reader);
  return driver.Run(job, context);
}

}  // namespace calvex
