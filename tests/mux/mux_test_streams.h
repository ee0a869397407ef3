// Elementary streams and checks for the multiplexer's tests: small hand-made video and audio
// streams with their picture index tables, the picture index table of a real MPEG-1 video stream,
// and an independent run of the ISO/IEC 11172-1 system target decoder over a parsed system
// stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mux/system_stream_parser.h"

namespace calvex::mux::testing {

struct FakeVideo {
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint32_t> index;
};

// A video stream with a sequence header (constrained_parameters_flag set), one group header and
// pictures of the given sizes (start code included) in coding order, whose display numbers are
// given; then the sequence end code. The picture data never holds a start code.
FakeVideo MakeFakeVideo(const std::vector<int>& pictureBytes,
                        const std::vector<int>& displayNumbers);

// Display numbers of the encoder's group structure (I0 P3 B1 B2 P6 B4 B5 ...), as in its coding
// order, for n pictures.
std::vector<int> EncoderDisplayOrder(int n);

// `frames` Layer I/II frames at `sampleRateHz` and `kbps` (padding as an encoder sets it), then the
// encoder's closing 0x00 byte. With falseSyncs the frame data is full of 0xFFF patterns.
std::vector<std::uint8_t> MakeFakeAudio(int frames, int layer, int sampleRateHz, int kbps,
                                        bool falseSyncs);

// The picture index table of an MPEG-1 video elementary stream, derived from its start codes,
// group headers and temporal references; empty when it holds no picture.
std::vector<std::uint32_t> PictureIndexOf(const std::vector<std::uint8_t>& video);

// Offsets of the picture start codes of a video stream / of the frames of an audio stream.
std::vector<std::size_t> PictureStarts(const std::vector<std::uint8_t>& video);
std::vector<std::size_t> AudioFrameStarts(const std::vector<std::uint8_t>& audio);

struct DecoderModelReport {
  std::vector<std::string> faults;     // empty when the stream obeys the model
  double latestArrivalMargin = 1e300;  // smallest (decoding time - arrival) over all units, ticks
  std::int64_t videoPeak = 0;          // bytes
  std::int64_t audioPeak = 0;
};

// Runs the system target decoder: bytes arrive at the mux rate from each pack's SCR on, every
// picture (headers before it included) leaves the video buffer at its decoding time, every audio
// frame the audio buffer at its presentation time. Decoding times come from the first time stamp
// of each stream and the periods (ticks); every other time stamp must agree with them.
DecoderModelReport CheckDecoderModel(const ParsedSystemStream& s, double videoPeriod,
                                     double audioPeriod);

}  // namespace calvex::mux::testing
