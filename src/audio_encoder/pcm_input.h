// Where the audio encoder's samples come from, and how 8- or 16-bit PCM at 8 to 48 kHz becomes the
// 16-bit values at 32, 44.1 or 48 kHz that it codes. The encoder sees only the PcmSource
// interface: the conversion driver feeds it from the media layer (WAV files, AVI audio, raw PCM
// files), tests from synthetic signals.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/status.h"

namespace calvex::audio {

struct PcmFormat {
  int channels = 2;
  int sampleRateHz = 44100;
  int bitsPerSample = 16;
};

class PcmSource {
 public:
  virtual ~PcmSource() = default;
  // Reads up to `bytes` bytes of interleaved little-endian PCM in the source format; `delivered`
  // receives the count, 0 at the end. Fewer bytes than asked do not mean the end. A failure code
  // ends the encoding with that code.
  virtual Status Read(std::uint8_t* buffer, std::size_t bytes, std::size_t& delivered) = 0;
};

// PCM held in memory (tests, benchmarks).
class MemoryPcmSource final : public PcmSource {
 public:
  explicit MemoryPcmSource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  Status Read(std::uint8_t* buffer, std::size_t bytes, std::size_t& delivered) override;

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

// The rate multiplier (1, 2 or 4) that takes `sampleRateHz` to 44100, 48000 or 32000 Hz; 0 when
// none does.
int RateMultiplierFor(int sampleRateHz);

// Reads a source's PCM as 16-bit values at the coded rate: an 8-bit sample b becomes (b - 128) x
// 256; with multiplier 2 each source sample x of a channel whose previous sample was m gives
// (m + x) >> 1 and x, with multiplier 4 (3m + x) >> 2, (m + x) >> 1, (3x + m) >> 2 and x (m starts
// at 0). Stereo stays interleaved.
class PcmFrameReader {
 public:
  // `totalValues`: the 16-bit values to deliver over all channels after rate multiplication.
  PcmFrameReader(PcmSource& source, const PcmFormat& format, int multiplier,
                 std::uint64_t totalValues);

  // Fills `values` with `count` values (a multiple of channels x multiplier). `produced` receives
  // `count`, or 0 at the end. When the source or the total ends inside the request, the rest is
  // zeros and the next call gives 0.
  Status Read(std::int16_t* values, std::size_t count, std::size_t& produced);

  // One frame into the per-channel sample buffers: Layer II 1152 values per channel; Layer I 384
  // new values per channel behind the previous frame's last 64 (448 in all). The second channel
  // of a mono source is zeros. `produced` is 0 at the end.
  Status ReadAudioFrame(std::array<std::array<std::int16_t, 1152>, 2>& buffer, int layer,
                        std::size_t& produced);

 private:
  PcmSource& source_;
  PcmFormat format_;
  int multiplier_;
  int bytesPerSample_;
  std::uint64_t remaining_;
  std::array<std::int32_t, 2> memory_{};
  std::vector<std::uint8_t> bytes_;
  std::vector<std::int16_t> interleaved_;
};

}  // namespace calvex::audio
