// Scanning an MPEG-1 file (a video elementary stream, or a system stream whose video packets
// are walked) for its groups of pictures: the full scan that builds the picture index, and a quick
// estimate of the frame count from the group time codes near the end of the file.
//
//   GopIndex index;
//   ScanCallbacks callbacks;
//   callbacks.cancelled = [&] { return context.PollCancel(); };
//   if (ScanMpegFile(path, index, callbacks) == kCancelled) ...
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/status.h"
#include "video_decoder/gop_index.h"

namespace calvex::video_decoder {

struct ScanCallbacks {
  // Asked at every picture start code; true ends the scan with status 1.
  std::function<bool()> cancelled;
  // Told after each group is recorded: how far the scan is, in thousandths of the file.
  std::function<void(int)> progress;
};

// Fills `index` (reset first) with one entry per group of pictures and its frame count with the
// number of pictures. Returns 0 when the scan completed, also when the file cannot be opened or
// is shorter than 128 bytes (the index is then empty), and 1 when `callbacks.cancelled` asked to
// stop. A file that starts with a pack start code (00 00 01 BA) is scanned as a system stream.
//
// Offsets are 32-bit: groups that start beyond 2^31 - 1 bytes are counted but not recorded.
Status ScanMpegFile(const std::string& path, GopIndex& index, const ScanCallbacks& callbacks = {});

// Estimates the file's number of frames from the group time codes of its last 200000 bytes:
// the frames of the last group's time code plus the pictures that follow it; for a system stream
// less the frames of the first group's time code (when that is 6 or more). 0 when the file cannot
// be opened, is shorter than 128 bytes, or holds no group of pictures. When the last 200000 bytes
// of a longer file hold no group, the whole file is read.
std::int32_t EstimateMpegFrameCount(const std::string& path);

// The picture_rate code of the file's first sequence header (elementary or system stream); 0 when
// none is found before the first group of pictures.
int FirstPictureRateCode(const std::string& path);

// The frames a group time code stands for (the four bytes after the group start code) at the
// picture rate of `pictureRateCode`.
std::int32_t GroupTimeCodeFrames(const std::uint8_t* bytes, int pictureRateCode);

}  // namespace calvex::video_decoder
