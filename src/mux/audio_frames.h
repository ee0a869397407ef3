// Where the frames of a Layer I/II audio file begin, so that each audio packet's time stamp
// belongs to the frame that really starts in it. Frames are followed header to header: a 0xFFF
// pattern inside frame data is never taken for a frame start.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/status.h"

namespace calvex::mux {

struct AudioFrames {
  std::vector<std::int64_t> offsets;  // byte offset of each frame, from 0, increasing
  int layer = 0;                      // of the first frame (0 when there is none)
  int sampleRateHz = 0;
};

// Scans `path` from its first byte, one frame header to the next. The scan ends at the first
// position that holds no Layer I/II header (the encoder's closing 0x00 byte, or the end); bytes
// from there on belong to no frame (and their packets carry no time stamp). Returns 0, 103 when
// the file cannot be opened, or 100.
Status ScanAudioFrames(const std::string& path, AudioFrames& frames);

}  // namespace calvex::mux
