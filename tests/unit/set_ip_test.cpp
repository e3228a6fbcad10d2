// The Set-IP command on virtual time, with a scripted front end standing in
// for the window and a schedule standing in for the network thread.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/server_table.h"
#include "engine/shared_state.h"
#include "log/logfile.h"
#include "platform/clock.h"
#include "recording_commands.h"
#include "workers/hand_over.h"
#include "workers/icmp_probe.h"
#include "workers_test_support.h"
#include "workflow/set_ip_command.h"

using namespace tessel;

namespace {

// A clock whose sleeps also let a scripted network thread move the stage.
class ScheduleClock final : public Clock {
public:
    std::int64_t nowMs() override { return m_now; }
    void sleepMs(std::int64_t ms) override
    {
        m_now += ms;
        if (afterSleep) afterSleep(m_now);
    }
    std::function<void(std::int64_t)> afterSleep;

private:
    std::int64_t m_now = 100000;
};


struct ShownBox {
    int id;
    int help;
    bool underWaitCursor;
};

class FrontEnd final : public SetIpFrontEnd {
public:
    FrontEnd(HelpContext& help, Clock& clock) : m_help(help), m_clock(clock) {}

    MsgAnswer ShowBox(const BoxStyle& box) override
    {
        boxes.push_back({box.id, m_help.Current(), waitCursor});
        auto scripted = answers.find(box.id);
        if (scripted != answers.end()) return scripted->second;
        return box.buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
    }
    std::optional<Ipv4Bytes> ReadAddress() override { return address; }
    void FocusField(int field) override { focused.push_back(field); }
    std::optional<std::string> SelectedSerial() override { return selected; }
    void SetWaitCursor(bool on) override { waitCursor = on; }
    void OpenValidating() override { validatingOpenedAt.push_back(m_clock.nowMs()); }
    void CloseValidating() override { validatingClosedAt.push_back(m_clock.nowMs()); }
    void OpenStage(int textId) override
    {
        stageOpen = true;
        opened.push_back({textId, m_clock.nowMs()});
    }
    void SetStageText(int textId) override { texts.push_back(textId); }
    void SetBar(int position) override
    {
        bars.push_back(position);
        barTimes.push_back(m_clock.nowMs());
    }
    void Repaint() override {}
    void CloseStage() override
    {
        stageOpen = false;
        closedAt.push_back(m_clock.nowMs());
    }
    void LaunchBrowser(const std::string& a) override { browser.push_back(a); }
    void RegisterNewServer(const std::string& a) override { registered.push_back(a); }
    void CloseProgram() override { closed = true; }

    void Clear()
    {
        address = Ipv4Bytes{10, 0, 0, 5};
        selected = std::string("0A-1B-2C-00-00-AB");
        answers.clear();
        boxes.clear();
        focused.clear();
        texts.clear();
        bars.clear();
    }

    std::optional<Ipv4Bytes> address = Ipv4Bytes{10, 0, 0, 5};
    std::optional<std::string> selected = std::string("0A-1B-2C-00-00-AB");
    std::map<int, MsgAnswer> answers;
    std::vector<ShownBox> boxes;
    std::vector<int> focused, texts, bars;
    std::vector<std::int64_t> barTimes, validatingOpenedAt, validatingClosedAt, closedAt;
    std::vector<std::pair<int, std::int64_t>> opened;
    std::vector<std::string> browser, registered;
    bool waitCursor = false, stageOpen = false, closed = false;

private:
    HelpContext& m_help;
    Clock& m_clock;
};

class SetIpTest : public ::testing::Test {
public:
    void SetUp() override
    {
        shared.serverList = &table;
        shared.hostAddress = "10.77.0.1";
        shared.awaitingFirstServer.store(false);
        shared.clock = &clock;
        table.Delete(0);
        table.SetAddress(table.InsertServer("0A-1B-2C-00-00-AB"), "0.0.0.0");
        clock.afterSleep = [this](std::int64_t now) {
            for (const auto& [at, stage] : schedule)
                if (handedOverAt >= 0 && now - handedOverAt >= at && shared.stage.load() >= StageAwaitRequest &&
                    shared.stage.load() < stage)
                    SetStage(shared, stage);
            stagesSeen.push_back(shared.stage.load());
        };
    }

