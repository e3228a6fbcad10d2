// The Set-IP command through the real main window in Inkwell mode: a
// server listed by the engine, its row clicked, the address typed, the
// button pressed; boxes 119 and 137, "NewServer" written to the
// installer's registry value and the window closed. Virtual time; the
// network thread's procedure, the probes and the hidden commands are
// scripted, so nothing leaves the machine.
#include <QCheckBox>
#include <QPushButton>
#include <QTimer>
#include <QTemporaryDir>
#include <QTreeView>

#include "app/registryaccess.h"
#include "app/serverlistmodel.h"
#include "app/tesseldlg.h"
#include "app/windowclasses.h"
#include "app/ipaddrctl.h"
#include "app/dialogitems.h"
#include "app/mainwindowview.h"
#include "app/stringtable.h"
#include "resources/resource.h"
#include "tests/gui/gui_test_main.h"
#include "tests/gui/scripted_messagebox.h"
#include "tests/gui/shared_channel.h"
#include "tests/hook_clock.h"
#include "tests/unit/recording_commands.h"

using namespace tessel;

namespace {

// As a server that restarts and answers on port 80 but cannot be stored.
class VerifiedProcedure final : public AssignmentProcedure {
public:
    AssignmentEnd Run(AssignmentContext& context, BootpMessage&, const std::string&, const std::string&) override
    {
        RaiseStage(context.shared, StageVerified);
        return AssignmentEnd::BackToListening;
    }
};

// This computer "pc-1" at 10.1.2.3, the server's requests from `channel`,
// virtual time, recorded commands; nobody answers the ICMP checks.
DialogEnvironment Environment(const std::shared_ptr<tessel::testing::ScriptedChannel>& channel,
                              tessel::testing::HookClock& clock, tessel::testing::RecordingCommands& commands)
{
    DialogEnvironment env;
    env.hostName = "pc-1";
    env.hostAddress = "10.1.2.3";
    env.clock = &clock;
    env.makeChannel = [channel]() -> std::unique_ptr<BootpChannel> {
        return std::make_unique<tessel::testing::SharedChannel>(channel);
    };
    env.makeProcedure = [] { return std::make_unique<VerifiedProcedure>(); };
    env.commands = &commands;
    env.startIcmpProbe = [](std::shared_ptr<ProbeRequest>) { return true; };
    return env;
}

}  // namespace

class WindowSetIpTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { RegisterWindowClasses(); }

    void inkwellRegistrationWritesNewServerAndCloses()
    {
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        CRegistryAccess::SetStoreFolders(dir.filePath(QStringLiteral("machine")), dir.filePath(QStringLiteral("user")));
        auto channel = std::make_shared<tessel::testing::ScriptedChannel>();
        tessel::testing::HookClock clock;
        tessel::testing::RecordingCommands commands;
        tessel::testing::ScriptedMessageBoxes boxes;
        tessel::testing::RequestShape request;
        request.mac = {0x0A, 0x1B, 0x2C, 0x00, 0x0A, 0x01};
        request.options = tessel::testing::VendorClassOption("PS");  // the installer lists print servers only

        CTesselDlg dlg(true, Environment(channel, clock, commands));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));

        // The server asks once to be listed, and again once the job is handed over.
        bool askedAgain = false;
        clock.afterSleep = [&](std::int64_t) {
            if (!askedAgain && dlg.Engine()->Shared().stage.load() == StageAwaitRequest) {
                askedAgain = true;
                channel->PushRequest(request);
            }
        };
        channel->PushRequest(request);
        const ServerListItemModel& model = dlg.ServerListModel();
        QTRY_COMPARE(model.Text(0, 0), QStringLiteral("0A-1B-2C-00-0A-01"));

        auto* list = qobject_cast<QTreeView*>(GetDlgItem(&dlg, IDC_SERVER_LIST));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(model.index(0, 0)).center());
        QVERIFY(GetDlgItem(&dlg, IDC_SET_IP)->isEnabled());
        const std::array<std::uint8_t, 4> typed{10, 1, 2, 50};
        qobject_cast<CIPAddrCtl*>(GetDlgItem(&dlg, IDC_IPADDRESS))->SetAddress(typed.data());
        boxes.queueAnswer(MsgAnswer::Ok);
        boxes.queueAnswer(MsgAnswer::Yes);
        qobject_cast<QPushButton*>(GetDlgItem(&dlg, IDC_SET_IP))->click();

        std::vector<std::pair<int, int>> shown;
        for (const auto& b : boxes.boxes()) shown.emplace_back(b.textId, b.helpContext);
        QCOMPARE(shown, (std::vector<std::pair<int, int>>{{119, 33}, {137, 19}}));
        QString registered;
        QVERIFY(CRegistryAccess().ReadString(QString::fromLatin1(kInkwellKey), kNewServerValue, &registered,
                                             RegistryRoot::CurrentUser));
        QCOMPARE(registered, QStringLiteral("10.1.2.50"));
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int{QDialog::Rejected});
        QVERIFY(dlg.Engine()->Finished());
        QCOMPARE(model.Text(0, 1), QStringLiteral("10.1.2.50"));
        CRegistryAccess::SetStoreFolders({}, {});
    }

    // The main window as the program runs it (modal, exec()): while Set IP
    // runs, a click on another row, on Close and Escape change nothing; a
    // right click never picks a row; a full field moves on unchecked, since
    // the control takes its style from its template row.
    void theWindowTakesNoInputWhileSetIpRuns()
    {
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        auto channel = std::make_shared<tessel::testing::ScriptedChannel>();
        tessel::testing::HookClock clock;
        tessel::testing::RecordingCommands commands;
        tessel::testing::ScriptedMessageBoxes boxes;
        tessel::testing::RequestShape first, second;
        first.mac = {0x0A, 0x1B, 0x2C, 0x00, 0x0B, 0x01};
        second.mac = {0x0A, 0x1B, 0x2C, 0x00, 0x0B, 0x02};

        CTesselDlg dlg(false, Environment(channel, clock, commands));
        auto* list = qobject_cast<QTreeView*>(GetDlgItem(&dlg, IDC_SERVER_LIST));
        auto* status = GetDlgItem(&dlg, IDC_STATUS);
        auto* control = qobject_cast<CIPAddrCtl*>(GetDlgItem(&dlg, IDC_IPADDRESS));
        auto* close = qobject_cast<QPushButton*>(GetDlgItem(&dlg, IDC_CLOSE));
        const QString selected = LoadString(IDS_SELECTED_SERVER) + QStringLiteral("0A-1B-2C-00-0B-01");
        auto rowCentre = [&](int row) { return list->visualRect(dlg.ServerListModel().index(row, 0)).center(); };

        bool triedDuringCommand = false, stillOpenAfter = false;
        int selectedAfter = -1;
        QString statusAfter;
        clock.afterSleep = [&](std::int64_t) {
            if (triedDuringCommand || dlg.Engine()->Shared().stage.load() != StageAwaitRequest) return;
            triedDuringCommand = true;
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowCentre(1));
            QTest::keyClick(list, Qt::Key_Down);
            QTest::mouseClick(close, Qt::LeftButton);
            QTest::keyClick(&dlg, Qt::Key_Escape);
            channel->PushRequest(first);
        };
        // Run as the window's first event; whatever it finds, the window is
        // closed after it, so a failed check ends the test instead of
        // leaving exec() waiting.
        auto steps = [&] {
            channel->PushRequests({first, second});
            // The start-up note's rows leave one by one before the servers
            // come: wait for both servers, not for a count of two rows.
            const ServerListItemModel& model = dlg.ServerListModel();
            QTRY_VERIFY(model.rowCount() == 2 && model.Text(0, 0) == QStringLiteral("0A-1B-2C-00-0B-01") &&
                        model.Text(1, 0) == QStringLiteral("0A-1B-2C-00-0B-02") &&
                        model.Text(1, 1) == QStringLiteral("0.0.0.0"));
            QTest::mouseClick(list->viewport(), Qt::RightButton, {}, rowCentre(0));
            QCOMPARE(GetWindowText(status), LoadString(IDS_NO_SERVER_SELECTED));
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowCentre(0));
            QCOMPARE(GetWindowText(status), selected);
            control->setFocus(Qt::TabFocusReason);
            QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("300"));
            QVERIFY(boxes.boxes().empty());
            QCOMPARE(QApplication::focusWidget(), control->GetField(2));

            const std::array<std::uint8_t, 4> typed{10, 1, 2, 60};
            control->SetAddress(typed.data());
            boxes.queueAnswer(MsgAnswer::Ok);
            boxes.queueAnswer(MsgAnswer::No);
            QTest::mouseClick(GetDlgItem(&dlg, IDC_SET_IP), Qt::LeftButton);
            stillOpenAfter = dlg.isVisible();
            selectedAfter = dlg.View().FirstSelectedRow();
            statusAfter = GetWindowText(status);
        };
        QTimer::singleShot(0, &dlg, [&] {
            steps();
            close->click();
        });
        dlg.exec();
        if (QTest::currentTestFailed()) return;

        QVERIFY(triedDuringCommand);
        QVERIFY(stillOpenAfter);
        QCOMPARE(selectedAfter, 0);
        QCOMPARE(statusAfter, selected);
        std::vector<int> shown;
        for (const auto& b : boxes.boxes()) shown.push_back(b.textId);
        QCOMPARE(shown, (std::vector<int>{IDS_UNTIL_RESTART, IDS_OFFER_BROWSER}));
        QCOMPARE(dlg.ServerListModel().Text(0, 1), QStringLiteral("10.1.2.60"));
        QCOMPARE(dlg.ServerListModel().Text(1, 1), QStringLiteral("0.0.0.0"));
    }
};

TESSEL_GUI_TEST_MAIN(WindowSetIpTest)
#include "window_setip_test.moc"
