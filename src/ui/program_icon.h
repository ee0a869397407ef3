// The program's icon, drawn once as SVG (icons/calvex.svg): the windows show it, and the install
// lays it out for the desktop's menus in every size.
#pragma once

#include <QIcon>

namespace calvex::ui {

// The resource path of the icon, ":/icons/calvex.svg".
extern const char* const kProgramIconPath;

// The icon, from the program's resources (rendered by Qt's SVG icon engine).
QIcon ProgramIcon();

}  // namespace calvex::ui
