// What calvex-gui answers on the command line without opening a window: --help and --version.
#pragma once

#include <optional>

namespace calvex::ui {

// The help or the version on standard output when an argument asks for it; then the program's
// exit status. Otherwise nothing, and the program starts.
std::optional<int> AnswerHelpOrVersion(int argc, char** argv);

}  // namespace calvex::ui
