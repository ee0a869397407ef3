// Where the desktop program keeps its files: the preferences in the user's configuration
// directory, the saved list and the default log in the data directory (core/data_directory.h).
#pragma once

#include <string>

namespace calvex::ui {

// $XDG_CONFIG_HOME/vorla.ini, or ~/.config/vorla.ini.
std::string PreferencesPath();

// The list kept from one start to the next: the data directory + "vxmpeg1.dat".
std::string SavedListPath();

}  // namespace calvex::ui
