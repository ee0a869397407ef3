#include "video_decoder/mpeg_to_avi_driver.h"

#include <cstdio>

#include "video_decoder/index_cache.h"
#include "video_decoder/mpeg_decoder_session.h"

namespace calvex::video_decoder {
namespace {

bool IsBlank(const GopIndexEntry& e) {
  return e.firstFrame == 0 && e.picturesBefore == 0 && e.offset == 0 && e.packetPosition == 0;
}

// The group a section of frames first..: the stored entry when it fits, else the index's.
// False when the index scan was cancelled.
bool SectionStart(const std::string& source, const GopIndexEntry& stored, std::int32_t first,
                  ConversionContext& context, GopIndex& index,
                  std::optional<GopIndexEntry>& start) {
  if (!IsBlank(stored) && stored.firstFrame >= 0 && stored.firstFrame <= first) {
    start = stored;
    return true;
  }
  ScanCallbacks callbacks;
  callbacks.cancelled = [&context] { return context.PollCancel(); };
  if (OpenMpegIndex(source, index, callbacks) == kCancelled) return false;
  const std::int32_t entry = index.EntryFor(first);
  if (entry >= 0) start = index[entry];
  return true;
}

}  // namespace

Status ConvertMpegToAvi(MpegToAviJob& job, ConversionContext& context) {
  MpegDecoderSession session(context);
  const MpegToAviParams params =
      job.settings != nullptr ? job.settings->mpegToAvi : MpegToAviParams{};
  MpegDecodeRequest request;
  request.source = job.source;
  request.destination = job.destination;
  request.decodingOptions = job.decodingOptions;
  request.outputOptions = job.outputOptions;
  request.firstFrame = job.firstFrame;
  request.lastFrame = job.lastFrame;
  request.params = &params;

  std::optional<GopIndexEntry> start;
  if (job.settings != nullptr && job.settings->HasSection() && job.firstFrame > 0) {
    if (!SectionStart(job.source, job.settings->sectionSeek, job.firstFrame, context,
                      session.index(), start)) {
      return kCancelled;
    }
  }
  if (start) request.section = &*start;

  const Status status = session.ConvertMpegToAvi(
      request, [&context](const DecodedFrameInfo& info, int, int progress) {
        return context.Progress(info, ProgressKind::kVideo, progress) ? kFrameStop : kFrameGoOn;
      });
  session.CloseMpegDecoder();
  // The AVI writer's own code for a write that failed: a full disk, which ends the run as every
  // other writer's failure does.
  if (status == kAviWriteFailed) context.RaiseDiskFull();
  if (!IsSuccess(status) && status != kDataRateExceeded && session.outputCreated()) {
    std::remove(job.destination.c_str());
  }
  return status;
}

Status CountMpegFrames(const std::string& path, std::int32_t& frames, ConversionContext& context) {
  frames = 0;
  GopIndex index;
  ScanCallbacks callbacks;
  callbacks.cancelled = [&context] { return context.PollCancel(); };
  if (OpenMpegIndex(path, index, callbacks) == kCancelled) return kCancelled;
  frames = index.frameCount();
  return kOk;
}

Status ReadMpegInfo(const std::string& path, MpegInfo& info) {
  return ReadMpegInfoAndPicture(path, info, {});
}

Status ReadMpegInfoAndPicture(const std::string& path, MpegInfo& info,
                              const BitmapSink& firstPicture) {
  StandaloneContext context;
  MpegDecoderSession session(context.get());
  MpegDecodeRequest request;
  request.source = path;
  request.outputOptions = {2, 8};
  // The headers and the first picture are all it takes (the decoder may still deliver the
  // picture it held back when told to stop: only the first goes on).
  bool handedOn = false;
  const Status status = session.ConvertMpegToAvi(request, [&](const DecodedFrameInfo& frame, int,
                                                              int) {
    if (firstPicture && !handedOn && frame.bitmapHeader != nullptr && frame.bitmapBits != nullptr) {
      handedOn = true;
      firstPicture(*frame.bitmapHeader, frame.bitmapBits);
    }
    return kFrameStop;
  });
  if (IsFailure(status)) return status;
  const MpegStreamInfo& stream = session.stream();
  info.frameRateNum = stream.rate;
  info.frameRateDen = stream.scale;
  info.width = stream.width;
  info.height = stream.height;
  info.videoBitRate = stream.bitRate;
  const audio_decoder::AudioDescription& audio = session.audio();
  info.audioSampleRate = audio.present ? audio.sampleRate : 0;
  info.audioBitsPerSample = audio.present ? audio.bits : 0;
  info.unused = audio.present ? audio.channels : 0;
  info.audioLayer = audio.present ? audio.layer : 0;
  info.audioBitrateIndex = audio.present ? audio.bitrateIndex : 0;
  info.audioChannelMode = audio.present ? audio.ChannelMode() : 0;
  return kOk;
}

}  // namespace calvex::video_decoder
