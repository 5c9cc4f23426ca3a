// The program's icon: the one the build renders from the shipped SVG and
// lays beside the executable ("marrowick.png"), for the window, the tray
// icon and the about box.
#pragma once

#include <string>

#include <QIcon>

namespace marrowick {

inline constexpr const char* kProgramIconFile = "marrowick.png";

// The icon from programDir (with its trailing '/'); when the file is not
// there, the desktop theme's "marrowick" icon, and failing that the style's
// standard computer icon, so the tray never goes without an icon.
QIcon ProgramIcon(const std::string& programDir);

}  // namespace marrowick
