#include "core/data_directory.h"

#include <cstdlib>
#include <filesystem>

#include "core/file_names.h"
#include "core/messages.h"

namespace calvex {

std::string DataDirectory() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    base = WithTrailingSeparator(home) + ".local/share";
  } else {
    base = std::filesystem::temp_directory_path().string();
  }
  return WithTrailingSeparator(WithTrailingSeparator(base) + std::string(MessageText(279)));
}

bool CreateDataDirectory() {
  std::error_code ec;
  std::filesystem::create_directories(DataDirectory(), ec);
  return std::filesystem::is_directory(DataDirectory(), ec);
}

std::string DefaultLogPath() {
  return DataDirectory() + std::string(MessageText(271));
}

}  // namespace calvex
