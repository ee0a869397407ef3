// Signals, encodings and decodings shared by the audio encoder's tests and benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio_encoder/audio_encoder.h"

namespace calvex::audio::testing {

enum class Signal { kTone, kSweep, kNoise, kSilence, kSquare, kSpeech };
const char* SignalName(Signal s);

// `frames` sample frames of `channels` interleaved 16-bit values at `rate` (the second channel a
// variation of the first, so joint stereo has something to share).
std::vector<std::int16_t> MakeSignal(Signal s, int channels, int rate, int frames,
                                     double toneHz = 1000.0);

// Little-endian bytes of 16-bit values, or of 8-bit unsigned samples (value >> 8) + 128.
std::vector<std::uint8_t> PcmBytes(const std::vector<std::int16_t>& values, int bits);

// An observer that records each call and can cancel at a given frame.
class RecordingObserver : public EncodeObserver {
 public:
  bool Progress(const ProgressRecord& record, int thousandths) override;
  std::vector<ProgressRecord> records;
  std::vector<int> thousandths;
  int cancelAtFrame = -1;
};

struct Encoded {
  EncodeResult result;
  AudioEncodeParams params;
  std::vector<std::int16_t> codedInput;  // the values the encoder coded (after rate conversion)
};

// Encodes `pcm` (in `format`) into `path` with the given request.
Encoded EncodeToFile(const std::vector<std::uint8_t>& pcm, const PcmFormat& format, int layer,
                     int jointStereo, int kbps, const std::string& path, bool fast = true);

// The values the encoder codes for a source: the source through the rate conversion.
std::vector<std::int16_t> CodedValues(const std::vector<std::uint8_t>& pcm,
                                      const PcmFormat& format);

// Frame headers of an audio file read back with BitStream; `tiles` false when the frames do not
// cover the file exactly (a frame's length disagrees with its header, or bytes are left over).
struct FrameScan {
  std::vector<FrameHeader> headers;
  bool tiles = false;
};
FrameScan ScanFrames(const std::string& path);

// Decodes with a peer ("ffmpeg" or "mpg123") into 16-bit values at the coded rate. `ok` false when
// the peer failed or reported an error.
struct Decoded {
  bool ok = false;
  std::string log;
  std::vector<std::int16_t> values;
};
Decoded DecodeWithPeer(const std::string& peer, const std::string& mp2, int channels);

// SNR in dB of `decoded` against `reference` at the best delay in 0..maxDelay samples, over the
// whole overlap; `delay` receives that delay.
double SnrDb(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& decoded,
             int channels, int& delay, int maxDelay = 1800);

std::string Md5OfFile(const std::string& path);

}  // namespace calvex::audio::testing
