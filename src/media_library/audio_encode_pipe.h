// Interleaved 8- or 16-bit PCM converted to a chosen wave format: resampled and remixed with
// libswresample, then coded by libavcodec's encoder for the format (PCM, Microsoft ADPCM, IMA
// ADPCM, A-law, mu-law, GSM 6.10). The AVI and WAV writers share it. Internal to the media layer.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "core/wave_format.h"
#include "media_library/ffmpeg_support.h"

struct AVAudioFifo;

namespace calvex::media::detail {

inline constexpr std::uint16_t kWaveFormatImaAdpcm = 0x11;
inline constexpr std::uint16_t kWaveFormatALaw = 6;
inline constexpr std::uint16_t kWaveFormatMuLaw = 7;
inline constexpr std::uint16_t kWaveFormatGsm610 = 0x31;

// The libavcodec encoder for a wave format, or null when there is none on this machine.
const AVCodec* EncoderForWaveFormat(const WaveFormat& format);

class AudioEncodePipe {
 public:
  AudioEncodePipe();
  ~AudioEncodePipe();
  AudioEncodePipe(const AudioEncodePipe&) = delete;
  AudioEncodePipe& operator=(const AudioEncodePipe&) = delete;

  // `source`: PCM, 8 or 16 bits, its rate and channels. `target`: the wanted format; a zero tag,
  // rate or channel count takes the source's. 608 when the format cannot be written.
  Status Open(const WaveFormat& source, WaveFormat target);

  // The encoder, opened; its parameters describe the coded stream.
  const AVCodecContext& encoder() const { return *encoder_; }

  using PacketSink = std::function<bool(AVPacket&)>;

  // Converts and codes `frames` source sample frames; every packet the encoder puts out goes to
  // `sink`, which returns false when it could not take it (the pipe then fails with that).
  bool Push(const std::uint8_t* pcm, std::int64_t frames, const PacketSink& sink);

  // Codes what is still held, the last frame filled up with silence.
  bool Finish(const PacketSink& sink);

 private:
  int Resample(const std::uint8_t* pcm, int frames);
  bool EncodeFrames(bool flush, const PacketSink& sink);
  bool Drain(const PacketSink& sink);

  WaveFormat source_{};
  CodecContextPtr encoder_;
  SwrPtr resampler_;
  AVAudioFifo* fifo_ = nullptr;
  FramePtr frame_ = MakeFrame();
  PacketPtr packet_ = MakePacket();
  std::int64_t pts_ = 0;
  std::int64_t samples_ = 0;  // real (not filled-up) samples given to the coder
};

}  // namespace calvex::media::detail
