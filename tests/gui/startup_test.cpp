// The program's start and its two stores outside the window: the command
// line, the registry values shared with the installer, and the help topics.
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

#include <vector>

#include "app/browser.h"
#include "app/commandline.h"
#include "app/helpwindow.h"
#include "app/tesseldlg.h"
#include "app/registryaccess.h"
#include "app/tesselapp.h"
#include "tests/gui/gui_test_main.h"

using namespace tessel;

namespace {

bool InkwellModeOf(std::vector<std::string> args)
{
    args.insert(args.begin(), "tessel");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    CTesselCommandLineInfo info;
    ParseCommandLine(info, argv);
    return info.HasParam(kInkwellSwitch);
}

// The help context numbers that the program's boxes and windows use.
constexpr int kHelpContexts[] = {1, 8, 11, 12, 19, 23, 26, 27, 28, 30, 31, 32, 33, 34, 36, 37, 39, 40, 41};

}  // namespace

class StartupTest final : public QObject {
    Q_OBJECT

private slots:
    // X11 on a Wayland desktop where the Qt runtime's Wayland client is
    // older than the fix; what the user chose stands; no X11 to fall back
    // on leaves the choice to Qt.
    void theWindowingPlatformHandedToQt_data()
    {
        QTest::addColumn<QString>("qt");
        QTest::addColumn<bool>("variableSet");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<bool>("wayland");
        QTest::addColumn<bool>("x11");
        QTest::addColumn<QString>("platform");
        QTest::newRow("6.4.2 on Wayland") << "6.4.2" << false << "" << true << true << "xcb";
        QTest::newRow("6.6.0 on Wayland") << "6.6.0" << false << "" << true << true << "xcb";
        QTest::newRow("6.6.1 on Wayland") << "6.6.1" << false << "" << true << true << "";
        QTest::newRow("6.8 on Wayland") << "6.8" << false << "" << true << true << "";
        QTest::newRow("QT_QPA_PLATFORM set") << "6.4.2" << true << "" << true << true << "";
        QTest::newRow("-platform wayland") << "6.4.2" << false << "wayland" << true << true << "wayland";
        QTest::newRow("-platform over the variable") << "6.4.2" << true << "offscreen" << true << true << "offscreen";
        QTest::newRow("no X server beside Wayland") << "6.4.2" << false << "" << true << false << "";
        QTest::newRow("X11 desktop") << "6.4.2" << false << "" << false << true << "";
    }
    void theWindowingPlatformHandedToQt()
    {
        QFETCH(QString, qt);
        QFETCH(bool, variableSet);
        QFETCH(QString, argument);
        QFETCH(bool, wayland);
        QFETCH(bool, x11);
        QFETCH(QString, platform);
        const PlatformSituation situation{QVersionNumber::fromString(qt), variableSet, argument.toStdString(), wayland,
                                          x11};
        QCOMPARE(QString::fromStdString(QtPlatformFor(situation)), platform);
    }

