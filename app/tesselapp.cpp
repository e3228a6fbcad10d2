#include "app/tesselapp.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

#include <cstdlib>
#include <cstring>
#include <span>

#include "app/commandline.h"
#include "app/tesseldlg.h"
#include "app/windowclasses.h"
#include "platform/sockets.h"
#include "app/messagebox.h"
#include "app/stringtable.h"

namespace tessel {

void ApplyProgramLook(QApplication& app)
{
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(style);
    QPalette palette = QApplication::style()->standardPalette();
    const QColor grey(192, 192, 192);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Window, grey);
        palette.setColor(group, QPalette::Button, grey);
        palette.setColor(group, QPalette::WindowText, Qt::black);
        palette.setColor(group, QPalette::ButtonText, Qt::black);
        palette.setColor(group, QPalette::Text, Qt::black);
    }
    palette.setColor(QPalette::Disabled, QPalette::Window, grey);
    palette.setColor(QPalette::Disabled, QPalette::Button, grey);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(128, 128, 128));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(128, 128, 128));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(128, 128, 128));
    app.setPalette(palette);
}

std::string QtPlatformFor(const PlatformSituation& situation)
{
    if (!situation.platformArgument.empty()) return situation.platformArgument;
    if (situation.platformVariableSet) return {};
    if (!situation.waylandSession || !situation.x11Display) return {};
    if (situation.qtRuntime >= QVersionNumber(6, 6, 1)) return {};
    return "xcb";
}

PlatformSituation CurrentPlatformSituation(int argc, char* argv[])
{
    // Only whether a variable is set is read, never a value that is used.
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    PlatformSituation situation;
    situation.qtRuntime = QVersionNumber::fromString(QLatin1String(qVersion()));
    situation.platformVariableSet = set("QT_QPA_PLATFORM");
    const char* sessionType = std::getenv("XDG_SESSION_TYPE");
    situation.waylandSession = set("WAYLAND_DISPLAY") || (sessionType && std::strcmp(sessionType, "wayland") == 0);
    situation.x11Display = set("DISPLAY");
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            situation.platformArgument = argv[i + 1];
    return situation;
}

namespace {

// `args` is the program's own command line, untouched by Qt.
void RunMainWindow(std::span<char* const> args)
{
    // 1. The socket layer, or no window at all.
    if (SocketStartup() != 0) {
        ShowMessageBox(nullptr, IDS_SOCKETS_FAILED, MsgButtons::Ok);
        return;
    }
    // 2. Controls with the three-dimensional look, and 6. the grey of every
    // window and box (set once here, before any window exists).
    ApplyProgramLook(*qApp);
    // 3, 4. The command line: Inkwell mode is the exact parameter "ink".
    CTesselCommandLineInfo cmdInfo;
    ParseCommandLine(cmdInfo, args);
    const bool inkwellMode = cmdInfo.HasParam(kInkwellSwitch);
    // 5, 7. The main window, run until it closes; its result is not needed.
    RegisterWindowClasses();
    CTesselDlg dlg(inkwellMode);
    dlg.exec();
}

}  // namespace

int RunTessel(int argc, char* argv[])
{
    // Qt sees only the program's name: its own options (-style, -platform,
    // -display, ...) must not take or change the program's parameters. The
    // one exception is the platform, handed over as a copy: the program
    // still sees a "-platform NAME" of the user's as two parameters.
    static std::string platform = QtPlatformFor(CurrentPlatformSituation(argc, argv));
    static char platformOption[] = "-platform";
    static char* qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr, nullptr, nullptr};
    static int qtArgc = qtArgv[0] ? 1 : 0;
    if (qtArgc == 1 && !platform.empty()) {
        qtArgv[1] = platformOption;
        qtArgv[2] = platform.data();
        qtArgc = 3;
    }
    QApplication app(qtArgc, qtArgv);
    RunMainWindow({argv, static_cast<std::size_t>(argc > 0 ? argc : 0)});
    return 0;
}

}  // namespace tessel
