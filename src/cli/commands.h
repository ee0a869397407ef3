// The commands of calvex and what they run on: the drivers and information readers (the real
// ones, or test doubles in the test build of the program).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/convert_options.h"
#include "cli/option_warnings.h"
#include "core/drivers.h"
#include "engine/info_text.h"
#include "engine/source_files.h"

namespace calvex::cli {

struct Backends {
  DriverSet drivers;
  InfoReaders readers;
  CodecNameLookup codecName;           // names of audio format tags beyond PCM and Microsoft ADPCM
  VideoCodecTraitsLookup codecTraits;  // what the AVI writer's video codecs take
};

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// calvex [convert|info] ...: parses the command line and runs the command.
int RunCalvex(int argc, char** argv, const Backends& backends);

int RunConvert(const ConvertOptions& options, const Backends& backends);
int RunInfo(const std::vector<std::string>& files, bool json, const Backends& backends);

}  // namespace calvex::cli
