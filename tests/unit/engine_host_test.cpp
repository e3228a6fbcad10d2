// The engine host's bounded stop: a network thread that is still inside an
// assignment when the front end goes must find everything it uses alive.
// The address-sanitizer build turns a use after free here into a failure.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

#include "engine/engine_host.h"
#include "log/events.h"
#include "log/logfile.h"
#include "network_fixture.h"
#include "tests/test_clocks.h"

using tessel::testing::VirtualClock;

namespace tessel::testing {
namespace {

// Holds the network thread inside the procedure until the test lets go,
// then does what a finishing procedure does: logs and raises the stage.
class HeldProcedure final : public AssignmentProcedure {
public:
    explicit HeldProcedure(std::shared_future<void> release, std::promise<void>& entered, std::promise<void>& left)
        : m_release(std::move(release)), m_entered(entered), m_left(left)
    {}
    AssignmentEnd Run(AssignmentContext& context, BootpMessage&, const std::string&, const std::string&) override
    {
        m_entered.set_value();
        m_release.wait();
        context.shared.logFile->WriteEvent(EvPermanentSuccess);
        RaiseStage(context.shared, StageStored);
        m_left.set_value();
        return AssignmentEnd::BackToListening;
    }

private:
    std::shared_future<void> m_release;
    std::promise<void>& m_entered;
    std::promise<void>& m_left;
};

struct HostBed {
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("tessel-host-" + std::to_string(::getpid()) + "-" +
                                                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    VirtualClock clock;
    ScriptedChannel* channel = nullptr;

    std::unique_ptr<EngineHost> Make(std::unique_ptr<AssignmentProcedure> procedure)
    {
        std::filesystem::create_directories(dir);
        EngineSetup setup;
        setup.logfile = std::make_unique<CLogfile>(LogfilePath{(dir / "Tessel.log").string()});
        setup.hostName = std::string(150, 'h');
        setup.hostAddress = "10.77.0.1";
        setup.clock = &clock;
        setup.procedure = std::move(procedure);
        auto owned = std::make_unique<ScriptedChannel>();
        channel = owned.get();
        setup.channel = std::move(owned);
        return std::make_unique<EngineHost>(std::move(setup));
    }
    std::string Log() const
    {
        std::ifstream in(dir / "Tessel.log", std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    ~HostBed() { std::filesystem::remove_all(dir); }
};

TEST(EngineHost, FillsTheBlockBeforeTheThreadStartsAndStopsAnIdleThreadAtOnce)
{
    HostBed bed;
    auto host = bed.Make(nullptr);
    const SharedState& s = host->Shared();
    EXPECT_EQ(s.stage.load(), StageIdle);
    EXPECT_TRUE(s.awaitingFirstServer.load());
    EXPECT_EQ(std::string(s.hostName).size(), kHostNameMax);  // the window's 100-character buffer
    EXPECT_EQ(s.hostAddress, "10.77.0.1");
    EXPECT_EQ(s.serverList, &host->Table());
    EXPECT_EQ(s.onlyMerrow->load(), 1);
    host->Start();
    ASSERT_TRUE(host->WaitUntilListening());
    ASSERT_TRUE(bed.channel->WaitUntilIdle());
    EXPECT_TRUE(host->Stop(5000));
    EXPECT_TRUE(s.stopRequested.load());
    host->CloseLogfile();
    host.reset();
    EXPECT_NE(bed.Log().find("Closed MERROW Tessel's logfile!\r\n"), std::string::npos);
}

TEST(EngineHost, AThreadStillInsideAnAssignmentOutlivesTheHostSafely)
{
    HostBed bed;
    std::promise<void> release, entered, left;
    auto host = bed.Make(std::make_unique<HeldProcedure>(release.get_future().share(), entered, left));
    host->Start();
    ASSERT_TRUE(host->WaitUntilListening());
    ASSERT_TRUE(bed.channel->WaitUntilIdle());
    {
        std::lock_guard<std::mutex> guard(host->Shared().stateLock);
        host->Shared().chosenSerial = "0A-1B-2C-00-00-01";
        host->Shared().desiredAddress = "10.77.0.50";
        host->Shared().stage.store(StageAwaitRequest);
    }
    bed.channel->PushRequest(RequestShape{});
    ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);

    EXPECT_FALSE(host->Stop(50));  // bounded: the thread is busy
    host->CloseLogfile();
    host.reset();  // the front end goes; the thread must not notice
    release.set_value();
    ASSERT_EQ(left.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    // The late line was dropped after the closing line, not written after it.
    const std::string log = bed.Log(), closing = "Closed MERROW Tessel's logfile!\r\n";
    EXPECT_EQ(log.rfind(closing) + closing.size(), log.size());
}

}  // namespace
}  // namespace tessel::testing