    SetIpOutcome Run()
    {
        CSetIpCommand command(SetIpContext{shared, ui, clock, commands, &help, inkwell,
                                           [this](std::shared_ptr<ProbeRequest> r) {
                                               probes.push_back(r);
                                               const bool first = probes.size() == 1;
                                               if ((first && addressInUse) || (!first && finalProbeAnswers))
                                                   r->Report(1);
                                               if (first && firstProbeUnchecked != 0)
                                                   r->ReportUnchecked(firstProbeUnchecked);
                                               return !first || firstProbeStarts;
                                           },
                                           [this] { return interfaces; }});
        // The hand-over is the moment the stage becomes 0.
        auto watch = clock.afterSleep;
        clock.afterSleep = [this, watch](std::int64_t now) {
            if (handedOverAt < 0 && shared.stage.load() == StageAwaitRequest) handedOverAt = now;
            watch(now);
        };
        const auto outcome = command.OnSetIpAddress();
        closing = command.ClosingAfterRegistration();
        return outcome;
    }

    std::vector<int> BoxIds() const
    {
        std::vector<int> ids;
        for (const auto& b : ui.boxes) ids.push_back(b.id);
        return ids;
    }

    std::string RowAddress() const { return table.Rows()[0].address; }

    ScheduleClock clock;
    ServerTable table;
    SharedState shared;
    HelpContext help;
    FrontEnd ui{help, clock};
    tessel::testing::RecordingCommands commands;
    bool inkwell = false, addressInUse = false, finalProbeAnswers = false, closing = false;
    std::int32_t firstProbeUnchecked = 0;  // why the address check could not be made
    bool firstProbeStarts = true;
    // Where servers are heard: 10.0.0.0/16, whose own and broadcast
    // addresses are 10.0.0.0 and 10.0.255.255.
    std::vector<NetworkInterface> interfaces = {{"eth0", 2, "10.0.0.9", 16}};
    std::vector<std::pair<std::int64_t, int>> schedule;  // time after hand-over, stage
    std::int64_t handedOverAt = -1;
    std::vector<std::shared_ptr<ProbeRequest>> probes;
    std::vector<int> stagesSeen;
};

}  // namespace

TEST_F(SetIpTest, RefusalsEndWithTheirBoxBeforeAnyNetworkAction)
{
    struct Case {
        const char* name;
        std::function<void(SetIpTest&)> arrange;
        int box, help, focus;
    };
    const std::vector<Case> cases = {
        {"no server yet", [](SetIpTest& t) { t.shared.awaitingFirstServer.store(true); }, 120, 1, 0},
        {"zero",
         [](SetIpTest& t) {
             t.ui.address = Ipv4Bytes{0, 0, 0, 0};
         },
         105, 23, 1},
        {"broadcast",
         [](SetIpTest& t) {
             t.ui.address = Ipv4Bytes{255, 255, 255, 255};
         },
         122, 27, 1},
        {"multicast",
         [](SetIpTest& t) {
             t.ui.address = Ipv4Bytes{224, 0, 0, 251};
         },
         145, 41, 1},
        {"reserved ending, cancelled",
         [](SetIpTest& t) {
             t.ui.address = Ipv4Bytes{10, 0, 0, 1};
             t.ui.answers[123] = MsgAnswer::Cancel;
         },
         123, 36, 4},
        {"the network's broadcast address, its ending confirmed",
         [](SetIpTest& t) {
             t.ui.address = Ipv4Bytes{10, 0, 255, 255};
             t.ui.answers[123] = MsgAnswer::Ok;
         },
         146, 42, 4},
        {"the network's own address",
         [](SetIpTest& t) {
             t.ui.address = Ipv4Bytes{10, 0, 0, 0};
         },
         146, 42, 4},
        {"nothing selected", [](SetIpTest& t) { t.ui.selected.reset(); }, 104, 28, 0},
        {"same address",
         [](SetIpTest& t) {
             t.table.SetAddress(0, "10.0.0.7");
             t.ui.address = Ipv4Bytes{10, 0, 0, 7};
         },
         124, 37, 4},
    };
    for (const auto& c : cases) {
        shared.stage.store(StageIdle);
        shared.awaitingFirstServer.store(false);
        ui.Clear();
        commands.calls.clear();
        c.arrange(*this);
        const auto outcome = Run();
        EXPECT_TRUE(outcome.refused) << c.name;
        EXPECT_EQ(outcome.refusingBox, c.box) << c.name;
        ASSERT_EQ(ui.boxes.size(), 1u) << c.name;
        EXPECT_EQ(ui.boxes[0].id, c.box) << c.name;
        EXPECT_EQ(ui.boxes[0].help, c.help) << c.name;
        EXPECT_EQ(help.Current(), 1) << c.name;
        EXPECT_EQ(ui.focused, c.focus ? std::vector<int>{c.focus} : std::vector<int>{}) << c.name;
        EXPECT_TRUE(commands.calls.empty()) << c.name;
        EXPECT_TRUE(probes.empty()) << c.name;
        EXPECT_EQ(shared.stage.load(), StageIdle) << c.name;
        probes.clear();
        table.SetAddress(0, "0.0.0.0");
    }
}

