// The MPEG to AVI conversion driver and the MPEG file information reader, as the engine calls
// them (engine/default_drivers.cpp).
//
// Link target: calvex_mpeg_to_avi.
#pragma once

#include <cstdint>
#include <string>

#include "core/bitmap.h"
#include "core/conversion_context.h"
#include "core/drivers.h"
#include "core/info_blocks.h"
#include "core/status.h"

namespace calvex::video_decoder {

// Converts an MPEG-1 video elementary stream or system stream (frames job.firstFrame..lastFrame)
// into an AVI file with the job's parameter record; the sound of a system stream goes into the
// AVI in the record's audio format. When the record's frame rate differs from the stream's, the
// AVI plays at the record's rate with pictures dropped or repeated, so its length stays. A marked
// section starts at its stored index entry, or, when none was stored, at the entry the file's index
// (cached, or scanned now) gives for its first frame. Returns 0 or 2, 1 when cancelled, or a
// failure code; a failed or cancelled conversion leaves no AVI behind.
Status ConvertMpegToAvi(MpegToAviJob& job, ConversionContext& context);

// The number of pictures of an MPEG file, from its index (cached, or scanned now and cached).
// Returns 0, or 1 when the scan was cancelled; `frames` is 0 when the file holds no group of
// pictures or cannot be read.
Status CountMpegFrames(const std::string& path, std::int32_t& frames, ConversionContext& context);

// Fills the MPEG information block (frame rate, picture size, video bit rate and the first audio
// header's sampling rate, bits, channels, layer, bitrate index and channel mode) from the file's
// headers and first picture. Returns 0 or the decoder's failure code (101, 125, 126, ...).
Status ReadMpegInfo(const std::string& path, MpegInfo& info);
// The same, handing the file's first picture to `firstPicture` on the way (for previews).
Status ReadMpegInfoAndPicture(const std::string& path, MpegInfo& info,
                              const BitmapSink& firstPicture);

}  // namespace calvex::video_decoder
