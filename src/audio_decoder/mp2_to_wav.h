// The MP2 to WAV conversion driver and the MP2 information reader.
//
// Link target: calvex_audio_decoder.
#pragma once

#include <string>

#include "core/conversion_context.h"
#include "core/drivers.h"
#include "core/info_blocks.h"
#include "core/status.h"

namespace calvex::audio_decoder {

// Converts an MPEG audio file (Layer I or II) into a WAV file in the job's format (the media
// layer converts rate, sample size and channels, or compresses). Returns 0, 1 (cancelled; no
// file is left), 101 (the source cannot be opened), 128 (it is empty), or DecodeMpegAudio's
// codes (121, 122, 147, the WAV writer's).
Status ConvertMp2ToWav(Mp2ToWavJob& job, ConversionContext& context);

// Fills the MP2 information block from the file's first frame header: sampling rate, bits per
// sample (16), channels (in the word after them), layer, bitrate index and channel mode. Returns
// 0 or DecodeMpegAudio's refusal (the block then keeps what it had).
Status ReadMp2Info(const std::string& path, Mp2Info& info);

}  // namespace calvex::audio_decoder
