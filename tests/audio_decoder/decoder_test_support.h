// Helpers of the audio decoder tests: synthetic Layer I/II streams with every quantiser, a sink
// that keeps what it receives, peer decoding with mpg123, and test signals.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio_decoder/decode_mpeg_audio.h"
#include "core/host.h"
#include "support/test_support.h"

namespace calvex::audio_decoder::testing {

// A random but valid stream: allocations, scale-factor selections, scale factors and sample codes
// drawn at random within the tables and the frame's bits, written with the program's BitStream
// and frame header writer. Exercises quantisers, joint-stereo bounds and CRCs that encoders
// seldom choose.
struct SyntheticStream {
  int version = 1;  // the header's ID bit: 0 for the half sampling rates
  int layer = 2;
  int mode = 0;  // header mode 0..3
  int modeExt = 0;
  int bitrateIndex = 10;
  int samplingCode = 0;
  bool crc = false;
  int frames = 20;
  unsigned seed = 1;
  // Smallest scale-factor index used (larger = quieter; keeps the sum of subbands in range).
  int loudestScaleFactor = 14;
};
// Writes the stream to `path`; returns the byte offset of each frame.
std::vector<std::size_t> WriteSyntheticStream(const SyntheticStream& stream,
                                              const std::string& path);

// Keeps the samples and the calls it receives.
class MemorySink final : public PcmSink {
 public:
  Status Begin(const AudioDescription& stream, const WaveFormat& pcmFormat) override;
  Status Write(const std::int16_t* samples, std::int32_t count) override;
  Status End() override;
  void Discard() override { calls.push_back("discard"); }

  std::vector<std::int16_t> samples;
  std::vector<std::string> calls;
  std::vector<int> blockSizes;
  AudioDescription stream;
  Status failWritesFrom = 0;  // nonzero: every Write from this call number on fails with 147
};

struct Decoded {
  Status status = 0;
  AudioDecodeResult result;
  std::vector<std::int16_t> samples;
};
// Decodes a file with our decoder into memory.
Decoded DecodeToMemory(const std::string& path, bool systemStream = false);

// Decodes a file with mpg123 into 16-bit samples (interleaved as the stream's channels).
std::vector<std::int16_t> DecodeWithMpg123(const std::string& path);

// Largest absolute difference of two sample sequences; -1 when their lengths differ.
int LargestDifference(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b);

// A WAV test signal made by ffmpeg: a tone sweep on the left, pink noise with tones on the right
// (mono: their mix), `seconds` long.
void MakeTestWav(const std::string& path, int rate, int channels, double seconds);

std::vector<std::int16_t> ReadRawSamples(const std::string& path);

// A host whose progress answers "cancel" from call `cancelAt` on (0: never), counting calls.
class CancellingHost final : public NullHost {
 public:
  explicit CancellingHost(int cancelAt) : cancelAt_(cancelAt) {}
  bool ConversionProgress(const ProgressRecord& record, ProgressKind kind,
                          int thousandths) override;
  int calls = 0;
  std::vector<ProgressRecord> records;
  std::vector<int> thousandths;
  std::vector<ProgressKind> kinds;

 private:
  int cancelAt_;
};

}  // namespace calvex::audio_decoder::testing
