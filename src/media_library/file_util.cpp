#include "media_library/file_util.h"

#include <filesystem>

namespace calvex::media::detail {

void RemoveUnfinishedFile(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_regular_file(std::filesystem::symlink_status(path, error)))
    std::filesystem::remove(path, error);
}

}  // namespace calvex::media::detail
