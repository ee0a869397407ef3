#include "mpeg_audio/frame_header.h"

#include "mpeg_audio/audio_tables.h"

namespace calvex::audio {

void WriteFrameHeader(BitStream& out, const FrameHeader& h) {
  out.PutBits(kSyncWord, kSyncWordBits);
  out.PutBits(static_cast<std::uint32_t>(h.version), 1);
  out.PutBits(static_cast<std::uint32_t>(4 - h.layer), 2);
  out.PutBits(h.error_protection ? 0u : 1u, 1);
  out.PutBits(static_cast<std::uint32_t>(h.bitrate_index), 4);
  out.PutBits(static_cast<std::uint32_t>(h.sampling_frequency), 2);
  out.PutBits(static_cast<std::uint32_t>(h.padding), 1);
  out.PutBits(static_cast<std::uint32_t>(h.extension), 1);
  out.PutBits(static_cast<std::uint32_t>(h.mode), 2);
  out.PutBits(static_cast<std::uint32_t>(h.mode_ext), 2);
  out.PutBits(static_cast<std::uint32_t>(h.copyright), 1);
  out.PutBits(static_cast<std::uint32_t>(h.original), 1);
  out.PutBits(static_cast<std::uint32_t>(h.emphasis), 2);
}

bool ReadFrameHeader(BitStream& in, FrameHeader& h) {
  h.version = static_cast<std::int32_t>(in.GetBits(1));
  h.layer = 4 - static_cast<std::int32_t>(in.GetBits(2));
  h.error_protection = in.GetBits(1) == 0 ? 1 : 0;
  h.bitrate_index = static_cast<std::int32_t>(in.GetBits(4));
  h.sampling_frequency = static_cast<std::int32_t>(in.GetBits(2));
  h.padding = static_cast<std::int32_t>(in.GetBits(1));
  h.extension = static_cast<std::int32_t>(in.GetBits(1));
  h.mode = static_cast<std::int32_t>(in.GetBits(2));
  h.mode_ext = static_cast<std::int32_t>(in.GetBits(2));
  h.copyright = static_cast<std::int32_t>(in.GetBits(1));
  h.original = static_cast<std::int32_t>(in.GetBits(1));
  h.emphasis = static_cast<std::int32_t>(in.GetBits(2));
  return !in.EndOfStream() && FrameLengthBytes(h) > 0;
}

bool ParseFrameHeader(const std::uint8_t* b, FrameHeader& h) {
  h.version = (b[1] >> 3) & 1;
  h.layer = 4 - ((b[1] >> 1) & 3);
  h.error_protection = (b[1] & 1) == 0 ? 1 : 0;
  h.bitrate_index = b[2] >> 4;
  h.sampling_frequency = (b[2] >> 2) & 3;
  h.padding = (b[2] >> 1) & 1;
  h.extension = b[2] & 1;
  h.mode = b[3] >> 6;
  h.mode_ext = (b[3] >> 4) & 3;
  h.copyright = (b[3] >> 3) & 1;
  h.original = (b[3] >> 2) & 1;
  h.emphasis = b[3] & 3;
  return FrameLengthBytes(h) > 0;
}

int BitrateKbpsOf(const FrameHeader& h) {
  return h.version == 0 ? HalfRateBitrateKbps(h.layer, h.bitrate_index)
                        : BitrateKbps(h.layer, h.bitrate_index);
}

int SamplingRateHzOf(const FrameHeader& h) {
  if (h.sampling_frequency < 0 || h.sampling_frequency > 2) return 0;
  const auto code = static_cast<std::size_t>(h.sampling_frequency);
  return h.version == 0 ? kHalfSamplingFrequencyHz[code] : kSamplingFrequencyHz[code];
}

double SamplingRateKhzOf(const FrameHeader& h) {
  if (h.sampling_frequency < 0 || h.sampling_frequency > 2) return 0.0;
  const auto code = static_cast<std::size_t>(h.sampling_frequency);
  return h.version == 0 ? kHalfSamplingFrequencyKhz[code] : kSamplingFrequencyKhz[code];
}

int FrameLengthBytes(const FrameHeader& h) {
  if ((h.version != 0 && h.version != 1) || (h.layer != 1 && h.layer != 2) || h.bitrate_index < 1 ||
      h.bitrate_index > 14 || h.sampling_frequency < 0 || h.sampling_frequency > 2)
    return 0;
  const int bps = BitrateKbpsOf(h) * 1000;
  const int hz = SamplingRateHzOf(h);
  const int pad = h.padding ? 1 : 0;
  if (h.layer == 1) return (12 * bps / hz + pad) * 4;
  return 144 * bps / hz + pad;
}

void FrameCrc::Add(std::uint32_t value, int bits) {
  for (int i = bits - 1; i >= 0; --i) {
    const unsigned dataBit = (value >> i) & 1u;
    const unsigned topBit = (crc_ >> 15) & 1u;
    crc_ = static_cast<std::uint16_t>(crc_ << 1);
    if (topBit != dataBit) crc_ ^= 0x8005;
  }
}

void FrameCrc::AddHeader(const FrameHeader& h) {
  Add(static_cast<std::uint32_t>(h.bitrate_index), 4);
  Add(static_cast<std::uint32_t>(h.sampling_frequency), 2);
  Add(static_cast<std::uint32_t>(h.padding), 1);
  Add(static_cast<std::uint32_t>(h.extension), 1);
  Add(static_cast<std::uint32_t>(h.mode), 2);
  Add(static_cast<std::uint32_t>(h.mode_ext), 2);
  Add(static_cast<std::uint32_t>(h.copyright), 1);
  Add(static_cast<std::uint32_t>(h.original), 1);
  Add(static_cast<std::uint32_t>(h.emphasis), 2);
}

}  // namespace calvex::audio