TEST_F(SetIpTest, ReservedEndingConfirmedGoesOn)
{
    ui.address = Ipv4Bytes{10, 0, 0, 255};
    ui.answers[123] = MsgAnswer::Ok;
    const auto outcome = Run();
    EXPECT_FALSE(outcome.refused);
    EXPECT_EQ(BoxIds(), (std::vector<int>{123, 107}));
    EXPECT_EQ(shared.desiredAddress, "10.0.0.255");
}

TEST_F(SetIpTest, AddressInUseStopsAfterOneValidatingWithoutHandingOver)
{
    addressInUse = true;
    const auto outcome = Run();
    EXPECT_TRUE(outcome.refused);
    EXPECT_EQ(outcome.refusingBox, 106);
    ASSERT_EQ(ui.validatingOpenedAt.size(), 1u);
    EXPECT_EQ(ui.validatingClosedAt[0] - ui.validatingOpenedAt[0], 4000);
    EXPECT_EQ(ui.boxes[0].help, 8);
    EXPECT_EQ(ui.focused, std::vector<int>{4});
    EXPECT_EQ(handedOverAt, -1) << "the stage must never have been 0";
    EXPECT_EQ(shared.stage.load(), StageIdle);
    EXPECT_FALSE(ui.waitCursor);
    EXPECT_TRUE(probes[0]->abandoned.load());
    EXPECT_EQ(commands.calls, std::vector<std::string>{"delete 10.0.0.5"});
}

TEST_F(SetIpTest, AnAddressNobodyCouldCheckIsNeverTakenForAFreeOne)
{
    struct Case {
        const char* name;
        std::int32_t unchecked;
        bool starts;
        MsgAnswer answer;
    };
    const auto notPermitted = static_cast<std::int32_t>(IcmpAnswer::NotPermitted);
    for (const Case& c : {Case{"not permitted, no", notPermitted, true, MsgAnswer::No},
                          Case{"not sent, no", static_cast<std::int32_t>(IcmpAnswer::NotSent), true, MsgAnswer::No},
                          Case{"no probe thread, no", 0, false, MsgAnswer::No},
                          Case{"not permitted, yes", notPermitted, true, MsgAnswer::Yes}}) {
        ui.Clear();
        probes.clear();
        handedOverAt = -1;
        firstProbeUnchecked = c.unchecked;
        firstProbeStarts = c.starts;
        ui.answers[144] = c.answer;
        const auto outcome = Run();
        ASSERT_FALSE(ui.boxes.empty()) << c.name;
        EXPECT_EQ(ui.boxes[0].id, 144) << c.name;
        EXPECT_EQ(ui.boxes[0].help, 40) << c.name;
        EXPECT_FALSE(ui.boxes[0].underWaitCursor) << c.name << ": a question is never asked under the wait cursor";
        EXPECT_EQ(help.Current(), 1) << c.name;
        if (c.answer == MsgAnswer::No) {
            EXPECT_TRUE(outcome.refused) << c.name;
            EXPECT_EQ(outcome.refusingBox, 144) << c.name;
            EXPECT_EQ(outcome.checkNotSent, c.unchecked != notPermitted) << c.name << ": not a permission matter";
            EXPECT_EQ(BoxIds(), std::vector<int>{144}) << c.name;
            EXPECT_EQ(ui.focused, std::vector<int>{4}) << c.name;
            EXPECT_EQ(handedOverAt, -1) << c.name << ": the stage must never have been 0";
            EXPECT_EQ(shared.stage.load(), StageIdle) << c.name;
        } else {
            EXPECT_FALSE(outcome.refused) << c.name;
            EXPECT_EQ(BoxIds(), (std::vector<int>{144, 107})) << c.name;
            EXPECT_GE(handedOverAt, 0) << c.name;
        }
    }
}

TEST_F(SetIpTest, NeighbourTableChangesThatFailAreLogged)
{
    test::TempDir folder;
    {
        CLogfile log(LogfilePath{(folder.path() / "set.log").string()});
        shared.logFile = &log;
        commands.neighbourTableWritable = false;
        Run();
        shared.logFile = nullptr;
    }
    const std::string line = test::EventLine(EvNeighbourTableFailed, "10.0.0.5");
    // Three "arp -d" of the command, and the fallback's "arp -s" and "arp -d".
    EXPECT_EQ(test::EventLines(folder.path() / "set.log"), std::vector<std::string>(5, line));
}

