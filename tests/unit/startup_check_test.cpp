// The start-up check on virtual time: which message comes, with which help
// topic, whether the program is closed, and how soon a close ends the wait.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "tests/hook_clock.h"
#include "workers/startup_check.h"
#include "tests/test_clocks.h"

using tessel::testing::VirtualClock;

using namespace tessel;

namespace {

struct Shown {
    StartupMessage message;
    int help;
    std::int64_t atMs;
};

class RecordingWindow final : public StartupCheckWindow {
public:
    RecordingWindow(HelpContext& help, Clock& clock) : m_help(help), m_clock(clock) {}
    void ShowStartupMessage(StartupMessage message) override
    {
        shown.push_back({message, m_help.Current(), m_clock.NowMs()});
    }
    void CloseProgram() override { ++closes; }
    std::vector<Shown> shown;
    int closes = 0;

private:
    HelpContext& m_help;
    Clock& m_clock;
};

struct Case {
    const char* name;
    bool socketWorks;
    NetworkStart network;
    std::optional<std::int64_t> serverHeardAfterMs, stopAfterMs;
    std::optional<StartupMessage> message;
    int help;
    bool closes;
    std::int64_t endsAfterMs;  // time of the last sleep
};

}  // namespace

TEST(StartupCheck, MessagesHelpTopicsClosesAndEarlyEnd)
{
    const std::vector<Case> cases = {
        {"all well, a server heard", true, NetworkStart::Running, 5000, {}, {}, 0, false, 41600},
        {"no server in 40 s", true, NetworkStart::Running, {}, {}, StartupMessage::NoServerYet, 11, false, 41600},
        {"server heard just before the end", true, NetworkStart::Running, 41599, {}, {}, 0, false, 41600},
        {"no TCP/IP", false, NetworkStart::Running, {}, {}, StartupMessage::NoTcpIp, 1, true, 1600},
        {"port taken", true, NetworkStart::PortInUse, {}, {}, StartupMessage::PortInUse, 39, true, 1600},
        {"port not permitted",
         true,
         NetworkStart::PortNotPermitted,
         {},
         {},
         StartupMessage::PortNotPermitted,
         1,
         true,
         1600},
        // A close that comes first leaves the failed port to the close itself.
        {"closing before the check", true, NetworkStart::PortInUse, {}, 1000, {}, 0, false, 1200},
        {"closing within the 40 s", true, NetworkStart::Running, {}, 12345, {}, 0, false, 12600},
        {"closing in the last second", true, NetworkStart::Running, {}, 41000, {}, 0, false, 41600},
    };
    for (const Case& c : cases) {
        tessel::testing::HookClock clock;
        std::atomic<bool> stop{false}, awaiting{true};
        HelpContext help;
        RecordingWindow window(help, clock);
        const std::int64_t start = clock.NowMs();
        std::int64_t lastSleep = 0;
        clock.afterSleep = [&](std::int64_t now) {
            lastSleep = now - start;
            if (c.serverHeardAfterMs && lastSleep >= *c.serverHeardAfterMs) awaiting.store(false);
            if (c.stopAfterMs && lastSleep >= *c.stopAfterMs) stop.store(true);
        };
        StartupCheckEnv env{
            stop, awaiting, help, clock, window, [&] { return c.network; }, [&] { return c.socketWorks; }};
        EXPECT_EQ(StartupCheckThread(env), 0) << c.name;

        ASSERT_EQ(window.shown.size(), c.message ? 1u : 0u) << c.name;
        if (c.message) {
            EXPECT_EQ(window.shown[0].message, *c.message) << c.name;
            EXPECT_EQ(window.shown[0].help, c.help) << c.name;
        }
        EXPECT_EQ(window.closes, c.closes ? 1 : 0) << c.name;
        EXPECT_EQ(help.Current(), 1) << c.name;
        EXPECT_EQ(lastSleep, c.endsAfterMs) << c.name;
        // A close ends the check within a second.
        if (c.stopAfterMs) {
            EXPECT_LE(lastSleep - *c.stopAfterMs, 1000) << c.name;
        }
    }
}

TEST(StartupCheck, RunsOnItsOwnThreadAndJoinsAfterAStop)
{
    VirtualClock clock;
    std::atomic<bool> stop{true}, awaiting{true};
    HelpContext help;
    RecordingWindow window(help, clock);
    {
        StartupCheck check(StartupCheckEnv{stop, awaiting, help, clock, window, {}, [] { return true; }});
        check.Start();
        check.Join();
        EXPECT_TRUE(check.Finished());
    }
    EXPECT_TRUE(window.shown.empty());
    EXPECT_EQ(clock.SleptMs(), 400);
}
