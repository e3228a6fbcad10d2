// The main window's logic without any toolkit: a fake view records what
// the logic asks of the window, on virtual time. Both windows start through
// the same logic, so the start-up here is the Win32 window's as much as the
// Qt window's; the Qt window's own tests drive it through real widgets.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/engine_host.h"
#include "engine/server_table.h"
#include "log/logfile.h"
#include "tests/hook_clock.h"
#include "tests/unit/network_fixture.h"
#include "tests/unit/recording_commands.h"
#include "tests/unit/workers_test_support.h"
#include "workers/hand_over.h"
#include "workflow/main_window.h"
#include "workflow/window_commands.h"

namespace tessel {
namespace {

class FakeView final : public MainWindowView {
public:
    int RowCount() const override { return static_cast<int>(rows.size()); }
    int FirstSelectedRow() const override { return selected; }
    bool RowTexts(int row, std::string& serial, std::string& current) const override
    {
        if (row < 0 || row >= RowCount()) return false;
        serial = rows[static_cast<std::size_t>(row)].first;
        current = rows[static_cast<std::size_t>(row)].second;
        return true;
    }
    void FollowServerTable(ServerTable* table) override
    {
        calls.push_back(table ? "follow the table" : "leave the table");
    }
    void FocusServerList() override { calls.push_back("focus the list"); }
    void SetStatusText(const std::string& text) override { status = text; }
    void EnableAddressInputs(bool enable) override
    {
        inputs = enable;
        calls.push_back(enable ? "inputs on" : "inputs off");
    }
    void EnableCloseButton(bool) override {}
    void LockInput(bool on) override { locks.push_back(on); }
    void SetWaitCursor(bool) override {}
    void StartAnimation() override { calls.push_back("animation"); }
    void StopAnimation() override {}
    void SetSwitches(bool logfile, bool onlyMerrow) override
    {
        calls.push_back(std::string("switches ") + (logfile ? "1" : "0") + (onlyMerrow ? "1" : "0"));
    }
    void HideInstallerControls() override { calls.push_back("hide the installer's controls"); }
    void SetAddress(const Ipv4Bytes& bytes) override
    {
        address = bytes;
        calls.push_back("address " + FormatAddress(bytes));
    }
    std::optional<Ipv4Bytes> ReadAddress() override { return address; }
    void FocusAddressField(int) override {}
    MsgAnswer ShowBox(const BoxStyle& box) override
    {
        boxes.push_back({box.id, help ? help->Current() : 0, locks.empty() ? false : locks.back()});
        const auto answer = answers.find(box.id);
        return answer != answers.end() ? answer->second : DefaultAnswer(box.buttons, box.defaultButton);
    }
    void ShowTextBox(const std::string&, MsgIcon) override {}
    void OpenValidating() override {}
    void CloseValidating() override {}
    void OpenStage(int) override {}
    void SetStageText(int) override {}
    void SetBar(int) override {}
    void CloseStage() override {}
    void OpenShutdownNotice() override {}
    void CloseShutdownNotice() override {}
    void Repaint() override {}
    bool OpenUrl(const std::string& url) override
    {
        urls.push_back(url);
        return browserOpens;
    }
    void RegisterNewServer(const std::string&) override {}
    std::optional<std::string> ReadTesselPath() override { return tesselPath; }
    void EndDialog() override { ended = true; }
    void Post(std::function<void()> call) override { posted.push_back(std::move(call)); }
    Clock& WindowClock() override { return clock; }

