// The ISO/IEC 11172-3 audio frame header (Layers I and II) as the encoder writes it and the
// decoders read it, the frame length it implies, and the frame CRC-16.
//
// Link target: calvex_mpeg_audio.
#pragma once

#include <cstdint>

#include "mpeg_audio/bit_stream.h"

namespace calvex::audio {

inline constexpr std::uint32_t kSyncWord = 0xFFF;
inline constexpr int kSyncWordBits = 12;

// One field per header element, in header order. The encoder always codes version 1 (MPEG-1),
// error_protection 0 (no CRC), extension (private bit), copyright, original and emphasis 0.
struct FrameHeader {
  std::int32_t version = 1;           // ID bit: 1 = MPEG-1, 0 = half sampling rates (decoded only)
  std::int32_t layer = 2;             // 1, 2 (3 is read but never coded)
  std::int32_t error_protection = 0;  // 1: a CRC word follows the header
  std::int32_t bitrate_index = 0;
  std::int32_t sampling_frequency = 0;  // 0 = 44.1 kHz, 1 = 48 kHz, 2 = 32 kHz (halved for ID 0)
  std::int32_t padding = 0;
  std::int32_t extension = 0;  // the private bit
  std::int32_t mode = 0;       // kModeStereo .. kModeSingleChannel (audio_tables.h)
  std::int32_t mode_ext = 0;
  std::int32_t copyright = 0;
  std::int32_t original = 0;
  std::int32_t emphasis = 0;
};
static_assert(sizeof(FrameHeader) == 48);

// Writes the 32-bit header: syncword, ID, layer code 4 - layer, protection bit (1 = no CRC),
// bitrate index, sampling frequency, padding, private bit, mode, mode extension, copyright,
// original, emphasis.
void WriteFrameHeader(BitStream& out, const FrameHeader& header);

// Reads the 20 header bits that follow a syncword found by SeekSync(kSyncWord, kSyncWordBits)
// into `header` (layer code 0 reads as layer 4, which no decoder takes). Returns true when the
// header describes a frame a Layer I/II decoder can take: MPEG-1 or its half sampling rates (ID 0),
// layer 1 or 2, a bitrate index 1..14, a sampling frequency code 0..2 (free format, Layer III and
// reserved values: false).
bool ReadFrameHeader(BitStream& in, FrameHeader& header);

// The same from the four header bytes in memory (syncword included, not checked); the decoders
// scan their input byte by byte and parse candidate headers in place. Returns what
// ReadFrameHeader returns.
bool ParseFrameHeader(const std::uint8_t* bytes, FrameHeader& header);

// Channels a header's mode codes: 1 for single channel, else 2.
constexpr int ChannelsOf(const FrameHeader& header) {
  return header.mode == 3 ? 1 : 2;
}

// The bitrate in kbit/s and the sampling rate of a valid Layer I/II header, by its ID bit.
int BitrateKbpsOf(const FrameHeader& header);
int SamplingRateHzOf(const FrameHeader& header);
double SamplingRateKhzOf(const FrameHeader& header);

// Frame length in bytes, padding included, of a valid Layer I/II header; 0 otherwise. Layer I:
// (12 x bitrate / frequency + padding) x 4; Layer II: 144 x bitrate / frequency + padding
// (integer division; the encoder's slot arithmetic gives the same lengths). A Layer II frame at
// the half rates holds 1152 samples too.
int FrameLengthBytes(const FrameHeader& header);

// CRC-16 of ISO/IEC 11172-3 (generator 0x8005, start 0xFFFF). Values are fed most significant
// bit first, in the order they are written.
class FrameCrc {
 public:
  void Add(std::uint32_t value, int bits);
  // The 16 header bits the CRC covers: bitrate_index through emphasis.
  void AddHeader(const FrameHeader& header);
  std::uint16_t value() const { return crc_; }

 private:
  std::uint16_t crc_ = 0xFFFF;
};

}  // namespace calvex::audio
