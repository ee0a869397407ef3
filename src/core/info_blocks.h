// File information blocks: what the readers report about a source file when it is added to the
// list. List files store them byte for byte, so their layouts are fixed (little-endian).
#pragma once

#include <cstddef>
#include <cstdint>

namespace calvex {

// AVI information (164 bytes), filled by the media layer's RAVIGetInfo.
struct AviInfo {
  char path[64] = {};
  char compressionName[64] = {};  // empty: none
  std::uint32_t fileSize = 0;
  std::uint32_t frameRatePacked = 0;  // numerator << 16 | denominator
  std::uint32_t videoDataSize = 0;
  std::uint32_t audioDataSize = 0;
  std::uint16_t frameCount = 0;
  std::uint16_t videoDurationHundredths = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  std::uint16_t bitsPerPixel = 0;
  std::uint16_t compressionRatioTenths = 0;  // tenths of a percent
  std::uint16_t audioFormatTag = 0;          // 0 no audio, 1 PCM, 2 MS ADPCM, other: a codec
  std::uint16_t audioSampleRate = 0;
  std::uint16_t audioChannels = 0;
  std::uint16_t audioBitsPerSample = 0;

  bool HasAudio() const { return audioFormatTag != 0; }
  std::uint32_t RateNumerator() const { return frameRatePacked >> 16; }
  std::uint32_t RateDenominator() const { return frameRatePacked & 0xFFFF; }
};
static_assert(sizeof(AviInfo) == 164);
static_assert(offsetof(AviInfo, frameCount) == 144);
static_assert(offsetof(AviInfo, audioFormatTag) == 156);

// WAV information (144 bytes).
struct WavInfo {
  char path[128] = {};
  std::uint32_t fileSize = 0;
  std::uint16_t unused = 0;
  std::uint16_t formatTag = 0;
  std::uint16_t sampleRate = 0;
  std::uint16_t bitsPerSample = 0;
  std::uint16_t channels = 0;
  std::uint16_t durationHundredths = 0;
};
static_assert(sizeof(WavInfo) == 144);
static_assert(offsetof(WavInfo, formatTag) == 134);

// MPEG information (176 bytes), filled by the MPEG decoding driver in information mode.
struct MpegInfo {
  char path[128] = {};
  std::uint32_t fileSize = 0;
  std::int32_t frameRateNum = 0;
  std::int32_t frameRateDen = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t videoBitRate = 0;     // units of 400 bit/s; 0x3FFFF = variable
  std::int32_t audioSampleRate = 0;  // Hz; 0 = no audio
  std::int32_t audioBitsPerSample = 0;
  std::int32_t unused = 0;
  std::int32_t audioLayer = 0;  // 1-3
  std::int32_t audioBitrateIndex = 0;
  std::int32_t audioChannelMode = 0;  // 1 mono, 2 stereo, 3 joint stereo, 4 dual channel
};
static_assert(sizeof(MpegInfo) == 176);

// MP2 information (156 bytes), filled by the MPEG audio decoding driver in information mode.
struct Mp2Info {
  char path[128] = {};
  std::uint32_t fileSize = 0;
  std::int32_t sampleRate = 0;
  std::int32_t bitsPerSample = 0;
  std::int32_t unused = 0;
  std::int32_t layer = 0;
  std::int32_t bitrateIndex = 0;
  std::int32_t channelMode = 0;  // as MpegInfo::audioChannelMode
};
static_assert(sizeof(Mp2Info) == 156);

// One group of pictures of an MPEG file's index (16 bytes).
struct GopIndexEntry {
  std::int32_t firstFrame = 0;  // display number of the group's first picture; -1 = free
  std::int32_t picturesBefore = 0;
  std::int32_t offset = 0;
  std::int32_t packetPosition = 0;
};
static_assert(sizeof(GopIndexEntry) == 16);

}  // namespace calvex
