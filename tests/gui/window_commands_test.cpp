// The window's commands on virtual time: refusals and the field they
// focus, the outcome boxes with their help topics, the stage window cycle
// by cycle, the close in both modes, a close while a command runs, the
// start-up check's messages, the home-page boxes and the list's selection.
#include <QElapsedTimer>
#include <QSpontaneKeyEvent>

#include "resources/resource.h"
#include "app/stringtable.h"
#include "resources/texts.h"
#include "tests/test_clocks.h"
#include "tests/gui/gui_test_main.h"
#include "tests/gui/workflow_bench.h"
#include "app/browser.h"
#include "app/progress_windows.h"

using namespace tessel;
using namespace tessel::testing;

namespace {

constexpr const char* kSerial = "0A-1B-2C-00-00-AB";

using BoxAndHelp = std::pair<int, int>;

std::vector<BoxAndHelp> BoxesWithHelp(const ScriptedMessageBoxes& boxes)
{
    std::vector<BoxAndHelp> out;
    for (const auto& b : boxes.boxes()) out.emplace_back(b.textId, b.helpContext);
    return out;
}

// What the stage window showed, one entry per change of its text or bar,
// with the time it was first seen.
struct Shown {
    int text;
    int bar;
    std::int64_t at;
};

int TextNumberOf(const QString& text)
{
    for (int id : {IDS_STAGE_WAITING, IDS_STAGE_SETTING, IDS_STAGE_VERIFYING, IDS_STAGE_SAVING, IDS_STAGE_RETRYING})
        if (text == LoadString(id)) return id;
    return 0;
}

void WatchStageWindow(WorkflowBench& bench, std::vector<Shown>& shown)
{
    bench.watch = [&bench, &shown](std::int64_t now) {
        CStageDlg* stage = bench.view->Stage();
        if (!stage) return;
        const int text = TextNumberOf(stage->StageText());
        if (shown.empty() || shown.back().text != text || shown.back().bar != stage->Bar())
            shown.push_back({text, stage->Bar(), now});
    };
}

// The bars of "SETTING IP ADDRESS" (first) and "Retrying..." (second).
std::pair<std::vector<Shown>, std::vector<int>> Split(const std::vector<Shown>& shown)
{
    std::pair<std::vector<Shown>, std::vector<int>> out;
    for (const Shown& s : shown) {
        if (s.text == IDS_STAGE_RETRYING)
            out.second.push_back(s.bar);
        else
            out.first.push_back(s);
    }
    return out;
}

// One command for the server without an address, to 10.1.2.50, while the
// network thread follows `schedule`; the outcome box is answered OK and
// the browser offer No. Returns what the stage window showed.
std::vector<Shown> RunWatched(WorkflowBench& bench, std::vector<std::pair<std::int64_t, int>> schedule)
{
    bench.AddServer(kSerial, "0.0.0.0");
    bench.Select(0);
    bench.TypeAddress({10, 1, 2, 50});
    bench.schedule = std::move(schedule);
    std::vector<Shown> shown;
    WatchStageWindow(bench, shown);
    bench.boxes.queueAnswer(MsgAnswer::Ok);
    bench.boxes.queueAnswer(MsgAnswer::No);
    bench.Commands().OnSetIpAddress();
    bench.watch = nullptr;
    return shown;
}

void SendSpontaneous(QObject* target, QEvent* event)
{
    QSpontaneKeyEvent::setSpontaneous(event);
    QCoreApplication::sendEvent(target, event);
}

class RefusingChannel final : public BootpChannel {
public:
    explicit RefusingChannel(OpenResult result) : m_result(result) {}
    OpenResult Open() override { return m_result; }
    ReceiveStatus Receive(BootpMessage&) override { return ReceiveStatus::Closed; }
    bool SendReply(std::span<const std::uint8_t>, const BootpMessage&) override { return false; }
    void Wake() override {}
    void Close() override {}

private:
    OpenResult m_result;
};

}  // namespace

class WindowCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void refusalsShowTheirBoxAndFocusTheField()
    {
        struct Case {
            const char* name;
            std::array<std::uint8_t, 4> typed;
            bool selected;
            const char* current;
            MsgAnswer answer;
            bool inUse;  // a host answers the first probe
            BoxAndHelp box;
            int focus;               // 0: the focus stays where it was
            bool unchecked = false;  // the first probe could not be sent (no permission)
        };
        const std::vector<Case> cases = {
            {"zero", {0, 0, 0, 0}, true, "0.0.0.0", MsgAnswer::Ok, false, {105, 23}, 1},
            {"broadcast", {255, 255, 255, 255}, true, "0.0.0.0", MsgAnswer::Ok, false, {122, 27}, 1},
            {"ending 1 cancelled", {10, 0, 0, 1}, true, "0.0.0.0", MsgAnswer::Cancel, false, {123, 36}, 4},
            {"nothing selected", {10, 0, 0, 5}, false, "0.0.0.0", MsgAnswer::Ok, false, {104, 28}, 0},
            {"same address", {10, 0, 0, 7}, true, "10.0.0.7", MsgAnswer::Ok, false, {124, 37}, 4},
            {"address in use", {10, 0, 0, 9}, true, "0.0.0.0", MsgAnswer::Ok, true, {106, 8}, 4},
            {"address not checked, not set", {10, 0, 0, 9}, true, "0.0.0.0", MsgAnswer::No, false, {144, 40}, 4, true},
        };
        for (const Case& c : cases) {
            WorkflowBench bench;
            bench.AddServer(kSerial, c.current);
            bench.Select(c.selected ? 0 : -1);
            bench.TypeAddress(c.typed);
            bench.closeButton->setFocus();
            bench.addressInUse = c.inUse;
            bench.addressUnchecked = c.unchecked;
            bench.boxes.queueAnswer(c.answer);
            bench.Commands().OnSetIpAddress();
            QCOMPARE(BoxesWithHelp(bench.boxes), std::vector<BoxAndHelp>{c.box});
            QCOMPARE(bench.help.Current(), 1);
            QCOMPARE(bench.probes.size(), std::size_t{c.inUse || c.unchecked ? 1u : 0u});
            QCOMPARE(QApplication::overrideCursor(), nullptr);
            QCOMPARE(bench.engine->Shared().stage.load(), int(StageIdle));
            QWidget* expected = c.focus ? static_cast<QWidget*>(bench.address->GetField(c.focus)) : bench.closeButton;
            QVERIFY2(bench.window.focusWidget() == expected, c.name);
            if (c.focus)
                QCOMPARE(bench.address->GetField(c.focus)->selectedText(), bench.address->GetField(c.focus)->text());
        }
    }

    void outcomeBoxesWithTheirHelpTopics()
    {
        struct Case {
            const char* name;
            std::vector<std::pair<std::int64_t, int>> schedule;
            bool inkwell, finalAnswers;
            std::vector<MsgAnswer> answers;
            std::vector<BoxAndHelp> boxes;
            const char* row;  // the list's address afterwards
            bool browser, registered, ended;
        };
        const std::vector<Case> cases = {
            {"no request", {}, false, false, {}, {{107, 12}}, "0.0.0.0", false, false, false},
            {"not verified", {{1000, StageReplied}}, false, false, {}, {{108, 32}}, "0.0.0.0", false, false, false},
            {"until restart",
             {{1000, StageVerified}},
             false,
             false,
             {MsgAnswer::Ok, MsgAnswer::Yes},
             {{109, 33}, {111, 19}},
             "10.1.2.50",
             true,
             false,
             false},
            {"stored",
             {{1000, StageStored}},
             false,
             false,
             {MsgAnswer::Ok, MsgAnswer::No},
             {{110, 31}, {111, 19}},
             "10.1.2.50",
             false,
             false,
             false},
            {"answered at the end",
             {{1000, StageReplied}},
             false,
             true,
             {MsgAnswer::Ok, MsgAnswer::No},
             {{109, 33}, {111, 19}},
             "10.1.2.50",
             false,
             false,
             false},
            {"Inkwell registration",
             {{1000, StageVerified}},
             true,
             false,
             {MsgAnswer::Ok, MsgAnswer::Yes},
             {{119, 33}, {137, 19}},
             "10.1.2.50",
             false,
             true,
             true},
            {"Inkwell, no registration",
             {{1000, StageStored}},
             true,
             false,
             {MsgAnswer::Ok, MsgAnswer::No},
             {{110, 31}, {137, 19}},
             "10.1.2.50",
             false,
             false,
             false},
        };
        for (const Case& c : cases) {
            WorkflowBench bench(c.inkwell);
            std::vector<QUrl> opened;
            SetUrlOpener([&](const std::string& url) {
                opened.emplace_back(QString::fromStdString(url));
                return true;
            });
            bench.AddServer(kSerial, "0.0.0.0");
            bench.Select(0);
            bench.TypeAddress({10, 1, 2, 50});
            bench.schedule = c.schedule;
            bench.finalProbeAnswers = c.finalAnswers;
            for (MsgAnswer a : c.answers) bench.boxes.queueAnswer(a);
            bench.Commands().OnSetIpAddress();
            QCoreApplication::processEvents();
            SetUrlOpener({});
            QVERIFY2(BoxesWithHelp(bench.boxes) == c.boxes, c.name);
            QCOMPARE(bench.model->Text(0, 1), QString::fromLatin1(c.row));
            QCOMPARE(opened, c.browser ? std::vector<QUrl>{QUrl("http://10.1.2.50/")} : std::vector<QUrl>{});
            QCOMPARE(bench.registered,
                     c.registered ? std::vector<std::string>{"10.1.2.50"} : std::vector<std::string>{});
            QVERIFY2((bench.endedAt >= 0) == c.ended, c.name);
            QCOMPARE(bench.help.Current(), 1);
            QCOMPARE(QApplication::overrideCursor(), nullptr);
        }
    }

    void stageWindowClimbsOneStepPerCycleOnItsFloors()
    {
        WorkflowBench bench;
        // The network thread jumps to 5 at once: every stage still shows for
        // one cycle, each with its floor in the bar.
        const auto [setting, retrying] = Split(RunWatched(bench, {{100, StageStored}}));
        std::vector<std::pair<int, int>> seen;
        for (const Shown& x : setting) seen.emplace_back(x.text, x.bar);
        const std::vector<std::pair<int, int>> expected = {{IDS_STAGE_WAITING, 0},    {IDS_STAGE_SETTING, 45},
                                                           {IDS_STAGE_VERIFYING, 53}, {IDS_STAGE_VERIFYING, 64},
                                                           {IDS_STAGE_SAVING, 79},    {IDS_STAGE_SAVING, 100}};
        QCOMPARE(seen, expected);

        // Retrying...: 0, then the share of its 14 s in 400-ms steps, 100 at the close.
        QCOMPARE(retrying.size(), std::size_t{1 + 35 + 1});
        QCOMPARE(retrying[0], 0);
        QCOMPARE(retrying[1], 1);    // 140 ms
        QCOMPARE(retrying[2], 3);    // 540 ms
        QCOMPARE(retrying[35], 98);  // 13740 ms
        QCOMPARE(retrying[36], 100);
        QVERIFY(std::is_sorted(retrying.begin(), retrying.end()));
    }

    void longestRunIsAbout88Seconds()
    {
        WorkflowBench bench;
        const std::vector<Shown> shown = RunWatched(
            bench, {{43000, StageReplied}, {44000, StageRestarting}, {45000, StageVerifying}, {72400, StageVerified}});
        const auto [setting, retrying] = Split(shown);
        // From the window's first look to its full bar, 240 ms before it closes.
        const std::int64_t length = setting.back().at - setting.front().at + 240;
        QVERIFY2(length > 86000 && length <= 89000, std::to_string(length).c_str());
        QVERIFY(std::all_of(shown.begin(), shown.end(), [](const Shown& x) { return x.bar >= 0 && x.bar <= 100; }));
        QCOMPARE(setting.back().bar, 100);
        QCOMPARE(retrying.back(), 100);
        QCOMPARE(bench.BoxIds(), (std::vector<int>{109, 111}));
    }

    void closeTakesItsFixedTimeInBothModes()
    {
        for (bool inkwell : {false, true}) {
            WorkflowBench bench(inkwell);
            bench.animation->Open(IDR_ANIMATION);
            bench.animation->Play(0, 14, -1);
            const std::int64_t start = bench.clock.NowMs();
            std::int64_t animationStopped = -1, noticeUntil = -1;
            bench.watch = [&](std::int64_t now) {
                if (animationStopped < 0 && !bench.animation->IsPlaying()) animationStopped = now - start;
                if (bench.view->Notice() && bench.view->Notice()->isVisible()) noticeUntil = now - start;
            };
            bench.Commands().OnClose();
            QCOMPARE(bench.endedAt - start, std::int64_t{inkwell ? 14 * 140 : 20 * 140 + 140});
            QVERIFY(!bench.closeButton->isEnabled());
            QVERIFY(bench.engine->Shared().stopRequested.load());
            const bool closingLine = bench.LogText().find("Closed MERROW Tessel's logfile!") != std::string::npos;
            if (inkwell) {
                QVERIFY(bench.animation->IsPlaying());
                QCOMPARE(noticeUntil, std::int64_t{-1});
                QVERIFY(!closingLine);
            } else {
                QCOMPARE(animationStopped, std::int64_t{14 * 140 + 15});  // seen at the first slice of the 15th
                QCOMPARE(noticeUntil, std::int64_t{20 * 140});
                QVERIFY(closingLine);
            }
            QCOMPARE(QApplication::overrideCursor(), nullptr);
            // A second close does nothing.
            bench.endedAt = -1;
            bench.Commands().OnClose();
            QCOMPARE(bench.endedAt, std::int64_t{-1});
        }
    }

    void closingWhileACommandRunsWaitsForItsEnd()
    {
        WorkflowBench bench;
        bench.AddServer(kSerial, "0.0.0.0");
        bench.Select(0);
        bench.TypeAddress({10, 1, 2, 50});
        const std::int64_t start = bench.clock.NowMs();
        bool asked = false;
        bench.watch = [&](std::int64_t now) {
            if (asked || now - start < 5000) return;
            asked = true;
            QCloseEvent close;  // the window manager's close button or Alt+F4
            SendSpontaneous(&bench.window, &close);
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            SendSpontaneous(&bench.window, &escape);
            bench.Commands().CloseProgram();    // as the start-up check asks, from its thread
            bench.Commands().OnSetIpAddress();  // a second command is not started
        };
        bool visibleAtOutcome = false;
        std::int64_t endedAtOutcome = 0;
        bench.boxes.onShow([&](const ShownBox&) {
            visibleAtOutcome = bench.window.isVisible();
            endedAtOutcome = bench.endedAt;
        });
        bench.Commands().OnSetIpAddress();
        QVERIFY(asked);
        QCOMPARE(bench.BoxIds(), std::vector<int>{107});
        QVERIFY(visibleAtOutcome);
        QCOMPARE(endedAtOutcome, std::int64_t{-1});
        QVERIFY(bench.endedAt > 0);  // the close asked for ran once the command was over
        QCOMPARE(bench.probes.size(), std::size_t{2});
    }

    void startupCheckMessagesOnTheWindowThread()
    {
        struct Case {
            const char* name;
            bool socketWorks;
            std::optional<OpenResult> refused;
            int box;  // 0: the plain message of a port not permitted
            int help;
            bool closes;
        };
        const std::vector<Case> cases = {
            {"no TCP/IP", false, {}, 142, 1, true},
            {"port taken", true, OpenResult::PortInUse, 125, 39, true},
            {"port not permitted", true, OpenResult::PortNotPermitted, 0, 1, true},
            {"no server in 40 s", true, {}, 121, 11, false},
        };
        for (const Case& c : cases) {
            VirtualClock clock;
            WorkflowBench bench(false, &clock, c.refused ? std::make_unique<RefusingChannel>(*c.refused) : nullptr);
            bench.socketWorks = c.socketWorks;
            if (c.refused) {
                bench.engine->Start();
                QVERIFY(!bench.engine->WaitUntilListening());
            }
            bench.Commands().StartStartupCheck();
            QTRY_COMPARE(bench.boxes.boxes().size(), std::size_t{1});
            const ShownBox& box = bench.boxes.boxes()[0];
            QCOMPARE(box.textId, c.box);
            QCOMPARE(box.helpContext, c.help);
            QCOMPARE(box.icon, c.box == 121 ? MsgIcon::Information : MsgIcon::Stop);
            if (!c.box) {
                // Each capability with what it is for, and the command for this program.
                QVERIFY(box.text.contains(QLatin1String("not permitted")));
                for (const char* words :
                     {"cap_net_bind_service: to listen on UDP port 67", "cap_net_raw: to send the ICMP echo request",
                      "cap_net_admin: to write a server's entry", "setcap "})
                    QVERIFY2(box.text.contains(QLatin1String(words)), words);
            }
            if (c.closes)
                QTRY_VERIFY(bench.endedAt >= 0);
            else
                QTest::qWait(20);
            QVERIFY2((bench.endedAt >= 0) == c.closes, c.name);
        }
    }

    void closingEndsTheStartupCheckWithinASecond()
    {
        WorkflowBench bench;  // the check on the steady clock, as in the program
        bench.Commands().StartStartupCheck();
        QTest::qWait(1700);  // into its 40-s wait
        QElapsedTimer timer;
        timer.start();
        bench.Commands().OnClose();
        bench.commandsUnderTest.reset();  // waits for the check
        QVERIFY2(timer.elapsed() < 1100, std::to_string(timer.elapsed()).c_str());
        QVERIFY(bench.boxes.boxes().empty());
    }

    void homePageBoxes()
    {
        struct Case {
            const char* name;
            bool awaiting;
            int selected;
            bool browserStarts;
            std::vector<BoxAndHelp> boxes;
            std::vector<QUrl> opened;
        };
        const std::vector<Case> cases = {
            {"no server yet", true, 0, true, {{120, 26}}, {}},
            {"none selected", false, -1, true, {{117, 26}}, {}},
            {"no address", false, 0, true, {{118, 30}}, {}},
            {"factory default", false, 1, true, {}, {QUrl("http://198.51.100.80/")}},
            {"browser fails", false, 2, false, {{112, 34}}, {QUrl("http://10.1.2.20/")}},
        };
        for (const Case& c : cases) {
            WorkflowBench bench;
            bench.AddServer("0A-1B-2C-00-00-01", "0.0.0.0");
            bench.AddServer("0A-1B-2C-00-00-02", "198.51.100.80");
            bench.AddServer("0A-1B-2C-00-00-03", "10.1.2.20");
            bench.engine->Shared().awaitingFirstServer.store(c.awaiting);
            bench.Select(c.selected);
            std::vector<QUrl> opened;
            SetUrlOpener([&](const std::string& url) {
                opened.emplace_back(QString::fromStdString(url));
                return c.browserStarts;
            });
            bench.Commands().OnHomePageOfSelected();
            SetUrlOpener({});
            QVERIFY2(BoxesWithHelp(bench.boxes) == c.boxes, c.name);
            QCOMPARE(opened, c.opened);
            QCOMPARE(bench.help.Current(), 1);
        }
        WorkflowBench bench;
        std::vector<QUrl> opened;
        SetUrlOpener([&](const std::string& url) {
            opened.emplace_back(QString::fromStdString(url));
            return true;
        });
        bench.Commands().OnMerrowHomePage();
        SetUrlOpener({});
        QCOMPARE(opened, std::vector<QUrl>{QUrl("http://merrow.example/")});
    }

    void listKeysShowTheRowTheListIsAboutToSelect()
    {
        struct Case {
            const char* name;
            int selected;
            ListKey key;
            const char* shown;  // null: the line stays as it was
        };
        const std::vector<Case> cases = {
            {"down", 0, ListKey::Down, "0A-1B-2C-00-00-02"},
            {"down on the last", 2, ListKey::Down, "0A-1B-2C-00-00-03"},
            {"up on the first", 0, ListKey::Up, "0A-1B-2C-00-00-01"},
            {"end", 0, ListKey::End, "0A-1B-2C-00-00-03"},
            {"home", 2, ListKey::Home, "0A-1B-2C-00-00-01"},
            {"page down, type-ahead", 0, ListKey::Other, nullptr},
            {"nothing selected", -1, ListKey::Down, nullptr},
        };
        for (const Case& c : cases) {
            WorkflowBench bench;
            bench.AddServer("0A-1B-2C-00-00-01", "0.0.0.0");
            bench.AddServer("0A-1B-2C-00-00-02", "198.51.100.80");
            bench.AddServer("0A-1B-2C-00-00-03", "192.168.5.77");
            bench.status->setText(QStringLiteral("before"));
            bench.Select(c.selected);
            bench.Commands().OnServerListKeyDown(c.key);
            const QString expected =
                c.shown ? LoadString(IDS_SELECTED_SERVER) + QLatin1String(c.shown) : QStringLiteral("before");
            QVERIFY2(bench.status->text() == expected, c.name);
        }

        WorkflowBench bench;
        bench.AddServer("0A-1B-2C-00-00-03", "192.168.5.77");
        // Before the first server nothing happens, whatever is clicked.
        bench.view->EnableAddressInputs(false);
        bench.engine->Shared().awaitingFirstServer.store(true);
        bench.Select(0);
        bench.Commands().OnServerListClick();
        bench.Commands().OnServerListKeyDown(ListKey::Home);
        QVERIFY(!bench.InputsEnabled());
        QVERIFY(bench.status->text().isEmpty());
        // A click on a row shows it and proposes host1.host2.b3.b4.
        bench.engine->Shared().awaitingFirstServer.store(false);
        bench.Commands().OnServerListClick();
        QVERIFY(bench.InputsEnabled());
        QCOMPARE(bench.status->text(), LoadString(IDS_SELECTED_SERVER) + QLatin1String("0A-1B-2C-00-00-03"));
        IPAddrData data;
        QVERIFY(bench.address->GetAddress(false, &data));
        QCOMPARE(data.octets, (std::array<std::uint8_t, 4>{10, 1, 5, 77}));
        // A click on an empty part: inputs enabled, line and proposal kept.
        bench.view->EnableAddressInputs(false);
        bench.Select(-1);
        bench.Commands().OnServerListClick();
        QVERIFY(bench.InputsEnabled());
        QCOMPARE(bench.status->text(), LoadString(IDS_SELECTED_SERVER) + QLatin1String("0A-1B-2C-00-00-03"));
    }
};

TESSEL_GUI_TEST_MAIN(WindowCommandsTest)
#include "window_commands_test.moc"
