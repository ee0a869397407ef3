// The texts that show a source file's information block: the fields of the four information
// dialogs ("InfoAVI", "InfoWAV", "InfoMPEG", "InfoMP2") with their formats, for the desktop
// program and for `calvex info`.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/info_blocks.h"

namespace calvex {

// One field of an information dialog. `group` is "Video" or "Audio" for the fields of those
// boxes, empty for the file's own. A text may be empty (the audio fields of a file without sound).
struct InfoLine {
  std::string group;
  std::string label;
  std::string text;
};

// The media layer's name of a wave format tag ("" when it knows none).
using CodecNameLookup = std::function<std::string(std::uint16_t)>;

// "%2d,%03d Bytes" up to 100000 bytes, else "%d KB".
std::string FileSizeText(std::uint32_t bytes);

// The part of a path after its last '\' or '/'.
std::string FileNameText(const std::string& path);

// "Mono", "Stereo", "Joint Stereo" or "Dual Channel" for the channel modes 1-4 of the MPEG and MP2
// blocks; "" for any other.
std::string ChannelModeText(std::int32_t mode);

// "PCM", "Microsoft ADPCM", the codec's own name, or "Unknown compression scheme".
std::string AudioFormatText(std::uint16_t formatTag, const CodecNameLookup& codecName);

// The kbit/s of an MPEG audio bit-rate index for layer 1..3: ISO/IEC 11172-3's, or at a sampling
// rate below 32 kHz the half rates' of ISO/IEC 13818-3; 0 for the free format, an index out of the
// table or another layer.
std::int32_t AudioBitrateKbps(std::int32_t layer, std::int32_t bitrateIndex,
                              std::int32_t sampleRateHz = 0);

// The AVI's video duration as the dialog works it out: frames / rate (cut to hundredths of a
// frame per second), in hundredths of a second; 0 without a rate.
std::int32_t AviVideoDurationHundredths(const AviInfo& info);

// What the AVI dialog writes back into the block it shows: the video duration, and "No
// Compression" when the block names no compression.
void CompleteAviInfo(AviInfo& info);

// The fields of each dialog, in its order; `path` gives the "File Name:".
std::vector<InfoLine> AviInfoLines(const std::string& path, const AviInfo& info,
                                   const CodecNameLookup& codecName);
std::vector<InfoLine> WavInfoLines(const std::string& path, const WavInfo& info,
                                   const CodecNameLookup& codecName);
std::vector<InfoLine> MpegInfoLines(const std::string& path, const MpegInfo& info);
std::vector<InfoLine> Mp2InfoLines(const std::string& path, const Mp2Info& info);

}  // namespace calvex
