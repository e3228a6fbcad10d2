// The main window as the user meets it, on a scripted network channel and
// a virtual clock: what initialisation fills in and hands the engine (in
// both modes), the list following the engine, tooltips, the system menu,
// help with F1, the logfile switch and the close.
#include <QCheckBox>
#include <QFile>
#include <QHeaderView>
#include <QHelpEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QToolTip>
#include <QTreeView>
#include <QtTest>

#include "app/helpwindow.h"
#include "app/registryaccess.h"
#include "app/serverlistmodel.h"
#include "app/tesseldlg.h"
#include "app/windowclasses.h"
#include "app/ipaddrctl.h"
#include "engine/server_table.h"
#include "log/logfile.h"
#include "app/animatectrl.h"
#include "app/dialogitems.h"
#include "resources/dialogs.h"
#include "app/messagebox.h"
#include "resources/resource.h"
#include "app/stringtable.h"
#include "tests/test_clocks.h"
#include "tests/gui/gui_test_main.h"
#include "tests/gui/scripted_messagebox.h"
#include "tests/gui/shared_channel.h"

using tessel::testing::VirtualClock;
using namespace tessel;
using tessel::testing::ScriptedChannel;

namespace {

// What the network thread found in the shared block when it opened its
// channel, the first thing it does.
struct SeenAtStart {
    std::int32_t stage = 99;
    bool stopRequested = true, awaitingFirstServer = false, printServersOnly = false;
    std::string hostName, hostAddress;
    ServerTable* serverList = nullptr;
    int onlyMerrow = -1;
    CLogfile* logFile = nullptr;
};

// A window on this computer "pc-1" at 10.1.2.3, with its logfile and
// registry in a folder of its own.
class WindowBed {
public:
    explicit WindowBed(bool inkwell)
    {
        QDir::setCurrent(m_dir.path());
        CRegistryAccess::SetStoreFolders(m_dir.filePath(QStringLiteral("machine")),
                                         m_dir.filePath(QStringLiteral("user")));
        DialogEnvironment env;
        env.hostName = "pc-1";
        env.hostAddress = "10.1.2.3";
        env.clock = &m_clock;
        env.makeChannel = [this]() -> std::unique_ptr<BootpChannel> {
            return std::make_unique<tessel::testing::SharedChannel>(channel, [this] { Record(); });
        };
        dlg = std::make_unique<CTesselDlg>(inkwell, std::move(env));
    }
    ~WindowBed()
    {
        dlg.reset();
        CRegistryAccess::SetStoreFolders({}, {});
    }

    bool Show()
    {
        dlg->show();
        return QTest::qWaitForWindowExposed(dlg.get()) && QTest::qWaitFor([this] { return m_opened.load(); });
    }

    template <typename T = QWidget>
    T* Item(int id) const
    {
        return qobject_cast<T*>(GetDlgItem(dlg.get(), id));
    }

    QString Dir() const { return m_dir.path(); }

    std::shared_ptr<ScriptedChannel> channel = std::make_shared<ScriptedChannel>();
    std::unique_ptr<CTesselDlg> dlg;
    SeenAtStart seen;

private:
    void Record()
    {
        SharedState& s = dlg->Engine()->Shared();
        seen = {s.stage.load(), s.stopRequested.load(), s.awaitingFirstServer.load(), s.printServersOnly, s.hostName,
                s.hostAddress,  s.serverList,           s.onlyMerrow->load(),         s.logFile};
        m_opened = true;
    }

    QTemporaryDir m_dir;
    VirtualClock m_clock;
    std::atomic<bool> m_opened{false};
};

// The tooltip the mouse resting on the control's centre brings up; the
// request goes where the mouse is and travels up as the system sends it.
QString TooltipAt(QWidget* window, QWidget* control)
{
    const QPoint centre = control->geometry().center();
    QWidget* target = window->childAt(centre);
    if (!target) target = window;
    QHelpEvent event(QEvent::ToolTip, target->mapFrom(window, centre), window->mapToGlobal(centre));
    QApplication::sendEvent(target, &event);
    return event.isAccepted() && QToolTip::isVisible() ? QToolTip::text() : QString();
}

}  // namespace

class MainWindowTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { RegisterWindowClasses(); }

    void initialisationFillsTheWindowThenStartsTheEngine_data()
    {
        QTest::addColumn<bool>("inkwell");
        QTest::newRow("normal") << false;
        QTest::newRow("Inkwell") << true;
    }

    void initialisationFillsTheWindowThenStartsTheEngine()
    {
        QFETCH(bool, inkwell);
        WindowBed bed(inkwell);
        // The installer names the logfile's place ("log" replaces the last
        // three characters), below the drive root; only its run reads it.
        const QString folder = bed.Dir() + QStringLiteral("/inkwell.tmp");
        QVERIFY(QDir().mkpath(bed.Dir() + QStringLiteral("/inkwell.log")));
        QCOMPARE(CRegistryAccess().WriteString(QString::fromLatin1(kInkwellKey), kTesselPathValue, folder.mid(1),
                                               RegistryRoot::LocalMachine),
                 3);
        QVERIFY(bed.Show());
        CTesselDlg& dlg = *bed.dlg;

        QCOMPARE(dlg.windowTitle(), QStringLiteral(" MERROW Tessel"));
        QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
        QVERIFY(dlg.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(dlg.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(dlg.Help().Current(), 1);

        const struct {
            int id, text;
        } texts[] = {{IDC_STEP1_TEXT, IDS_TEXT_STEP1},
                     {IDC_STEP2_TEXT, IDS_TEXT_STEP2},
                     {IDC_STATUS, IDS_NO_SERVER_SELECTED},
                     {IDC_LISTENING, IDS_TEXT_LISTENING},
                     {IDC_RESTART_HINT, IDS_TEXT_RESTART_HINT}};
        for (const auto& t : texts) QCOMPARE(GetWindowText(bed.Item(t.id)), LoadString(t.text));
        QVERIFY(GetWindowText(bed.Item(IDC_RESTART_HINT)).contains(QStringLiteral("\r\n")));

        // Step 2 waits for a server; the proposal is this computer's network.
        for (int id : {IDC_STEP2_TEXT, IDC_IPADDRESS, IDC_SET_IP})
            QVERIFY2(!bed.Item(id)->isEnabled(), qPrintable(QString::number(id)));
        IPAddrData address;
        QCOMPARE(bed.Item<CIPAddrCtl>(IDC_IPADDRESS)->GetAddress(false, &address), 1);
        QCOMPARE(address.octets, (std::array<std::uint8_t, 4>{10, 1, 2, 0}));

        auto* list = bed.Item<QTreeView>(IDC_SERVER_LIST);
        for (int column : {0, 1}) QCOMPARE(list->header()->sectionSize(column), 140);
        QCOMPARE(list->model()->headerData(0, Qt::Horizontal).toString(), LoadString(IDS_COLUMN_SERIAL));
        QCOMPARE(list->model()->headerData(1, Qt::Horizontal).toString(), LoadString(IDS_COLUMN_ADDRESS));
        QCOMPARE(dlg.ServerListModel().Text(0, 0), QStringLiteral("   "));
        QCOMPARE(dlg.ServerListModel().Text(0, 1), QStringLiteral("   "));

        // What Inkwell mode changes.
        QCOMPARE(bed.Item<CAnimateCtrl>(IDC_ANIMATION)->IsPlaying(), !inkwell);
        for (int id : {IDC_MERROW_HOMEPAGE, IDC_HOMEPAGE_SELECTED, IDC_LOGFILE}) {
            QCOMPARE(bed.Item(id)->isVisible(), !inkwell);
            QCOMPARE(bed.Item(id)->isEnabled(), !inkwell);
        }
        QVERIFY(!bed.Item(IDC_ONLY_MERROW)->isVisible());
        QVERIFY(bed.Item<QCheckBox>(IDC_ONLY_MERROW)->isChecked());
        QVERIFY(bed.Item<QCheckBox>(IDC_LOGFILE)->isChecked());
        const QString logfile = inkwell ? bed.Dir() + QStringLiteral("/inkwell.log/Tessel.log")
                                        : bed.Dir() + QStringLiteral("/MERROW Tessel.log");
        QVERIFY2(QFile::exists(logfile), qPrintable(logfile));
        QCOMPARE(QFile::exists(bed.Dir() + QStringLiteral("/inkwell.log/Tessel.log")), inkwell);

        // The block was whole when the network thread began.
        EngineHost& engine = *dlg.Engine();
        QCOMPARE(bed.seen.stage, std::int32_t{StageIdle});
        QVERIFY(!bed.seen.stopRequested);
        QVERIFY(bed.seen.awaitingFirstServer);
        QCOMPARE(bed.seen.printServersOnly, inkwell);
        QCOMPARE(bed.seen.hostName, std::string("pc-1"));
        QCOMPARE(bed.seen.hostAddress, std::string("10.1.2.3"));
        QCOMPARE(bed.seen.serverList, &engine.Table());
        QCOMPARE(bed.seen.onlyMerrow, inkwell ? 0 : 1);
        QCOMPARE(bed.seen.logFile, &engine.Log());
    }

    void theListFollowsTheEngine()
    {
        WindowBed bed(false);
        QVERIFY(bed.Show());
        tessel::testing::RequestShape first, second;
        first.mac = {0x0A, 0x1B, 0x2C, 0x01, 0x02, 0xFE};
        second.mac = {0x0A, 0x1B, 0x2C, 0x00, 0x00, 0x07};
        second.source = {192, 168, 5, 77};
        bed.channel->PushRequest(first);
        bed.channel->PushRequest(second);
        const ServerListItemModel& model = bed.dlg->ServerListModel();
        // Once the engine has taken both, the list comes to its table's
        // rows: the placeholder and the start-up note went with the first.
        QVERIFY(bed.channel->WaitUntilIdle());
        const int rows = bed.dlg->Engine()->Table().Count();
        QCOMPARE(rows, 2);
        QTRY_COMPARE(model.rowCount(), rows);
        QTest::qWait(20);  // nothing more arrives
        QCOMPARE(model.rowCount(), rows);
        QCOMPARE(model.Text(0, 0), QStringLiteral("0A-1B-2C-00-00-07"));
        QCOMPARE(model.Text(0, 1), QStringLiteral("192.168.5.77"));
        QCOMPARE(model.Text(1, 0), QStringLiteral("0A-1B-2C-01-02-FE"));
        QCOMPARE(model.Text(1, 1), QStringLiteral("0.0.0.0"));
    }

    void tooltipsAsTheTableGivesAndNoneForTheOthers()
    {
        WindowBed bed(false);
        QVERIFY(bed.Show());
        for (const ControlTemplate& item : MainDialogTemplate().controls) {
            QWidget* control = bed.Item(item.id);
            if (item.id == IDC_STATIC || !control->isVisible()) continue;
            QCOMPARE(TooltipAt(bed.dlg.get(), control), QString::fromUtf8(MainDialogTooltip(item.id)));
        }
        // The status line and the animation have none.
        QVERIFY(!MainDialogTooltip(IDC_STATUS) && !MainDialogTooltip(IDC_ANIMATION));
    }

    void theSystemMenuEndsWithTheAboutBox()
    {
        WindowBed bed(false);
        QVERIFY(bed.Show());
        QStringList items;
        const QList<QAction*> actions = bed.dlg->SystemMenu()->actions();
        for (QAction* action : actions) items << (action->isSeparator() ? QStringLiteral("-") : action->text());
        QCOMPARE(items, (QStringList{"&Restore", "&Move", "Mi&nimize", "-", "&Close\tAlt+F4", "-",
                                     "&About MERROW Tessel..."}));

        QString shown;
        QTimer::singleShot(0, [&shown] {
            if (auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
                shown = about->windowTitle();
                qobject_cast<QPushButton*>(GetDlgItem(about, IDC_ABOUT_OK))->click();
            }
        });
        actions.last()->trigger();
        QCOMPARE(shown, QStringLiteral("MERROW Tessel"));
    }

    void f1OpensTheTopicOfTheWindowOrOfTheBoxThatIsUp()
    {
        WindowBed bed(false);
        QVERIFY(bed.Show());
        QTest::keyClick(bed.Item(IDC_SERVER_LIST), Qt::Key_F1);
        QVERIFY(HelpWindow() && HelpWindow()->isVisible());
        QCOMPARE(HelpWindow()->Browser()->source(), HelpViewer::TopicUrl(1));
        HelpWindow()->close();
        QTest::keyClick(bed.Item(IDC_SERVER_LIST), Qt::Key_F1, Qt::ShiftModifier);
        QVERIFY(!HelpWindow()->isVisible());

        // A real box up with help 8: F1 in it opens topic 8 over it.
        bed.dlg->Help().Set(8);
        QUrl shown;
        QTimer::singleShot(0, [&shown] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            QTest::keyClick(box, Qt::Key_F1);
            if (HelpWindow() && HelpWindow()->isVisible()) shown = HelpWindow()->Browser()->source();
            box->button(QMessageBox::Ok)->click();
        });
        ShowMessageBox(bed.dlg.get(), IDS_ADDRESS_IN_USE, MsgButtons::Ok);
        QCOMPARE(shown, HelpViewer::TopicUrl(8));
    }

    void theLogfileBoxSwitchesTheLogfileAndCloseStopsTheEngine()
    {
        WindowBed bed(false);
        QVERIFY(bed.Show());
        auto* logfile = bed.Item<QCheckBox>(IDC_LOGFILE);
        logfile->click();
        QVERIFY(!bed.dlg->Engine()->Log().IsEnabled());
        logfile->click();
        QVERIFY(bed.dlg->Engine()->Log().IsEnabled());

        bed.Item<QPushButton>(IDC_CLOSE)->click();
        QVERIFY(!bed.dlg->isVisible());
        QCOMPARE(bed.dlg->result(), int{QDialog::Rejected});
        QVERIFY(bed.dlg->Engine()->Finished());
    }
};

TESSEL_GUI_TEST_MAIN(MainWindowTest)
#include "mainwindow_test.moc"
