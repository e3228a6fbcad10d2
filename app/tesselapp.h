// The program's start: the socket layer, the command line, the look of
// every window, and the main window run until it closes.
#pragma once

#include <QVersionNumber>

#include <string>

class QApplication;

namespace tessel {

// What decides the windowing platform the program hands to Qt.
struct PlatformSituation {
    QVersionNumber qtRuntime;          // the Qt library the program runs with
    bool platformVariableSet = false;  // QT_QPA_PLATFORM is set: the user chose
    std::string platformArgument;      // NAME of "-platform NAME" on the command line
    bool waylandSession = false;       // WAYLAND_DISPLAY set, or the session type "wayland"
    bool x11Display = false;           // DISPLAY set: an X server (or XWayland) to run on
};

// The platform to hand to Qt, empty for Qt's own choice. On a Wayland
// desktop with an X server beside it, Qt before 6.6.1 runs on X11 ("xcb"):
// its Wayland client crashed there (a use-after-free with animated cursors,
// the wait cursor of a command sets one), and windows could not be placed.
// A platform the user chose (the variable, or "-platform NAME") stands.
std::string QtPlatformFor(const PlatformSituation& situation);
// The situation of this process: the runtime Qt, its environment and its
// command line.
PlatformSituation CurrentPlatformSituation(int argc, char* argv[]);

// Grey RGB(192, 192, 192) with black text for every window and box, on the
// style that draws controls with a three-dimensional look.
void ApplyProgramLook(QApplication& app);

// The whole program: makes the Qt application without the program's
// parameters (so that Qt cannot take or reinterpret any of them), then the
// socket layer, the look, the command line and the main window until it
// closes. Returns the exit code, 0, in every case.
int RunTessel(int argc, char* argv[]);

}  // namespace tessel
