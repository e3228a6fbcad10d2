// The program's start: the socket layer, the command line, the look of
// every window, and the main window run until it closes.
#pragma once

#include <span>

class QApplication;

namespace tessel {

class CTesselApp {
public:
    // `args` is the program's own command line, untouched by Qt.
    explicit CTesselApp(std::span<char* const> args) : m_args(args) {}
    virtual ~CTesselApp() = default;

    // Runs the program; false in every case, as there is no message loop
    // of the application's own after the main window has closed.
    virtual bool InitInstance();

private:
    std::span<char* const> m_args;
};

// Grey RGB(192, 192, 192) with black text for every window and box, on the
// style that draws controls with a three-dimensional look.
void ApplyProgramLook(QApplication& app);

// The whole program: makes the Qt application without the program's
// parameters (so that Qt cannot take or reinterpret any of them), then runs
// CTesselApp. Returns the exit code, 0.
int RunTessel(int argc, char* argv[]);

}  // namespace tessel
