#include "ui/app_paths.h"

#include <cstdlib>
#include <filesystem>

#include "core/data_directory.h"
#include "core/file_names.h"
#include "core/messages.h"

namespace calvex::ui {

std::string PreferencesPath() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    base = WithTrailingSeparator(home) + ".config";
  } else {
    base = std::filesystem::temp_directory_path().string();
  }
  return WithTrailingSeparator(base) + "vorla.ini";
}

std::string SavedListPath() {
  return DataDirectory() + std::string(MessageText(280));
}

}  // namespace calvex::ui
