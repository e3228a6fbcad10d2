// A tool, not a test: saves pictures of the main window (normal and
// Inkwell mode, after a server was listed), the About box and help, drawn
// offscreen in the program's own look, for a person to look at next to the
// layout table. Usage: gui_window_pictures [FOLDER] (default: current).
#include <QApplication>
#include <QDir>
#include <QTimer>
#include <QtTest>

#include "app/helpwindow.h"
#include "app/tesselapp.h"
#include "app/tesseldlg.h"
#include "app/windowclasses.h"
#include "platform/clock.h"
#include "tests/gui/shared_channel.h"
#include "tests/test_clocks.h"

using tessel::testing::VirtualClock;

using namespace tessel;

namespace {

bool SaveWindow(const QDir& folder, const QString& name, bool inkwell, bool withServers)
{
    VirtualClock clock;
    auto channel = std::make_shared<tessel::testing::SharedChannel::Scripted>();
    DialogEnvironment env;
    env.hostName = "install-pc";
    env.hostAddress = "192.168.1.20";
    env.clock = &clock;
    env.makeChannel = [channel]() -> std::unique_ptr<BootpChannel> {
        return std::make_unique<tessel::testing::SharedChannel>(channel);
    };
    CTesselDlg dlg(inkwell, std::move(env));
    dlg.show();
    if (!QTest::qWaitForWindowExposed(&dlg)) return false;
    if (withServers) {
        // Print servers, so that the installer's run lists them as well.
        tessel::testing::RequestShape shape;
        shape.options = tessel::testing::VendorClassOption("PS");
        for (std::uint8_t last : {0x03, 0x1F, 0xA0}) {
            shape.mac = {0x0A, 0x1B, 0x2C, 0x01, 0x02, last};
            shape.source = last == 0x1F ? std::array<std::uint8_t, 4>{192, 168, 1, 77}
                                        : std::array<std::uint8_t, 4>{198, 51, 100, 80};
            channel->PushRequest(shape);
        }
        channel->WaitUntilIdle();
    }
    QTest::qWait(400);  // the list's queued rows and a few frames of the animation
    const QString path = folder.filePath(name);
    const bool saved = dlg.grab().save(path);
    qInfo("%s %s", saved ? "saved" : "could not save", qPrintable(path));
    return saved;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ApplyProgramLook(app);
    RegisterWindowClasses();
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    // The logfiles of these windows go to a folder of their own.
    QTemporaryDir scratch;
    QDir::setCurrent(scratch.path());

    bool ok = SaveWindow(folder, QStringLiteral("main-window.png"), false, false);
    ok = SaveWindow(folder, QStringLiteral("main-window-servers.png"), false, true) && ok;
    ok = SaveWindow(folder, QStringLiteral("main-window-inkwell.png"), true, true) && ok;

    CAboutDlg about;
    about.show();
    ok = QTest::qWaitForWindowExposed(&about) && about.grab().save(folder.filePath(QStringLiteral("about-box.png"))) &&
         ok;

    ShowHelp(1);
    if (HelpViewer* help = HelpWindow()) {
        ok = QTest::qWaitForWindowExposed(help) &&
             help->grab().save(folder.filePath(QStringLiteral("help-topic.png"))) && ok;
        help->close();
    }
    return ok ? 0 : 1;
}