    struct Box {
        int id, help;
        bool locked;
    };
    testing::HookClock clock;
    HelpContext* help = nullptr;
    std::vector<std::string> calls;
    std::optional<std::string> tesselPath;
    std::vector<std::pair<std::string, std::string>> rows;
    int selected = -1;
    std::string status;
    bool inputs = false, browserOpens = true, ended = false;
    Ipv4Bytes address{10, 1, 2, 60};
    std::vector<bool> locks;
    std::vector<Box> boxes;
    std::map<int, MsgAnswer> answers;
    std::vector<std::string> urls;
    std::vector<std::function<void()>> posted;
};

// The logic over a fake view and an engine host that is never started.
struct Bed {
    explicit Bed(bool inkwell)
    {
        EngineSetup setup;
        setup.logfile = std::make_unique<CLogfile>(LogfilePath{(dir.path() / "Tessel.log").string()});
        setup.hostAddress = "10.1.2.3";
        setup.clock = &view.clock;
        engine = std::make_unique<EngineHost>(std::move(setup));
        view.help = &help;
        WindowCommandsSetup s;
        s.view = &view;
        s.engine = engine.get();
        s.help = &help;
        s.inkwellMode = inkwell;
        s.hostOctets = {"10", "1", "2"};
        s.commands = &commands;
        s.startIcmpProbe = [](std::shared_ptr<ProbeRequest>) { return true; };  // nobody answers
        logic = std::make_unique<WindowCommands>(std::move(s));
    }
    void List(const std::string& serial)
    {
        std::lock_guard<std::mutex> guard(engine->Shared().stateLock);
        if (engine->Shared().awaitingFirstServer.exchange(false)) engine->Table().Delete(0);
        engine->Table().SetAddress(engine->Table().InsertServer(serial), "0.0.0.0");
        view.rows.push_back({serial, "0.0.0.0"});
    }
    std::string Log()
    {
        logic.reset();
        engine.reset();
        return tessel::testing::ReadFile(dir.path() / "Tessel.log");
    }

