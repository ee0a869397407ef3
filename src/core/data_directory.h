// Where the program keeps its own files: the preferences, the saved list, the index cache and
// the default log ("vorla.dat" under the user's data directory).
#pragma once

#include <string>

namespace calvex {

// $XDG_DATA_HOME/vorla.dat/, or ~/.local/share/vorla.dat/ (with a trailing separator).
std::string DataDirectory();

// Creates the data directory (an existing one is fine). False when it cannot be created.
bool CreateDataDirectory();

// The default log file: the data directory + "tolbrek.log".
std::string DefaultLogPath();

}  // namespace calvex
