// DecodeMpegAudio: an MPEG-1 audio file (Layer I or II), or the audio packets of an MPEG-1 system
// stream, decoded into 16-bit PCM for one of three uses:
//   - the MP2 to WAV conversion: samples go to the media layer's WAV writer (sink kWavFile);
//   - the MPEG to AVI conversion of a system stream: samples go, averaged by the rate divisor and
//     in the output sample size, to a raw PCM temporary file that the AVI writer interleaves
//     (sink kTemporaryFile, usually with systemStream set);
//   - information: only the first header is read (sink kNone); nothing is written.
//
//   AudioDecodeRequest request;
//   request.source = "song.mp2";
//   request.sink = AudioSinkKind::kWavFile;
//   request.destination = "song.wav";
//   request.wavFormat = MakePcmFormat(2, 44100, 16);
//   AudioDecodeResult result;
//   Status s = DecodeMpegAudio(request, context, result);
//
// Layer III, streams without a syncword and first headers with a forbidden bitrate or sampling
// code are refused before any output is begun. A failed or cancelled decoding leaves no output
// file behind (the WAV writer is ended first). All state lives in the call; any number of
// decodings may run at once.
//
// Link target: calvex_audio_decoder.
#pragma once

#include <cstdint>
#include <string>

#include "core/conversion_context.h"
#include "core/progress.h"
#include "core/status.h"
#include "core/wave_format.h"

namespace calvex::audio_decoder {

// What the first header says about the stream.
struct AudioDescription {
  bool present = false;
  std::int32_t sampleRate = 0;  // Hz
  std::int32_t bits = 16;       // of the decoded PCM
  std::int32_t channels = 0;    // 1 or 2
  std::int32_t layer = 0;       // 1 or 2 (3 when refused as Layer III)
  std::int32_t bitrateIndex = 0;
  std::int32_t mode = 0;  // the header's mode: 0 stereo, 1 joint stereo, 2 dual channel, 3 mono

  // The information blocks' channel mode: 1 mono, 2 stereo, 3 joint stereo, 4 dual channel.
  std::int32_t ChannelMode() const;
};

// Writes the audio words (11..16) of a progress record.
void PublishAudioDescription(const AudioDescription& description, ProgressRecord& record);

enum class AudioSinkKind { kNone, kWavFile, kTemporaryFile };

struct AudioOutputOptions {
  std::int32_t rateDivisor = 1;     // 0 or less is taken as 1
  std::int32_t bitsPerSample = 16;  // 8 gives unsigned 8-bit samples, anything else 16-bit
};

struct AudioDecodeRequest {
  std::string source;
  // Read the audio packets of an MPEG-1 system stream instead of a plain audio file.
  bool systemStream = false;
  AudioSinkKind sink = AudioSinkKind::kNone;
  // The WAV file (kWavFile) or the temporary PCM file (kTemporaryFile) to create.
  std::string destination;
  AudioOutputOptions output;
  // The WAV file's format (kWavFile): the writer converts the decoded PCM into it.
  WaveFormat wavFormat{};
  // A range of video frames (first, last or -1 for the end) whose audio is wanted; it applies
  // when the record's frame rate (words kInfoRate, kInfoScale) is not 0.
  std::int32_t firstVideoFrame = 0;
  std::int32_t lastVideoFrame = -1;
  // The record handed to the progress display; the caller's words (total frames, rate, scale)
  // are kept, the decoder fills the time, frame number and audio words.
  ProgressRecord record{};
  // The source's size for the progress; 0: taken from the file.
  std::int64_t sourceSize = 0;
};

struct AudioDecodeResult {
  AudioDescription description;
  // The PCM format of the decoded audio after the rate divisor and sample size (what the
  // temporary file holds).
  WaveFormat pcmFormat{};
  // Bytes written to the temporary file.
  std::int64_t audioBytes = 0;
  // Frames decoded (skipped ones not counted), and frames whose CRC did not match.
  std::int64_t framesDecoded = 0;
  std::int64_t crcErrors = 0;
  // Samples per channel delivered to the sink (before the rate divisor).
  std::int64_t samplesPerChannel = 0;
};

// Receives the decoded samples. Begin is called at the first frame, before any sample; Write
// with at most 1600 interleaved values at a time; End once at the end when Begin succeeded;
// Discard after End when the decoding failed or was cancelled.
class PcmSink {
 public:
  virtual ~PcmSink() = default;
  virtual Status Begin(const AudioDescription& stream, const WaveFormat& pcmFormat) = 0;
  // A nonzero result (a failed write: 147) stops the decoding with that status.
  virtual Status Write(const std::int16_t* samples, std::int32_t count) = 0;
  virtual Status End() = 0;
  virtual void Discard() {}
};

// Decodes as the request says. Returns 0, 1 (cancelled through the context), 101 (cannot open),
// 114 (systemStream and no MPEG system stream), 121 (no syncword, or a first header with bitrate
// index 15, sampling code 3, or else undecodable), 122 (Layer III), 123 (temporary file cannot
// be created), 147 (a write failed; the context's disk-full flag is raised), or the WAV writer's
// codes.
Status DecodeMpegAudio(const AudioDecodeRequest& request, ConversionContext& context,
                       AudioDecodeResult& result);

// The same into a sink of the caller's (request.sink and destination are not used; nullptr reads
// the description only).
Status DecodeMpegAudioInto(const AudioDecodeRequest& request, PcmSink* sink,
                           ConversionContext& context, AudioDecodeResult& result);

// The description of a stream's first frame (information mode): 0, or the codes above.
Status ReadMpegAudioDescription(const std::string& source, bool systemStream,
                                AudioDescription& description);

// Audio frames of a video frame range (ISO/IEC 11172-3 frames of `samplesPerFrame` samples at
// `sampleRate` Hz, video at rate / scale frames per second): the number of leading frames to skip
// and the last frame to decode (2147483647: to the end).
struct AudioFrameRange {
  std::int64_t skip = 0;
  std::int64_t last = 2147483647;
};
AudioFrameRange AudioFramesForVideoRange(std::int32_t sampleRate, std::int32_t samplesPerFrame,
                                         std::int32_t rate, std::int32_t scale,
                                         std::int32_t firstVideoFrame, std::int32_t lastVideoFrame);

}  // namespace calvex::audio_decoder
