// The MPEG-1 audio Layer I/II encoder: checks a PCM source, derives the frame parameters and runs
// the frame loop (analysis filter bank, psychoacoustic model 2, bit allocation and quantisation,
// frame formatting) into a bit-stream file.
//
// The encoder knows nothing of the media layer or of the front end: samples come through a
// PcmSource, progress and cancel through an EncodeObserver that the conversion driver connects to
// its ConversionContext. Every encoding is an object of its own; output bytes depend only on the
// samples and the settings.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "audio_encoder/analysis_filter.h"
#include "audio_encoder/bit_allocation.h"
#include "audio_encoder/pcm_input.h"
#include "audio_encoder/psychoacoustic_model.h"
#include "core/progress.h"
#include "core/settings.h"
#include "core/status.h"
#include "mpeg_audio/bit_stream.h"

namespace calvex::audio {

// What an accepted source and request turn into.
struct EncodingSetup {
  int multiplier = 1;    // output samples per source sample
  int sampleRateHz = 0;  // coded: 44100, 48000 or 32000
  FrameParams frame;     // header with layer, bitrate index, frequency and mode
};

// Checks the source format in the driver's order (118 sample size, 119 rate, 120 channels),
// chooses the mode and the bitrate index and derives the frame parameters. On success `params`
// holds the coded bitrate and sampling rate.
Status ConfigureEncoding(const PcmFormat& format, AudioEncodeParams& params, EncodingSetup& setup);

// Frame length arithmetic of the frame loop: average slots per frame in double precision, its
// whole part and fraction, and the padding decision from the running slot lag.
class FramePadding {
 public:
  FramePadding(int layer, int bitrateKbps, int sampleRateHz);
  // The padding bit of the next frame.
  int Next();
  int wholeSlots() const { return wholeSlots_; }
  double fraction() const { return fraction_; }

 private:
  int wholeSlots_;
  double fraction_;
  double slotLag_;
};

// Encodes frames one at a time; owns the filter bank's, the model's and the allocation's state.
class FrameEncoder {
 public:
  // `fast` false runs the plain filter, FFT and spreading (tests compare the two).
  FrameEncoder(const EncodingSetup& setup, bool fast = true);

  // Codes one frame of the per-channel sample buffers (Layer I: the 448-value buffers) with the
  // given padding bit and writes it to `out`, exactly (whole slots + padding) slots long.
  void EncodeFrame(const std::array<std::array<std::int16_t, 1152>, 2>& samples, int padding,
                   int availableBits, BitStream& out);

  // The header of the last frame (mode and mode_ext as the joint-stereo decision left them).
  const FrameHeader& lastHeader() const { return fp_.header; }

 private:
  FrameParams fp_;
  AnalysisFilter filter_;
  PsychoacousticModel2 model_;
  SubbandSamples subbands_{};
  ChannelSamples joint_{};
  ScaleFactorIndices scale_{};
  ChannelScaleFactors jointScale_{};
  ChannelSubbandValues selection_{};
  ChannelSubbandValues allocation_{};
  SignalToMask smr_{};
  QuantisedSamples quantised_{};
};

// Receives the frame loop's progress; the conversion driver forwards it to its context.
class EncodeObserver {
 public:
  virtual ~EncodeObserver() = default;
  // Called before each frame with the audio progress record and the progress in thousandths.
  // Returning true cancels the encoding (status 1).
  virtual bool Progress(const ProgressRecord& record, int thousandths) = 0;
};

// What the stream encoder needs to know about its source.
struct EncodeSource {
  PcmSource* pcm = nullptr;
  PcmFormat format;
  std::uint64_t totalValues = 0;   // 16-bit values over all channels after rate multiplication
  std::uint32_t sourceFrames = 0;  // sample frames per channel before it (progress words 11..14)
};

struct EncodeResult {
  Status status = kOk;
  bool created = false;      // the destination file was created
  bool writeFailed = false;  // a write or the close of the destination failed
  std::uint32_t frames = 0;
};

// The whole encoding: configure, open `destination` (102, 100), run the frame loop, close. Ends
// with 0, 1 (cancelled), a source check code, the source's read failure, or 147 when a write or the
// close failed. The destination file is left as written (the driver removes it on failure).
EncodeResult EncodeAudioStream(const EncodeSource& source, AudioEncodeParams& params,
                               const std::string& destination, EncodeObserver& observer,
                               bool fast = true);

}  // namespace calvex::audio
