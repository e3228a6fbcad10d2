// The main window's logic without any toolkit: a fake view records what
// the logic asks of the window, on virtual time. The Qt window's own tests
// drive the same logic through real widgets.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "engine/engine_host.h"
#include "engine/server_table.h"
#include "log/logfile.h"
#include "tests/hook_clock.h"
#include "tests/unit/recording_commands.h"
#include "tests/unit/workers_test_support.h"
#include "workers/hand_over.h"
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
    void SetStatusText(const std::string& text) override { status = text; }
    void EnableAddressInputs(bool enable) override { inputs = enable; }
    void EnableCloseButton(bool) override {}
    void LockInput(bool on) override { locks.push_back(on); }
    void SetWaitCursor(bool) override {}
    void StopAnimation() override {}
    void SetAddress(const Ipv4Bytes& bytes) override { address = bytes; }
    std::optional<Ipv4Bytes> ReadAddress() override { return address; }
    void FocusAddressField(int) override {}
    MsgAnswer ShowBox(const BoxStyle& box) override
    {
        boxes.push_back({box.id, help ? help->load() : 0, locks.empty() ? false : locks.back()});
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
    void EndDialog() override { ended = true; }
    void Post(std::function<void()> call) override { posted.push_back(std::move(call)); }
    Clock& WindowClock() override { return clock; }

    struct Box {
        int id, help;
        bool locked;
    };
    testing::HookClock clock;
    std::atomic<int>* help = nullptr;
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
        setup.helpContext = &help;
        setup.clock = &view.clock;
        engine = std::make_unique<EngineHost>(std::move(setup));
        view.help = &help;
        WindowCommandsSetup s;
        s.view = &view;
        s.engine = engine.get();
        s.helpContext = &help;
        s.inkwellMode = inkwell;
        s.hostOctets = {"10", "1", "2"};
        s.commands = &commands;
        s.startIcmpProbe = [](std::shared_ptr<ProbeRequest>) { return true; };  // nobody answers
        logic = std::make_unique<CWindowCommands>(std::move(s));
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
        return test::ReadFile(dir.path() / "Tessel.log");
    }

    test::TempDir dir;
    std::atomic<int> help{kHelpAtRest};
    FakeView view;
    testing::RecordingCommands commands;
    std::unique_ptr<EngineHost> engine;
    std::unique_ptr<CWindowCommands> logic;
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
    EXPECT_EQ(bed.help.load(), kHelpAtRest);
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

}  // namespace
}  // namespace tessel
