// An AVI opened through libavformat, with what the readers need to know about its streams.
// Internal to the media layer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "media_library/avi_chunks.h"
#include "media_library/ffmpeg_support.h"

namespace calvex::media::detail {

struct AviFile {
  std::string path;
  FormatInputPtr format;
  int video = -1;  // stream indices, -1 when absent
  int audio = -1;
  std::optional<std::vector<StreamChunks>> chunks;  // tallied once, when needed

  AVStream* VideoStream() const { return video >= 0 ? format->streams[video] : nullptr; }
  AVStream* AudioStream() const { return audio >= 0 ? format->streams[audio] : nullptr; }
};

// Opens an AVI file. 1001 when it cannot be opened or is not an AVI.
Status OpenAviFile(const std::string& path, AviFile& file);

// The video rate as numerator << 16 | denominator, reduced to fit 16 bits each.
std::uint32_t PackedFrameRate(const AVStream& video);

// What the file's chunks hold for stream `index` (a stream of `file.format`; nothing for -1).
StreamChunks ChunksOf(AviFile& file, int index);

// The number of video frames: the chunks the file holds for them, but no more than its stream
// header counts (an AVI cut short counts what is left of it). A header may claim any length; it
// is not trusted beyond the data.
std::int64_t VideoFrameCount(AviFile& file);

// Sample frames per channel of the audio stream, from its header's length; 0 when it gives none.
std::int64_t AudioSampleFrames(const AVStream& audio);

// The most sample frames per channel the audio stream's chunks can hold, for formats of a fixed
// number of bits per sample (exact for PCM); -1 for other formats.
std::int64_t HeldAudioSampleFrames(AviFile& file);

}  // namespace calvex::media::detail
