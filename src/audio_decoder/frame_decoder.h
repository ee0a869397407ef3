// Decoding of one MPEG-1 audio frame, Layer I or Layer II (ISO/IEC 11172-3, and its half sampling
// rates of ISO/IEC 13818-3): allocation, scale factors, the CRC check, requantisation and the
// synthesis filter, into 16-bit PCM.
//
//   FrameDecoder decoder;
//   decoder.Decode(header, frameBytes, frameSize, pcm);   // pcm: samples x channels, interleaved
//
// The decoder keeps the synthesis state of both channels from frame to frame; one decoder belongs
// to one stream. It reads nothing outside the bytes it is given, whatever they hold.
//
// Link target: calvex_audio_decoder.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "audio_decoder/synthesis_filter.h"
#include "mpeg_audio/frame_header.h"

namespace calvex::audio_decoder {

// The longest frame: Layer II at 384 kbit/s and 32 kHz with padding.
inline constexpr int kMaxFrameBytes = 1729;
inline constexpr int kMaxSamplesPerFrame = 1152;

// The frame's channel count, joint-stereo bound and (Layer II) allocation table and subband
// limit, derived from its header.
struct FrameLayout {
  int channels = 2;
  int sblimit = 32;
  int bound = 32;
  int table = -1;  // Layer II table number 0..4 (audio_tables.h), -1 for Layer I
};
FrameLayout LayoutOf(const audio::FrameHeader& header);

class FrameDecoder {
 public:
  explicit FrameDecoder(SynthesisPath path = BestSynthesisPath());

  // Decodes the frame whose `size` bytes start at `frame` (the four header bytes first; bytes
  // missing at the end read as zeros). `header` must be a valid Layer I/II header (ParseFrameHeader
  // true). `pcm` receives SamplesPerFrame(layer) x ChannelsOf(header) values, interleaved by
  // channel. Returns false when the frame carries a CRC that does not match: its PCM is then
  // silence of the frame's length and the synthesis state is left as it was.
  bool Decode(const audio::FrameHeader& header, const std::uint8_t* frame, std::size_t size,
              std::int16_t* pcm);

  // Forgets the synthesis history (as a fresh decoder).
  void Reset();

 private:
  bool DecodeLayer1(const audio::FrameHeader& header, const FrameLayout& layout,
                    const std::uint8_t* frame, std::size_t size, std::int16_t* pcm);
  bool DecodeLayer2(const audio::FrameHeader& header, const FrameLayout& layout,
                    const std::uint8_t* frame, std::size_t size, std::int16_t* pcm);
  // Runs the synthesis of part `part` of the subband samples (32 per channel) and interleaves
  // the 32 PCM samples per channel into `pcm`.
  void SynthesizePart(int channels, int part, std::int16_t* pcm);

  SynthesisTables tables_;
  std::array<SynthesisFilter, 2> filters_;
  // Requantised subband samples [channel][part][subband] (Layer I uses part 0).
  alignas(32) double samples_[2][3][32] = {};
};

}  // namespace calvex::audio_decoder
