// widgetsinterface: the desktop's side of the user-interface seam, on Qt Widgets: message
// boxes, the busy cursor, and files handed to the desktop.
#pragma once

namespace platform {

// Installs the Qt Widgets implementation (message boxes, override cursor, QDesktopServices).
void installWidgetsUserInterface();

} // namespace platform