TEST_F(SetIpTest, NoRequestSeenWaits44SecondsThenTheArpMethodAndBox107)
{
    const auto outcome = Run();
    EXPECT_EQ(outcome.result, 0);
    ASSERT_EQ(ui.opened.size(), 2u);
    EXPECT_EQ(ui.opened[0].first, IDS_STAGE_WAITING);
    // Waiting... for 44 s (in 1.4 s cycles), the bar at 100 only at the end.
    EXPECT_GE(ui.closedAt[0] - ui.opened[0].second, 44000);
    EXPECT_LT(ui.closedAt[0] - ui.opened[0].second, 44000 + 1400 + 240 + 140);
    for (int t : ui.texts) EXPECT_EQ(t, IDS_STAGE_WAITING);
    EXPECT_EQ(ui.opened[1].first, IDS_STAGE_RETRYING);
    EXPECT_EQ(ui.closedAt[1] - ui.opened[1].second, 140 + 14000 + 240);
    const std::vector<int> progress(ui.bars.begin(), ui.bars.begin() + static_cast<long>(ui.texts.size()) + 1);
    EXPECT_TRUE(std::all_of(progress.begin(), progress.end(), [](int b) { return b < 100; }));

    EXPECT_EQ(commands.calls, (std::vector<std::string>{"delete 10.0.0.5", "delete 10.0.0.5", "ping -b 10.77.255.255",
                                                        "static 10.0.0.5 0A-1B-2C-00-00-AB 10.77.0.1", "ping 10.0.0.5",
                                                        "delete 10.0.0.5", "delete 10.0.0.5"}));
    EXPECT_EQ(BoxIds(), std::vector<int>{107});
    EXPECT_EQ(ui.boxes[0].help, 12);
    EXPECT_EQ(RowAddress(), "0.0.0.0");
    EXPECT_EQ(shared.stage.load(), StageIdle);
}

// The final check finds the address, but no store was confirmed (a
// server without a web server, say): it is set until the server restarts,
// never "permanently".
TEST_F(SetIpTest, FinalProbeAnswerWithoutAStoreIsBox109NeverBox110)
{
    finalProbeAnswers = true;
    schedule = {{1000, StageReplied}, {9400, StageRestarting}, {13800, StageVerifying}};
    const auto outcome = Run();
    EXPECT_EQ(outcome.result, 4);
    EXPECT_EQ(outcome.engineStage, 3);
    EXPECT_TRUE(outcome.finalAnswered);
    EXPECT_EQ(BoxIds(), (std::vector<int>{109, 111}));
    EXPECT_EQ(RowAddress(), "10.0.0.5");
}

TEST_F(SetIpTest, VerifiedButNotStoredIsBox109ThenTheBrowserOffer)
{
    schedule = {{1000, StageReplied}, {9400, StageRestarting}, {13800, StageVerifying}, {14500, StageVerified}};
    ui.answers[111] = MsgAnswer::Yes;
    const auto outcome = Run();
    EXPECT_EQ(outcome.result, 4);
    EXPECT_EQ(BoxIds(), (std::vector<int>{109, 111}));
    EXPECT_EQ(ui.boxes[0].help, 33);
    EXPECT_EQ(ui.boxes[1].help, 19);
    EXPECT_EQ(ui.browser, std::vector<std::string>{"10.0.0.5"});
    EXPECT_EQ(RowAddress(), "10.0.0.5");
    // Stage 4: only a ping, no hand-made neighbour entry.
    EXPECT_EQ(commands.calls[2], "ping 10.0.0.5");
    EXPECT_EQ(commands.calls.size(), 4u);
    EXPECT_EQ(help.Current(), 1);
}

TEST_F(SetIpTest, InkwellRegistrationClosesAndLeavesTheStage)
{
    inkwell = true;
    schedule = {{1000, StageVerified}};
    ui.answers[137] = MsgAnswer::Yes;
    const auto outcome = Run();
    EXPECT_EQ(outcome.result, 4);
    EXPECT_EQ(BoxIds(), (std::vector<int>{119, 137}));
    EXPECT_EQ(ui.registered, std::vector<std::string>{"10.0.0.5"});
    EXPECT_TRUE(ui.closed);
    EXPECT_TRUE(closing);
    EXPECT_EQ(shared.stage.load(), StageBusy) << "closing after registration does not go back to idle";
}

TEST_F(SetIpTest, UnverifiedStagesGiveBox108)
{
    schedule = {{1000, StageReplied}};
    const auto outcome = Run();
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(BoxIds(), std::vector<int>{108});
    EXPECT_EQ(ui.boxes[0].help, 32);
    EXPECT_EQ(RowAddress(), "0.0.0.0");
}

