// An AVI opened through libavformat, with what the readers need to know about its streams.
// Internal to the media layer.
#pragma once

#include <cstdint>
#include <string>

#include "media_library/ffmpeg_support.h"

namespace calvex::media::detail {

struct AviFile {
  FormatInputPtr format;
  int video = -1;  // stream indices, -1 when absent
  int audio = -1;
  // The file ends before the end its RIFF header announces (a copy broke off); its index is then
  // missing and the header's frame count cannot be trusted.
  bool truncated = false;

  AVStream* VideoStream() const { return video >= 0 ? format->streams[video] : nullptr; }
  AVStream* AudioStream() const { return audio >= 0 ? format->streams[audio] : nullptr; }
};

// Opens an AVI file. 1001 when it cannot be opened or is not an AVI.
Status OpenAviFile(const std::string& path, AviFile& file);

// The video rate as numerator << 16 | denominator, reduced to fit 16 bits each.
std::uint32_t PackedFrameRate(const AVStream& video);

// Sizes found by reading every chunk of the file.
struct ChunkScan {
  std::int64_t videoFrames = 0;  // last video frame number present + 1
  std::int64_t videoBytes = 0;
  std::int64_t audioBytes = 0;
};
ChunkScan ScanChunks(const std::string& path);

// The number of video frames: the stream header's count, or for a truncated file the frames
// that are present.
std::int64_t VideoFrameCount(const AviFile& file, const std::string& path);

// Sample frames per channel of the audio stream, from its header's length.
std::int64_t AudioSampleFrames(const AVStream& audio);

// Sum of the chunk sizes the index holds for a stream (0 when the file has no index).
std::int64_t IndexedBytes(AVStream& stream);

}  // namespace calvex::media::detail
