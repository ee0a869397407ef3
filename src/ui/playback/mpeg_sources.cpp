// MPEG pictures through our decoder, positioned by the file's picture index, and the sound of a
// system stream through our audio decoder.
#include <algorithm>

#include "audio_decoder/decode_mpeg_audio.h"
#include "core/conversion_context.h"
#include "mpeg_audio/audio_tables.h"
#include "mpeg_audio/system_stream_reader.h"
#include "ui/frame_view.h"
#include "ui/playback/media_sources_impl.h"
#include "video_decoder/index_cache.h"
#include "video_decoder/mpeg_decoder_session.h"

namespace calvex::ui::playback {
namespace {

using video_decoder::DecodedFrameInfo;

class MpegPictureSource final : public PictureSource {
 public:
  MpegPictureSource(std::string path, const video_decoder::GopIndex& index)
      : path_(std::move(path)) {
    session_.index() = index;
  }

  // Opens the decoder on the first picture; the stream's headers are then known.
  Status Prepare() {
    video_decoder::MpegDecodeRequest request;
    request.source = path_;
    request.lastFrame = 0;
    const Status s = session_.ConvertMpegToAvi(
        request, [](const DecodedFrameInfo&, int, int) { return video_decoder::kFrameStop; });
    return IsFailure(s) ? s : kOk;
  }
  const video_decoder::MpegStreamInfo& stream() const { return session_.stream(); }

  Status Run(std::int32_t first, PictureSink& sink) override {
    // Every run starts from a decoder positioned for it: one that goes on after a stopped run
    // numbers the pictures of its next groups one short. A frame of the first group is decoded
    // from the start; a later one through the index, which only an open decoder follows.
    session_.CloseMpegDecoder();
    const auto& groups = session_.index();
    if (groups.UsedCount() > 1 && first >= groups[1].firstFrame) {
      if (const Status s = Prepare(); s != kOk) return s;
    }
    video_decoder::MpegDecodeRequest request;
    request.source = path_;
    request.firstFrame = std::max(first, 0);
    const Status s = session_.ConvertMpegToAvi(request, [&sink](const DecodedFrameInfo& info, int,
                                                                int) {
      if (info.bitmapHeader != nullptr && info.bitmapBits != nullptr &&
          !sink.Deliver({info.frameNumber, ImageFromBitmap(*info.bitmapHeader, info.bitmapBits)}))
        return video_decoder::kFrameStop;
      if (sink.Stopped()) return video_decoder::kFrameStop;
      return sink.KeyPicturesOnly() ? video_decoder::kFrameIntraOnly : video_decoder::kFrameGoOn;
    });
    return IsFailure(s) ? s : kOk;
  }

 private:
  std::string path_;
  StandaloneContext context_;
  video_decoder::MpegDecoderSession session_{context_.get()};
};

// Hands the decoded samples of a system stream's sound to the player from the first audio frame
// of the wanted range on.
class SoundAdapter final : public audio_decoder::PcmSink {
 public:
  SoundAdapter(SoundSink& sink, const MediaInfo& info, std::int32_t first)
      : sink_(sink), info_(info), first_(first) {}

  Status Begin(const audio_decoder::AudioDescription& stream, const WaveFormat&) override {
    const int samplesPerFrame = audio::SamplesPerFrame(stream.layer);
    const audio_decoder::AudioFrameRange range = audio_decoder::AudioFramesForVideoRange(
        stream.sampleRate, samplesPerFrame, info_.rate, info_.scale, first_, -1);
    sink_.Begin(
        stream.sampleRate == 0 ? 0 : range.skip * samplesPerFrame * 1000000 / stream.sampleRate);
    return kOk;
  }
  Status Write(const std::int16_t* samples, std::int32_t count) override {
    return sink_.Write(samples, static_cast<std::size_t>(count)) ? kOk : kCancelled;
  }
  Status End() override { return kOk; }

 private:
  SoundSink& sink_;
  const MediaInfo& info_;
  std::int32_t first_;
};

class MpegSoundSource final : public SoundSource {
 public:
  MpegSoundSource(std::string path, const MediaInfo& info) : path_(std::move(path)), info_(info) {}

  Status Run(std::int32_t first, SoundSink& sink) override {
    audio_decoder::AudioDecodeRequest request;
    request.source = path_;
    request.systemStream = true;
    request.firstVideoFrame = std::max(first, 0);
    request.record.Word(kInfoRate) = info_.rate;
    request.record.Word(kInfoScale) = info_.scale;
    SoundAdapter adapter(sink, info_, request.firstVideoFrame);
    StandaloneContext context;
    audio_decoder::AudioDecodeResult result;
    const Status s = audio_decoder::DecodeMpegAudioInto(request, &adapter, context.get(), result);
    return IsFailure(s) ? s : kOk;
  }

 private:
  std::string path_;
  MediaInfo info_;
};

}  // namespace

Status OpenMpeg(const std::string& path, const video_decoder::ScanCallbacks& scan,
                OpenedMedia& media) {
  video_decoder::GopIndex index;
  if (const Status s = video_decoder::OpenMpegIndex(path, index, scan); s != kOk) return s;
  auto pictures = std::make_unique<MpegPictureSource>(path, index);
  if (const Status s = pictures->Prepare(); s != kOk) return s;
  MediaInfo& info = media.info;
  info.kind = MediaKind::kMpeg;
  info.hasPictures = true;
  info.rate = pictures->stream().rate;
  info.scale = pictures->stream().scale;
  info.width = pictures->stream().width;
  info.height = pictures->stream().height;
  info.frameCount = index.frameCount();
  const auto used = index.UsedEntries();
  info.groups.assign(used.begin(), used.end());
  media.pictures = std::move(pictures);

  audio_decoder::AudioDescription sound;
  if (audio::IsSystemStreamFile(path) == kOk &&
      audio_decoder::ReadMpegAudioDescription(path, true, sound) == kOk && sound.present &&
      sound.sampleRate > 0) {
    info.hasSound = true;
    info.sampleRate = sound.sampleRate;
    info.channels = PlayableChannels(sound.channels);
    media.sound = std::make_unique<MpegSoundSource>(path, info);
  }
  return kOk;
}

}  // namespace calvex::ui::playback
