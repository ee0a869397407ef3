#include "ui/program_icon.h"

// A static library needs its resources registered by hand.
static void RegisterIcons() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(icons);
    return true;
  }();
  (void)registered;
}

namespace calvex::ui {

const char* const kProgramIconPath = ":/icons/calvex.svg";

QIcon ProgramIcon() {
  RegisterIcons();
  return QIcon(QString::fromLatin1(kProgramIconPath));
}

}  // namespace calvex::ui
