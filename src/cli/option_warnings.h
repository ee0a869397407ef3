// Options that do not apply to a file: to its kind of conversion, to what it holds (sound, mono
// sound) or to the output the other options choose (--quality with uncompressed pictures,
// --wav-bits with ADPCM). The command warns once per option and file and converts without them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/convert_options.h"

namespace calvex::cli {

// What a video codec of the AVI writer takes besides its pictures.
struct VideoCodecTraits {
  bool quality = true;    // a quality setting
  bool keyFrames = true;  // a key frame interval (it codes frames from the ones before)
};

// The traits of the codec with a four-character code; none when not known.
using VideoCodecTraitsLookup = std::function<std::optional<VideoCodecTraits>(std::int32_t)>;

// "--OPTION does not apply to ..." for each given option that does not apply to `entry` (whose
// record holds the options already).
std::vector<std::string> InapplicableOptions(const ConvertOptions& options,
                                             const SourceEntry& entry,
                                             const VideoCodecTraitsLookup& codecTraits);

}  // namespace calvex::cli
