#pragma once

#include <QString>

namespace kelvo {

// The four values the main window shares with the tray menu, the commands
// and the detail panel for the whole run. One object, owned by the session.
struct MainState
{
    // Full path of the data file, fixed when the main window is created.
    QString DataPath;
    // The card tree holds changes that are not yet in the data file. The
    // main window's ModifiedFlag raises it for every change of the tree.
    bool Modified = false;
    // The pending close request is a real end of the program.
    bool ExitRequested = false;
    // The main window is being shown again from the tray (never cleared).
    bool ShownFromTray = false;
};

} // namespace kelvo
