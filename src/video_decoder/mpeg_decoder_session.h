// One MPEG-1 file open for decoding: the MPEG to AVI conversion, the preview (which keeps the
// decoder open between requests, so that playing on, seeking and drawing another frame do not
// reopen the file) and the file information.
//
//   MpegDecoderSession session(context);
//   MpegDecodeRequest request;
//   request.source = "movie.mpg";
//   request.destination = "movie.avi";          // none: pictures go to the callback only
//   request.params = &settings.mpegToAvi;
//   Status s = session.ConvertMpegToAvi(request, callback);
//
// A conversion decodes the sound of a system stream first (into a temporary file of its own in
// the destination's directory, which the AVI writer interleaves), then the pictures, in display
// order, into the AVI. The session owns every state of the file; sessions are independent.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "audio_decoder/decode_mpeg_audio.h"
#include "core/conversion_context.h"
#include "core/info_blocks.h"
#include "core/settings.h"
#include "core/temp_file.h"
#include "media_library/media_library.h"
#include "video_decoder/byte_source.h"
#include "video_decoder/decode_control.h"
#include "video_decoder/gop_index.h"
#include "video_decoder/output_frame_rate.h"
#include "video_decoder/system_video_source.h"
#include "video_decoder/video_decoder.h"

namespace calvex::video_decoder {

struct MpegDecodeRequest {
  std::string source;
  std::string destination;  // empty: no AVI output
  // Words 1 and 2 go into the AVI stream information, word 3 is kept, word 4 is halveFrames.
  std::array<std::int32_t, 4> decodingOptions{1, 6500, 1, 1};
  // The sound's sampling-rate divisor and bits per sample.
  std::array<std::int32_t, 2> outputOptions{1, 16};
  std::int32_t firstFrame = 0;
  std::int32_t lastFrame = -1;  // -1: to the end
  // The AVI's parameter record (conversion only; defaults when none). Its size and frame rate
  // are the AVI's (a frame rate of 0 keeps the stream's).
  const MpegToAviParams* params = nullptr;
  // A marked section's start entry: decoding starts at that group (conversion of a section).
  const GopIndexEntry* section = nullptr;
  // The frame count announced to the AVI writer when the wanted count is not known; 0 lets the
  // session estimate it from the file.
  std::int32_t estimatedFrameCount = 0;
};

// What the stream's headers say, once it has been opened.
struct MpegStreamInfo {
  std::int32_t rate = 0;  // frame rate numerator
  std::int32_t scale = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t bitRate = 0;      // the sequence header's bit_rate field (400 bit/s units)
  std::int32_t totalFrames = 1;  // the stream's count once its end was met, else 1
};

class MpegDecoderSession {
 public:
  explicit MpegDecoderSession(ConversionContext& context);
  ~MpegDecoderSession();
  MpegDecoderSession(const MpegDecoderSession&) = delete;
  MpegDecoderSession& operator=(const MpegDecoderSession&) = delete;

  // Decodes frames request.firstFrame..lastFrame, into an AVI file when a destination is given.
  // Returns 0 or 2 on success, 1 when the callback (or a cancel) stopped the run, or a failure:
  // 101 cannot open, 128 empty, 126 a pack without system header (nothing is created), 125 no
  // video sequence header, 100, the sound decoder's and the AVI writer's codes.
  Status ConvertMpegToAvi(const MpegDecodeRequest& request, FrameCallback callback);

  // Ends an open decoder and forgets the stream's frame count and seek limits.
  void CloseMpegDecoder();

  // Positions the open decoder for display frame `frame` through the index. True when positioned
  // (or when decoding on reaches it), false without an index entry or when the stream cannot be
  // moved.
  bool SeekToFrame(std::int32_t frame);
  // Positions the open decoder at a marked section's stored start entry.
  void SeekToSection(const GopIndexEntry& entry);

  bool IsOpen() const { return control_.playMode != kPlayClosed; }
  DecodeControl& control() { return control_; }
  GopIndex& index() { return index_; }
  const MpegStreamInfo& stream() const { return stream_; }
  const audio_decoder::AudioDescription& audio() const { return audio_; }
  // The last conversion began an AVI file (which a failed conversion leaves for its caller to
  // remove).
  bool outputCreated() const { return outputCreated_; }

 private:
  enum class Mode { kRun = 0, kClose = 2 };
  Status OpenAndRun(Mode mode);
  Status Open();
  Status Run();
  void Close();
  Status DecodeSound();
  bool Reposition(const GopIndexEntry& entry);
  void RestartFromTheBeginning();

  ConversionContext& context_;
  DecodeControl control_;
  GopIndex index_;
  MpegStreamInfo stream_;
  audio_decoder::AudioDescription audio_;

  MpegDecodeRequest request_;
  std::optional<GopIndexEntry> section_;  // to be sought when the run starts
  bool outputCreated_ = false;
  std::int64_t sourceSize_ = 0;
  bool systemStream_ = false;
  FileByteSource fileSource_;
  SystemVideoSource systemSource_;
  std::unique_ptr<VideoDecoder> decoder_;
  std::unique_ptr<media::AviWriter> writer_;
  // Set when the AVI plays at another rate than the pictures come: drops or repeats them.
  std::optional<FrameRateChange> rateChange_;
  std::int32_t outputPictures_ = 0;
  // The decoded sound of a conversion, its format and size.
  TemporaryFile soundFile_;
  WaveFormat soundFormat_{};
  std::int64_t soundBytes_ = 0;
};

}  // namespace calvex::video_decoder
