// Test media made with ffmpeg, and ffmpeg's own decoding of it as the reference (ffmpeg itself
// and the picture comparison are in support/media_tools.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/media_tools.h"
#include "support/test_support.h"

namespace calvex::testing {

// Runs ffprobe on `path` and returns the value of one entry, for example
// ProbeValue(p, "stream=nb_frames", "v:0").
std::string ProbeValue(const std::string& path, const std::string& entry,
                       const std::string& streams);

// The swscale flags of the media layer, for ffmpeg's -sws_flags and scale filter.
inline constexpr const char* kScalerFlags =
    "bicubic+accurate_rnd+bitexact+full_chroma_int+full_chroma_inp";
// Its flags for YUV pictures with subsampled chroma that keep their size.
inline constexpr const char* kSameSizeYuvScalerFlags = "neighbor+accurate_rnd+bitexact";

// ffmpeg's decoding of every video frame of `path` (in the order it puts them out) as 24-bit
// bottom-up bitmaps of width x height with rows padded to 4 bytes, as the media layer delivers
// (with the flags it takes for that picture).
std::vector<std::vector<std::uint8_t>> FfmpegFrames(const std::string& path, int width, int height);

// ffmpeg's decoding of the first audio stream as interleaved samples of `sampleFormat` ("u8",
// "s16le").
std::vector<std::uint8_t> FfmpegAudio(const std::string& path, const std::string& sampleFormat);

// A smooth test picture (gradients and a square that moves with `frame`) as a 24-bit bottom-up
// bitmap with padded rows.
std::vector<std::uint8_t> TestPicture(int width, int height, int frame);

// `seconds` of a sine of `frequency` Hz as interleaved 16-bit samples (all channels alike).
std::vector<std::int16_t> SineSamples(int rate, int channels, double seconds, double frequency);

// How far interleaved 16-bit samples of channel `channel` are from the best-fitting sine of
// `frequency` Hz, as a signal-to-noise ratio in dB; the first and last 20 ms are left out.
double SineSnr(const std::vector<std::int16_t>& samples, int channels, int channel, int rate,
               double frequency);

// The bytes as 16-bit little-endian samples.
std::vector<std::int16_t> AsSamples(const std::vector<std::uint8_t>& bytes);

// The RIFF chunk ids inside an AVI's movi list, in file order, with their offsets.
struct ChunkRef {
  std::string id;
  std::size_t offset = 0;
};
std::vector<ChunkRef> MoviChunks(const std::vector<std::uint8_t>& avi);

// Little-endian helpers for looking into written files.
std::uint32_t Le32At(const std::vector<std::uint8_t>& bytes, std::size_t offset);
std::uint16_t Le16At(const std::vector<std::uint8_t>& bytes, std::size_t offset);

// Offset of the first occurrence of `tag` in `bytes`, or npos.
std::size_t FindTag(const std::vector<std::uint8_t>& bytes, const std::string& tag,
                    std::size_t from = 0);

}  // namespace calvex::testing
