// One audio stream of an open file decoded into interleaved PCM, sample-exact: 8-bit sources stay
// 8-bit unsigned, everything else becomes 16-bit signed, in the source's rate and channels.
// Internal to the media layer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/wave_format.h"
#include "media_library/ffmpeg_support.h"

namespace calvex::media::detail {

class PcmDecoder {
 public:
  // `format` stays owned by the caller and must outlive the decoder; the other streams of it are
  // switched off. 108 when the stream cannot be decoded.
  Status Open(AVFormatContext* format, int streamIndex);

  // PCM tag, the source's rate and channels, 8 or 16 bits.
  const WaveFormat& Format() const { return wave_; }

  // Makes the next Read start at sample frame `start` of the stream.
  void Seek(std::int64_t start);

  // Decodes up to `frames` sample frames into `out`; returns how many, 0 at the end of the
  // stream. Damaged packets are skipped.
  std::int64_t Read(std::uint8_t* out, std::int64_t frames);

 private:
  bool DecodeMore();
  void Take(const AVFrame& frame);
  std::uint8_t SilenceByte() const { return wave_.bitsPerSample == 8 ? 0x80 : 0; }

  AVFormatContext* format_ = nullptr;
  AVStream* stream_ = nullptr;
  CodecContextPtr decoder_;
  SwrPtr converter_;  // only when the decoder's samples are not already 8- or 16-bit interleaved
  int sampleFormat_ = -1;  // the decoder's sample format when the stream was opened
  PacketPtr packet_ = MakePacket();
  FramePtr frame_ = MakeFrame();
  WaveFormat wave_{};

  // Sample frames of silence to deliver before the pending bytes: counted, not stored, since a
  // damaged timestamp may open a gap of days.
  std::int64_t silence_ = 0;
  std::vector<std::uint8_t> pending_;  // decoded bytes not delivered yet
  std::size_t pendingOffset_ = 0;
  std::int64_t position_ = 0;  // sample frame that the next decoded frame starts at
  std::int64_t skipTo_ = 0;    // samples before this one are dropped
  bool reanchor_ = false;      // after a seek: take positions from the timestamps
  bool inputDone_ = false;
  bool decoderDone_ = false;
};

// Decodes the first audio stream of `path` (opened as `formatName`) to its end and counts its
// sample frames, for files whose header cannot be trusted. It decodes an opening of its own: a
// reader's opening keeps its place, whatever its demuxer can seek. 0 when nothing decodes.
std::int64_t CountDecodedSamples(const std::string& path, const char* formatName);

}  // namespace calvex::media::detail
