// "Pad frames for CD-ROM": rewrites a finished AVI so that each record starts on a 2048-byte
// sector boundary, as CD-ROM players read whole sectors. A record is an audio chunk with the video
// chunk that follows it, or a video chunk on its own; the space before it becomes a JUNK chunk,
// the index is moved to match and the main header's padding granularity says 2048. Files of more
// than one RIFF part (OpenDML, beyond 1 GB, never CD-ROM material) are left as they are.
// Internal to the media layer.
#pragma once

#include <string>

namespace calvex::media::detail {

inline constexpr int kCdRomSector = 2048;

// False when the file could not be read or rewritten (it is then left as it was).
bool PadChunksForCdRom(const std::string& path);

}  // namespace calvex::media::detail
