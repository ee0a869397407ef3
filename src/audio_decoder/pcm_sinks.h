// The two sinks of DecodeMpegAudio that write files: the WAV file through the media layer, and
// the raw PCM temporary file of the MPEG to AVI conversion.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "audio_decoder/decode_mpeg_audio.h"
#include "media_library/media_library.h"

namespace calvex::audio_decoder {

// Removes `path` when it is a regular file (never a device or a directory a caller named).
void RemoveRegularFile(const std::string& path);

// 16-bit PCM at the stream's rate and channels to the media layer's WAV writer, which converts it
// into `format`. A failed write (the writer's 124) is reported as 147, the disk-full code.
class WavFileSink final : public PcmSink {
 public:
  WavFileSink(std::string path, const WaveFormat& format)
      : path_(std::move(path)), format_(format) {}
  Status Begin(const AudioDescription& stream, const WaveFormat& pcmFormat) override;
  Status Write(const std::int16_t* samples, std::int32_t count) override;
  Status End() override;
  void Discard() override;

 private:
  std::string path_;
  WaveFormat format_;
  media::WavWriter writer_;
};

// Raw PCM, without header, in the format DecodeMpegAudio reports (pcmFormat): every `divisor`
// consecutive sample frames are averaged per channel (the sum divided by the divisor, truncated
// toward zero); 8-bit samples are stored as (v >> 8) + 128, 16-bit ones little-endian. A group
// cut by a Write boundary is completed by the next Write, so the file holds exactly
// (samples per channel) / divisor sample frames whatever the block sizes.
class TemporaryFileSink final : public PcmSink {
 public:
  TemporaryFileSink(std::string path, const AudioOutputOptions& options);
  ~TemporaryFileSink() override;
  TemporaryFileSink(const TemporaryFileSink&) = delete;
  TemporaryFileSink& operator=(const TemporaryFileSink&) = delete;

  Status Begin(const AudioDescription& stream, const WaveFormat& pcmFormat) override;
  Status Write(const std::int16_t* samples, std::int32_t count) override;
  Status End() override;
  void Discard() override;

  // Bytes written to the file so far.
  std::int64_t BytesWritten() const { return written_; }

 private:
  bool FlushBytes();

  std::string path_;
  std::int32_t divisor_;
  bool eightBit_;
  int channels_ = 1;
  std::FILE* file_ = nullptr;
  bool failed_ = false;
  std::int64_t written_ = 0;
  std::int64_t sums_[2] = {};
  std::int32_t grouped_ = 0;  // sample frames in the group being averaged
  int partial_ = 0;           // values of the current sample frame taken so far
  std::vector<std::uint8_t> bytes_;
};

}  // namespace calvex::audio_decoder