    void theSituationIsReadFromTheEnvironmentAndTheCommandLine()
    {
        const QByteArray saved[] = {qgetenv("WAYLAND_DISPLAY"), qgetenv("DISPLAY")};
        qputenv("WAYLAND_DISPLAY", "wayland-9");
        qputenv("DISPLAY", ":9");
        std::string args[] = {"tessel", "ink", "-platform", "xcb"};
        char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data()};
        const PlatformSituation situation = CurrentPlatformSituation(4, argv);
        for (const auto& [name, value] : {std::pair{"WAYLAND_DISPLAY", saved[0]}, std::pair{"DISPLAY", saved[1]}})
            value.isEmpty() ? qunsetenv(name) : qputenv(name, value);
        QCOMPARE(situation.qtRuntime, QVersionNumber::fromString(QLatin1String(qVersion())));
        QVERIFY(situation.platformVariableSet);  // the tests run offscreen
        QCOMPARE(situation.platformArgument, std::string("xcb"));
        QVERIFY(situation.waylandSession);
        QVERIFY(situation.x11Display);
        QVERIFY(SystemMenuHasMove(QStringLiteral("xcb")));
        QVERIFY(!SystemMenuHasMove(QStringLiteral("wayland")));
    }

    void inkwellModeIsTheExactParameterInk_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("inkwell");
        QTest::newRow("none") << QStringList{} << false;
        QTest::newRow("ink") << QStringList{"ink"} << true;
        QTest::newRow("/ink") << QStringList{"/ink"} << true;
        QTest::newRow("-ink") << QStringList{"-ink"} << true;
        QTest::newRow("ink last of three") << QStringList{"a", "/x", "ink"} << true;
        QTest::newRow("ink first of three") << QStringList{"-ink", "b", "c"} << true;
        QTest::newRow("INK") << QStringList{"INK"} << false;
        QTest::newRow("/Ink") << QStringList{"/Ink"} << false;
        QTest::newRow("-INK") << QStringList{"-INK"} << false;
        QTest::newRow("inkx") << QStringList{"inkx"} << false;
        QTest::newRow("/inkwell") << QStringList{"/inkwell"} << false;
        QTest::newRow("in") << QStringList{"in"} << false;
        QTest::newRow("ink=1") << QStringList{"ink=1"} << false;
        QTest::newRow("two slashes") << QStringList{"//ink"} << false;
        QTest::newRow("quoted with a blank") << QStringList{"ink "} << false;
        QTest::newRow("Qt's own option before it") << QStringList{"-style", "ink"} << true;
    }

    void inkwellModeIsTheExactParameterInk()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, inkwell);
        std::vector<std::string> list;
        for (const QString& arg : args) list.push_back(arg.toStdString());
        QCOMPARE(InkwellModeOf(list), inkwell);
    }

    void everyParameterIsRecordedWithoutItsSwitchCharacter()
    {
        std::string a = "tessel", b = "/ink", c = "-x", d = "plain", e = "";
        std::vector<char*> argv{a.data(), b.data(), c.data(), d.data(), e.data()};
        CTesselCommandLineInfo info;
        ParseCommandLine(info, argv);
        QCOMPARE(info.m_params, (std::vector<std::string>{"ink", "x", "plain", ""}));
    }

    void registryValuesRoundTrip()
    {
        QTemporaryDir machine, user;
        CRegistryAccess::SetStoreFolders(machine.path(), user.path());
        CRegistryAccess registry;
        const QString key = QString::fromLatin1(kInkwellKey);
        QString value = QStringLiteral("stale");

        // No key: nothing read, the result emptied.
        QVERIFY(!registry.ReadString(key, kTesselPathValue, &value, RegistryRoot::LocalMachine));
        QVERIFY(value.isEmpty());
        // A created key gives 3, an existing one 1; the later value wins.
        QCOMPARE(registry.WriteString(key, kNewServerValue, QStringLiteral("10.1.2.9"), RegistryRoot::CurrentUser), 3);
        QCOMPARE(registry.WriteString(key, kNewServerValue, QStringLiteral("10.1.2.10"), RegistryRoot::CurrentUser), 1);
        QVERIFY(registry.ReadString(key, kNewServerValue, &value, RegistryRoot::CurrentUser));
        QCOMPARE(value, QStringLiteral("10.1.2.10"));
        // The two roots are two stores; a missing value under a present key.
        QVERIFY(!registry.ReadString(key, kNewServerValue, &value, RegistryRoot::LocalMachine));
        QVERIFY(!registry.ReadString(key, kTesselPathValue, &value, RegistryRoot::CurrentUser));

        // 255 characters and the NUL fill the buffer; one more does not fit.
        const QString longest(255, QLatin1Char('p'));
        QCOMPARE(registry.WriteString(key, kTesselPathValue, longest, RegistryRoot::LocalMachine), 3);
        QVERIFY(registry.ReadString(key, kTesselPathValue, &value, RegistryRoot::LocalMachine));
        QCOMPARE(value, longest);
        QCOMPARE(registry.WriteString(key, kTesselPathValue, longest + QLatin1Char('p'), RegistryRoot::LocalMachine),
                 1);
        value = QStringLiteral("stale");
        QVERIFY(!registry.ReadString(key, kTesselPathValue, &value, RegistryRoot::LocalMachine));
        QVERIFY(value.isEmpty());

        // A store that cannot be written (here a folder stands where the
        // file should be, which stops root as well) reports 0.
        QTemporaryDir broken;
        QVERIFY(QDir(broken.path()).mkpath(QStringLiteral("tessel/registry.ini")));
        CRegistryAccess::SetStoreFolders(broken.path(), user.path());
        QCOMPARE(registry.WriteString(key, kNewServerValue, QStringLiteral("x"), RegistryRoot::LocalMachine), 0);
        CRegistryAccess::SetStoreFolders({}, {});
    }

    void everyHelpContextHasItsTopicAndItsLinksLeadSomewhere()
    {
        for (int context : kHelpContexts) {
            const QUrl url = HelpViewer::TopicUrl(context);
            QCOMPARE(url.toString(), QStringLiteral("qrc:/tessel/help/topic%1.html").arg(context));
            QFile page(QLatin1Char(':') + url.path());
            QVERIFY(page.open(QIODevice::ReadOnly));
            const QString html = QString::fromUtf8(page.readAll());
            QVERIFY2(html.contains(QStringLiteral("href=\"contents.html\"")),
                     "a topic without its way to the contents");
            const QRegularExpression link(QStringLiteral("href=\"([^\"]+)\""));
            for (const QRegularExpressionMatch& match : link.globalMatch(html)) {
                const QString target = QStringLiteral(":/tessel/help/") + match.captured(1);
                QVERIFY2(QFile::exists(target), qPrintable(target));
            }
        }
        // A number without a topic opens the contents, never an error.
        for (int missing : {0, 2, 999}) QCOMPARE(HelpViewer::TopicUrl(missing), HelpViewer::ContentsUrl());
    }

    // The desktop's opener returns as soon as its helper starts, so the
    // program asks first whether anything handles http: a desktop that
    // names nothing (or cannot be asked) gets box 112, not silence.
    void aBrowserIsOnlyOfferedWhenTheDesktopNamesOne()
    {
        QTemporaryDir bin;
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.path().toLocal8Bit());
        QCOMPARE(DefaultWebHandler(), std::string());  // no xdg-mime at all
        QVERIFY(!OpenInBrowser("http://10.0.0.5/"));
        const struct {
            const char* script;
            const char* handler;
        } cases[] = {{"#!/bin/sh\nexit 0\n", ""},
                     {"#!/bin/sh\nexit 3\n", ""},
                     {"#!/bin/sh\necho firefox-esr.desktop\n", "firefox-esr.desktop"}};
        for (const auto& c : cases) {
            QFile script(bin.filePath(QStringLiteral("xdg-mime")));
            QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
            script.write(c.script);
            script.close();
            script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QCOMPARE(DefaultWebHandler(), std::string(c.handler));
        }
        qputenv("PATH", path);
    }

    void helpShowsTheTopicInTheProgramsOwnWindow()
    {
        ShowHelp(8);
        QVERIFY(HelpWindow());
        QVERIFY(HelpWindow()->isVisible());
        QCOMPARE(HelpWindow()->Browser()->source(), HelpViewer::TopicUrl(8));
        QVERIFY(HelpWindow()->Browser()->toPlainText().contains(QStringLiteral("already in use")));
        ShowHelp(5);
        QVERIFY(HelpWindow()->Browser()->toPlainText().contains(QStringLiteral("Press F1 while a message")));
        HelpWindow()->close();
    }
};

TESSEL_GUI_TEST_MAIN(StartupTest)
#include "startup_test.moc"
