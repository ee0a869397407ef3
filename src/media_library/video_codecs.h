// The video codecs the AVI writer offers, with what the compression dialog shows of them.
// Internal to the media layer.
#pragma once

#include <cstdint>
#include <vector>

#include "media_library/ffmpeg_support.h"

namespace calvex::media::detail {

// Capability flags, in the bits the compression dialog tests.
inline constexpr std::uint32_t kCodecQuality = 0x01;   // honours the quality setting
inline constexpr std::uint32_t kCodecDataRate = 0x02;  // can hold a data rate
inline constexpr std::uint32_t kCodecTemporal = 0x04;  // codes frames from earlier ones

// Data types: 24-bit colour, or 8 bits through one of the common palettes.
inline constexpr std::int32_t kDataType24 = 24;
inline constexpr std::int32_t kDataType8 = 8;

constexpr std::uint32_t Fourcc(char a, char b, char c, char d) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24;
}

struct VideoCodecSpec {
  std::uint32_t fourcc;       // written as the stream's handler; 0 = uncompressed frames
  std::uint32_t alsoKnownAs;  // another code that selects the same codec, or 0
  const char* name;
  const char* encoder;  // libavcodec's encoder, null for uncompressed frames
  AVPixelFormat pixelFormat;
  std::uint32_t flags;
  std::int32_t defaultQuality;  // 1..10000
  std::int32_t defaultKeyFrameEvery;
  int sizeMultiple;  // picture sizes the codec takes are multiples of this
  bool palettised;   // offers the 8-bit data type
};

// The codecs usable on this machine, uncompressed frames first.
const std::vector<const VideoCodecSpec*>& AvailableVideoCodecs();

// The codec for a four-character code (letter case ignored), uncompressed for 0, or null.
const VideoCodecSpec* FindVideoCodec(std::uint32_t fourcc);

// The quality 1..10000 as a quantiser scale 2..31 (0 takes the codec's default).
int QualityToQscale(std::int32_t quality, std::int32_t defaultQuality);

}  // namespace calvex::media::detail
