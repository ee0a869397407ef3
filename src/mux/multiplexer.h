// The MPEG-1 system stream multiplexer: interleaves one video elementary stream (stream 0xE0) and
// one Layer I/II audio stream (0xC0) into an ISO/IEC 11172-1 system stream.
//
// It plans the whole stream first (mux_plan.h): from the picture index table the video encoder
// filled it derives the video buffer bound, the start-up delay and the mux rate; it lays out every
// pack and packet (packet_schedule.h), runs the system target decoder over that layout
// (decoder_buffers.h) and only then writes. Packets carry at most 2048 data bytes; time stamps
// belong to the access unit whose first byte the packet holds, video and audio on one clock, so
// that both start together and every picture is shown at its display position.
//
//   Multiplexer mux;
//   Status s = mux.MultiplexSystemStream(destination, videoPath, audioPath, index, params, ctx);
//
// One object per conversion; it holds no process-wide state. Progress goes to the context with
// stage kind 2 (interleaving), once per picture; a cancel stops at once. The destination is
// removed unless the result is 0; the caller removes the temporary input files.
//
// Link target: calvex_mux.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "core/conversion_context.h"
#include "core/status.h"
#include "mux/audio_frames.h"
#include "mux/mux_params.h"
#include "mux/mux_plan.h"

namespace calvex::mux {

// What the multiplexer wrote into the headers, for callers and tests.
struct MuxLayout {
  MuxPlan plan;
  std::int64_t startDelay = 0;  // D as written: the plan's, lengthened when an access unit would
                                // otherwise reach its decoder late
  std::int32_t videoBufferBound = 0;  // units of 1024 bytes
  std::int32_t audioBufferBound = 0;  // units of 128 bytes
  bool constrained = false;           // the CSPS flag
  std::int64_t videoPeakBytes = 0;    // what the decoder buffers hold at most
  std::int64_t audioPeakBytes = 0;
  std::int64_t packets = 0;  // Video CD: sectors
  std::int64_t audioFrames = 0;
};

class Multiplexer {
 public:
  // Writes the system stream of `videoPath` and `audioPath` into `destination`. `index` holds
  // params.outputFrameCount + 1 words. Returns 0; 1 when cancelled; 103 when the audio file's size
  // is unknown, an input cannot be opened, the audio is not coded as the parameters say or the
  // inputs cannot make a stream; 100 without memory;
  // 102 when the destination cannot be created; 127 when an input is shorter than planned; 147
  // when a write or the close failed (the context's disk-full flag is raised).
  Status MultiplexSystemStream(const std::string& destination, const std::string& videoPath,
                               const std::string& audioPath, std::span<const std::uint32_t> index,
                               const MuxParams& params, ConversionContext& context,
                               MuxFormat format = MuxFormat::kStandard);

  const MuxLayout& layout() const { return layout_; }

 private:
  Status Run(const std::string& destination, const std::string& videoPath,
             const std::string& audioPath, std::span<const std::uint32_t> index,
             const MuxParams& params, ConversionContext& context, MuxFormat format);

  // The Video CD sectors (vcd_sectors.h) of the planned stream into `destination`.
  Status WriteVideoCd(const std::string& destination, std::FILE* video, std::FILE* sound,
                      std::span<const std::uint32_t> index, const AudioFrames& frames,
                      bool constrainedVideo, const MuxParams& params, ConversionContext& context);

  MuxLayout layout_;
  bool created_ = false;  // the destination was created by this call
};

// Reads the constrained_parameters_flag of the video sequence header at the start of `bytes`
// (false when they do not begin with a sequence header).
bool ConstrainedParametersFlag(std::span<const std::uint8_t> bytes);

}  // namespace calvex::mux