    tessel::testing::TempDir dir;
    HelpContext help;
    FakeView view;
    testing::RecordingCommands commands;
    std::unique_ptr<EngineHost> engine;
    std::unique_ptr<WindowCommands> logic;
};

TEST(WindowLogic, TheWindowIsLockedForTheWholeCommandAndItsListIgnored)
{
    Bed bed(false);
    bed.List("0A-1B-2C-00-0B-01");
    bed.List("0A-1B-2C-00-0B-02");
    bed.view.selected = 0;
    bed.logic->OnServerListClick();
    ASSERT_EQ(bed.view.status, "Selected server: 0A-1B-2C-00-0B-01");
    EXPECT_EQ(bed.view.address, (Ipv4Bytes{10, 1, 2, 0}));
    bed.view.address = {10, 1, 2, 60};
    bool tried = false;
    bed.view.clock.afterSleep = [&](std::int64_t) {
        if (tried) return;
        tried = true;
        bed.view.selected = 1;  // a list that let a click through
        bed.logic->OnServerListClick();
        bed.logic->OnServerListKeyDown(ListKey::Down);
        bed.logic->OnHomePageOfSelected();
        bed.logic->OnClose();  // held until the command is over
    };
    bed.logic->OnSetIpAddress();
    EXPECT_TRUE(tried);
    EXPECT_EQ(bed.view.status, "Selected server: 0A-1B-2C-00-0B-01");
    EXPECT_TRUE(bed.view.urls.empty());
    ASSERT_FALSE(bed.view.boxes.empty());
    for (const auto& box : bed.view.boxes) EXPECT_TRUE(box.locked) << box.id;
    EXPECT_EQ(bed.view.boxes.front().id, IDS_NO_REQUEST);
    // The close asked for meanwhile runs once the command is over, itself
    // locked to the end.
    EXPECT_TRUE(bed.view.ended);
    EXPECT_EQ(bed.view.locks, (std::vector<bool>{true, true}));
}

TEST(WindowLogic, ABrowserThatWillNotOpenIsBox112)
{
    Bed bed(false);
    bed.List("0A-1B-2C-00-0B-01");
    bed.view.browserOpens = false;
    bed.logic->OnMerrowHomePage();
    ASSERT_EQ(bed.view.boxes.size(), 1u);
    EXPECT_EQ(bed.view.boxes[0].id, IDS_BROWSER_FAILED);
    EXPECT_EQ(bed.view.boxes[0].help, kHelpBrowserFailed);
    EXPECT_EQ(bed.view.urls, std::vector<std::string>{"http://merrow.example/"});
    EXPECT_EQ(bed.help.Current(), kHelpAtRest);
}

// The installer's run leaves its logfile without the closing line, even
// when the window goes; the normal run closes it.
TEST(WindowLogic, OnlyTheNormalRunWritesTheClosingLine)
{
    for (const bool inkwell : {false, true}) {
        Bed bed(inkwell);
        bed.logic->OnClose();
        EXPECT_TRUE(bed.view.ended);
        const std::string log = bed.Log();
        EXPECT_NE(log.find("Initialized"), std::string::npos);
        EXPECT_EQ(log.find("Closed") != std::string::npos, !inkwell) << inkwell;
    }
}

// The proposal takes each octet as the system's string conversion does: up
// to the first non-digit, its low eight bits.
TEST(WindowLogic, Proposals)
{
    const HostOctets host{"10", "1", "2"};
    const struct {
        const char* address;
        bool inkwell;
        Ipv4Bytes proposed;
    } cases[] = {
        {"0.0.0.0", false, {10, 1, 2, 0}},         {"198.51.100.80", false, {10, 1, 2, 0}},
        {"0.0.0.0", true, {10, 1, 2, 0}},          {"192.168.5.77", false, {10, 1, 5, 77}},
        {"192.168.5.77", true, {192, 168, 5, 77}}, {"1.2.3.300", true, {1, 2, 3, 44}},
        {"7x.8.9.10", true, {7, 8, 9, 10}},
    };
    for (const auto& c : cases) EXPECT_EQ(ProposeAddress(c.address, host, c.inkwell), c.proposed) << c.address;
    EXPECT_EQ(HostNetworkAddress({"", "x", "3"}), (Ipv4Bytes{0, 0, 3, 0}));
}

// Both windows keep this computer the same way: without a name, or with an
// address that is not four parts, there is no address and no octets.
TEST(WindowLogic, ThisComputerAsTheWindowKeepsIt)
{
    const WindowHost full = WindowHostOf({"desk", "10.1.2.3"});
    EXPECT_EQ(full.identity.address, "10.1.2.3");
    EXPECT_EQ(full.octets, (HostOctets{"10", "1", "2"}));
    EXPECT_EQ(WindowHostOf({std::string(150, 'n'), "10.1.2.3"}).identity.name.size(), kHostNameMax);
    for (const char* address : {"10.1.2", "10.1.2.3.4", ""}) {
        const WindowHost host = WindowHostOf({"desk", address});
        EXPECT_EQ(host.identity.name, "desk");
        EXPECT_TRUE(host.identity.address.empty()) << address;
        EXPECT_EQ(host.octets, HostOctets{}) << address;
    }
    const WindowHost nameless = WindowHostOf({"", "10.1.2.3"});
    EXPECT_TRUE(nameless.identity.address.empty());
    EXPECT_EQ(nameless.octets, HostOctets{});
}

// A window "pc-1" at `address` over the fake view, its engine on a scripted
// channel, its logfile in the installer's run below `dir`. The start-up
// check waits its first 400 ms in real time: longer than a test looks.
WindowEnvironment StartingWindow(FakeView& view, const std::string& address, const std::filesystem::path& dir)
{
    // The installer names the logfile's place ("log" replaces the last
    // three characters), below the drive root.
    view.tesselPath = (dir / "inkwell.tmp").relative_path().string();
    std::filesystem::create_directory(dir / "inkwell.log");
    WindowEnvironment env;
    env.hostName = "pc-1";
    env.hostAddress = address;
    env.clock = &view.clock;
    env.socketWorks = [] { return true; };
    env.makeChannel = [] { return std::make_unique<testing::ScriptedChannel>(); };
    return env;
}

// The window's start over the fake view, in both modes: what the window is
// asked in which order, the engine it starts and where its logfile goes.
// The logfile of the normal run lies in the working folder.
TEST(WindowLogic, TheStartUpInItsOrder)
{
    // With `shownFirst` the window shows its start state before it paints
    // (the Win32 window), and the start does not show it again.
    const struct {
        bool inkwell;
        bool shownFirst;
        std::vector<std::string> calls;
        int onlyMerrow;
        const char* logfile;
    } cases[] = {
        {false,
         false,
         {"inputs off", "address 10.1.2.0", "switches 11", "animation", "follow the table", "focus the list"},
         1,
         "MERROW Tessel.log"},
        {true,
         false,
         {"inputs off", "address 10.1.2.0", "switches 11", "hide the installer's controls", "follow the table",
          "focus the list"},
         0,
         "inkwell.log/Tessel.log"},
        {true,
         true,
         {"inputs off", "address 10.1.2.0", "switches 11", "hide the installer's controls", "follow the table",
          "focus the list"},
         0,
         "inkwell.log/Tessel.log"},
    };
    for (const auto& c : cases) {
        tessel::testing::TempDir dir;
        const std::filesystem::path before = std::filesystem::current_path();
        std::filesystem::current_path(dir.path());
        FakeView view;
        {
            MainWindowLogic window(view, c.inkwell, StartingWindow(view, "10.1.2.3", dir.path()));
            view.help = &window.Help();
            EXPECT_EQ(window.Engine(), nullptr);
            EXPECT_EQ(window.Commands(), nullptr);
            window.Help().Set(kHelpPortTaken);
            if (c.shownFirst) {
                window.ShowStartState();
                EXPECT_EQ(window.Engine(), nullptr);
                EXPECT_EQ(view.calls.size(), 4u);
            }
            window.Start();
            EXPECT_EQ(view.calls, c.calls) << c.inkwell;
            EXPECT_EQ(window.Help().Current(), kHelpAtRest);
            ASSERT_NE(window.Engine(), nullptr);
            EXPECT_NE(window.Commands(), nullptr);
            EXPECT_TRUE(window.Engine()->Started());
            EXPECT_EQ(window.Engine()->OnlyMerrow().load(), c.onlyMerrow);
            EXPECT_EQ(window.Engine()->Shared().printServersOnly, c.inkwell);
            EXPECT_EQ(window.Engine()->Shared().hostAddress, "10.1.2.3");
            EXPECT_TRUE(std::filesystem::exists(dir.path() / c.logfile)) << c.logfile;
            // A second start (a window shown again) changes nothing.
            EngineHost* engine = window.Engine();
            window.Start();
            EXPECT_EQ(window.Engine(), engine);
            EXPECT_EQ(view.calls.size(), c.calls.size());
        }
        // The list lets go of the table before the engine goes.
        EXPECT_EQ(view.calls.back(), "leave the table");
        std::filesystem::current_path(before);
    }
}

TEST(WindowLogic, TheCheckBoxesSetTheEngine)
{
    tessel::testing::TempDir dir;
    FakeView view;
    MainWindowLogic window(view, true, StartingWindow(view, "", dir.path()));
    window.OnOnlyMerrowSwitch(true);  // before the start: nothing to set, nothing fails
    window.Start();
    // Without an address of its own the window proposes 0.0.0.0.
    EXPECT_EQ(view.address, (Ipv4Bytes{0, 0, 0, 0}));
    EngineHost& engine = *window.Engine();
    for (const bool on : {true, false, true}) {
        window.OnOnlyMerrowSwitch(on);
        EXPECT_EQ(engine.OnlyMerrow().load(), on ? 1 : 0);
        window.OnLogfileSwitch(on);
        EXPECT_EQ(engine.Log().IsEnabled(), on);
    }
}

// The help context in force while a box shows, and at rest after it.
TEST(WindowLogic, AScopedHelpTopicEndsAtRest)
{
    HelpContext help;
    {
        const ScopedHelp topic(&help, kHelpBroadcast);
        EXPECT_EQ(help.Current(), kHelpBroadcast);
    }
    EXPECT_EQ(help.Current(), kHelpAtRest);
    help.Set(kHelpFollowUp);
    {
        const ScopedHelp unchanged(&help, kHelpUnchanged);
        EXPECT_EQ(help.Current(), kHelpFollowUp);
    }
    EXPECT_EQ(help.Current(), kHelpFollowUp);
    const ScopedHelp none(nullptr, kHelpBroadcast);  // tessel-cli: no help at all
}

}  // namespace
}  // namespace tessel
