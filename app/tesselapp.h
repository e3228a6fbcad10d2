// The program's start: the socket layer, the command line, the look of
// every window, and the main window run until it closes.
#pragma once

class QApplication;

namespace tessel {

// Grey RGB(192, 192, 192) with black text for every window and box, on the
// style that draws controls with a three-dimensional look.
void ApplyProgramLook(QApplication& app);

// The whole program: makes the Qt application without the program's
// parameters (so that Qt cannot take or reinterpret any of them), then the
// socket layer, the look, the command line and the main window until it
// closes. Returns the exit code, 0, in every case.
int RunTessel(int argc, char* argv[]);

}  // namespace tessel
