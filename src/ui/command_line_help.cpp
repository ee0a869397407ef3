#include "ui/command_line_help.h"

#include <cstdio>
#include <string_view>

namespace calvex::ui {
namespace {

// In the command line's layout, so that the manual page is made from it the same way.
constexpr const char* kHelp =
    "calvex-gui: the desktop converter of AVI movies to MPEG-1 and WAV to MPEG audio, and back.\n"
    "Usage: calvex-gui [OPTIONS] [FILE... | DIRECTORY NAME...]\n"
    "\n"
    "Opens the main window with each FILE, or each file NAME of DIRECTORY, in Selected Files. "
    "A second start hands its files to the window already open.\n"
    "\n"
    "Options:\n"
    "  -h,--help                   Print this help message and exit\n"
    "  --version                   Print the version and exit\n"
    "  -platform NAME              Qt's window system (xcb, wayland, offscreen, ...)\n"
    "\n"
    "Files:\n"
    "  $XDG_CONFIG_HOME/vorla.ini  The preferences (default ~/.config/vorla.ini)\n"
    "  $XDG_DATA_HOME/vorla.dat/   The list kept between starts, the default log tolbrek.log and "
    "the MPEG index cache (default ~/.local/share/vorla.dat/)\n";

}  // namespace

std::optional<int> AnswerHelpOrVersion(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::puts("calvex-gui " CALVEX_VERSION);
      return 0;
    }
  }
  return std::nullopt;
}

}  // namespace calvex::ui