TEST_F(SetIpTest, JumpStraightToFiveStillShowsFourCyclesAndTheRetrying)
{
    schedule = {{100, StageStored}};
    const auto outcome = Run();
    EXPECT_EQ(outcome.result, 5);
    EXPECT_EQ(ui.texts, (std::vector<int>{IDS_STAGE_WAITING, IDS_STAGE_SETTING, IDS_STAGE_VERIFYING,
                                          IDS_STAGE_VERIFYING, IDS_STAGE_SAVING}));
    EXPECT_EQ(ui.closedAt[0] - ui.opened[0].second, 140 + 5 * 1400 + 240);
    // The retrying window is still shown for its 14 s, and 110 follows
    // whatever the final probe finds.
    EXPECT_EQ(ui.closedAt[1] - ui.opened[1].second, 140 + 14000 + 240);
    EXPECT_EQ(BoxIds(), (std::vector<int>{110, 111}));
    EXPECT_EQ(ui.boxes[0].help, 31);
}

TEST_F(SetIpTest, LongestRunIsAbout88SecondsWithTheBarFloors)
{
    // The server answers just before the 44 s deadline, and is verified just
    // before the 30 s one that follows.
    schedule = {{43000, StageReplied}, {44000, StageRestarting}, {45000, StageVerifying}, {72400, StageVerified}};
    const auto outcome = Run();
    EXPECT_EQ(outcome.result, 4);
    const std::int64_t length = ui.closedAt[0] - ui.opened[0].second;
    EXPECT_GT(length, 86000);
    EXPECT_LE(length, 89000);
    ASSERT_EQ(ui.bars.size(), ui.barTimes.size());
    // Once "Setting..." shows, the bar never falls below its floor of 44.
    const auto settingFrom = std::find(ui.texts.begin(), ui.texts.end(), IDS_STAGE_SETTING) - ui.texts.begin();
    for (std::size_t i = static_cast<std::size_t>(settingFrom) + 1; i < ui.texts.size(); ++i)
        EXPECT_GE(ui.bars[i + 1], 44) << "cycle " << i;
    EXPECT_TRUE(std::all_of(ui.bars.begin(), ui.bars.end(), [](int b) { return b >= 0 && b <= 100; }));
}

TEST(SetIpBar, FloorAndTimeRule)
{
    EXPECT_EQ(CSetIpCommand::BarPosition(0.0, 0), 0);
    EXPECT_EQ(CSetIpCommand::BarPosition(57.9, 44), 58);  // 44 + 14.475 = 58.475
    EXPECT_EQ(CSetIpCommand::BarPosition(80.0, 44), 80);
    EXPECT_EQ(CSetIpCommand::BarPosition(10.0, 72), 74);
    EXPECT_EQ(CSetIpCommand::BarPosition(140.0, 72), 100);
}

TEST(NetworkEdge, TheOwnAndBroadcastAddressOfEachNetworkHeard)
{
    const std::vector<NetworkInterface> here = {
        {"eth0", 2, "10.77.0.1", 24}, {"eth1", 3, "172.16.9.9", 20}, {"p2p", 4, "10.9.9.0", 31}, {"odd", 5, "", 8}};
    struct Case {
        Ipv4Bytes address;
        unsigned only;
        bool edge;
    };
    for (const Case& c :
         {Case{{10, 77, 0, 255}, 0, true}, Case{{10, 77, 0, 0}, 0, true}, Case{{10, 77, 0, 254}, 0, false},
          Case{{172, 16, 15, 255}, 0, true}, Case{{172, 16, 0, 0}, 0, true}, Case{{172, 16, 0, 255}, 0, false},
          Case{{10, 9, 9, 1}, 0, false}, Case{{10, 77, 0, 255}, 3, false}, Case{{172, 16, 15, 255}, 3, true}}) {
        EXPECT_EQ(IsNetworkEdge(c.address, here, c.only), c.edge) << FormatAddress(c.address) << " on " << c.only;
    }
    // Refused outright: --yes for the ending does not let it through.
    EXPECT_EQ(RefusingBoxHere({10, 77, 0, 255}, true, here, 0), IDS_NETWORK_EDGE_ADDRESS);
    EXPECT_EQ(RefusingBoxHere({10, 77, 0, 1}, false, here, 0), IDS_RESERVED_ENDING);
    EXPECT_EQ(RefusingBoxHere({10, 77, 0, 1}, true, here, 0), 0);
    EXPECT_EQ(RefusingBoxHere({255, 255, 255, 255}, true, here, 0), IDS_BROADCAST_ADDRESS);
}
