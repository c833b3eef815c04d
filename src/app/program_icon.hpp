#pragma once
// The icon of the program's windows and of its task-bar entry.
#include <QIcon>

namespace fw {

// The installed theme icon "ferrowipe" when the icon theme has it, else the same pictures built
// into the program (a run from the build folder).
QIcon ProgramIcon();

}  // namespace fw
