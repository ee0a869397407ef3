// calvex: the command-line front end.
#include <cstdint>
#include <optional>
#include <vector>

#include "cli/commands.h"
#include "engine/default_drivers.h"
#include "media_library/media_library.h"

namespace {

// The capability flags of a codec of the AVI writer's list.
std::optional<calvex::cli::VideoCodecTraits> CodecTraits(std::int32_t handler) {
  std::vector<calvex::media::VideoCodecEntry> codecs;
  const int index = calvex::media::aviListCodec(handler, codecs);
  std::int32_t quality = 0;
  std::int32_t keyFrameEvery = 0;
  std::uint32_t flags = 0;
  bool canConfigure = false;
  bool hasAbout = false;
  if (index == 0 || calvex::media::aviGetQKFCA(index, quality, keyFrameEvery, flags, canConfigure,
                                               hasAbout) != calvex::kOk)
    return std::nullopt;
  return calvex::cli::VideoCodecTraits{(flags & calvex::media::kCodecSupportsQuality) != 0,
                                       (flags & calvex::media::kCodecSupportsTemporal) != 0};
}

}  // namespace

int main(int argc, char** argv) {
  calvex::cli::Backends backends;
  backends.drivers = calvex::DefaultDrivers();
  backends.readers = calvex::DefaultInfoReaders();
  backends.codecName = calvex::media::myGetCodecName;
  backends.codecTraits = CodecTraits;
  return calvex::cli::RunCalvex(argc, argv, backends);
}
