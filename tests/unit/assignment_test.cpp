// The assignment procedure inside the receive loop, with scripted workers
// and virtual time: stages, events, the reply on the wire, the schedule.
#include "network_fixture.h"

#include <algorithm>
#include <functional>

#include "engine/assignment_procedure.h"
#include "recording_commands.h"
#include "workers/hand_over.h"
#include "tests/test_clocks.h"

using tessel::testing::VirtualClock;

using namespace tessel;
using namespace tessel::testing;

namespace {

// Calls a hook on chosen sleeps, to make things happen "during" a wait.
class HookedClock final : public Clock {
public:
    explicit HookedClock(VirtualClock& inner) : m_inner(inner) {}
    std::int64_t NowMs() override { return m_inner.NowMs(); }
    void SleepMs(std::int64_t ms) override
    {
        if (onSleep) onSleep(ms);
        m_inner.SleepMs(ms);
    }
    std::function<void(std::int64_t)> onSleep;

private:
    VirtualClock& m_inner;
};

class ScriptedWorkers final : public AssignmentWorkers {
public:
    enum class Answer { AtOnce, Never };
    Answer port = Answer::AtOnce;
    Answer http = Answer::AtOnce;
    bool ftpStores = false;

    bool StartPortProbe(std::shared_ptr<ProbeRequest> request) override
    {
        probes.push_back(request);
        if (port == Answer::AtOnce) request->Report(1);
        return true;
    }
    bool StartHttpStore(std::shared_ptr<StoreRequest> request) override
    {
        stores.push_back(request);
        if (http == Answer::AtOnce) request->Report(1);
        return true;
    }
    void StoreOverFtp(const std::string& address, const std::shared_ptr<InternetSession>&, SharedState& shared) override
    {
        ftpAddresses.push_back(address);
        if (ftpStores) SetStage(shared, StageStored);
    }
    std::vector<std::shared_ptr<ProbeRequest>> probes;
    std::vector<std::shared_ptr<StoreRequest>> stores;
    std::vector<std::string> ftpAddresses;
};


const char* const kChosen = "0A-1B-2C-00-00-AB";

class AssignmentBed : public NetworkBed {
protected:
    void SetUp() override
    {
        NetworkBed::SetUp();
        shared.clock = &hooked;
        procedureUnderTest = &assignment;
    }

    RequestShape ChosenRequest(std::array<std::uint8_t, 4> source = {0, 0, 0, 0})
    {
        RequestShape shape;
        shape.mac = {0x0A, 0x1B, 0x2C, 0x00, 0x00, 0xAB};
        shape.source = source;
        shape.port = 68;
        return shape;
    }

    // Starts the thread, lets the note pass, hands the job over and sends
    // the chosen server's request; returns the virtual time of the hand-over.
    std::int64_t HandOverAndRequest(std::array<std::uint8_t, 4> source = {0, 0, 0, 0})
    {
        Start();
        Idle();
        Choose(kChosen, "10.0.0.5", StageAwaitRequest);
        const std::int64_t at = clock.NowMs();
        channel->PushRequest(ChosenRequest(source));
        Idle();
        return at;
    }

    // The log lines from the chosen server's request on.
    std::vector<std::string> ProcedureLines()
    {
        auto lines = LogLines();
        auto first = std::find(lines.begin(), lines.end(), "Request from the selected server.");
        auto last = std::find(first, lines.end(), "");
        return {first, last};
    }

    HookedClock hooked{clock};
    ScriptedWorkers workers;
    RecordingCommands commands;
    AddressAssignment assignment{workers, commands};
};

}  // namespace

TEST_F(AssignmentBed, StoredOverHttpOnTheFixedSchedule)
{
    const std::int64_t start = HandOverAndRequest();
    EXPECT_EQ(shared.stage.load(), StageStored);
    // 140 ms listing pause, 8.4 s + 4.4 s restart, one poll each for the
    // port probe and the store.
    EXPECT_EQ(clock.NowMs() - start, 140 + 8400 + 4400 + 140 + 140);

    ASSERT_EQ(channel->replies.size(), 1u);
    const auto& reply = channel->replies[0];
    ASSERT_EQ(reply.size(), 512u);
    EXPECT_EQ(reply[0], 2);
    EXPECT_EQ((std::vector<std::uint8_t>(reply.begin() + 16, reply.begin() + 24)),
              (std::vector<std::uint8_t>{10, 0, 0, 5, 10, 77, 0, 1}));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&reply[44])), "install-pc");
    EXPECT_EQ(commands.calls, (std::vector<std::string>{"delete 0.0.0.0"}));
    EXPECT_TRUE(workers.ftpAddresses.empty());
    ASSERT_EQ(workers.stores.size(), 1u);
    EXPECT_EQ(workers.stores[0]->address, "10.0.0.5");

    EXPECT_EQ(ProcedureLines(), (std::vector<std::string>{
                                    "Request from the selected server.",
                                    "Send reply using broadcast (because no IP-address yet).",
                                    "Sent BOOTP/DHCP reply with desired IP-address 10.0.0.5.",
                                    "Waiting for server to restart.",
                                    "Wait for server restart finished.",
                                    "Checking if temporary IP-setting was set using HTTP/ICMP.",
                                    "Checking if temporary IP-setting was set finished.",
                                    "Success setting temporary IP-address 10.0.0.5.",
                                    "Trying to set permanent IP-address using HTTP started.",
                                    "Trying to set permanent IP-address using HTTP finished.",
                                    "Success setting permanent IP-address 10.0.0.5.",
                                }));
}

TEST_F(AssignmentBed, ServerWithAnAddressIsAnsweredByBroadcastWithoutTheBroadcastEvent)
{
    HandOverAndRequest({10, 77, 0, 44});
    EXPECT_EQ(channel->replies.size(), 1u);
    EXPECT_EQ(commands.calls, (std::vector<std::string>{"delete 10.77.0.44"}));
    const auto lines = ProcedureLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Send reply using broadcast (because no IP-address yet)."), 0);
}

TEST_F(AssignmentBed, FactoryDefaultSourceWritesTheBroadcastEvent)
{
    HandOverAndRequest({198, 51, 100, 80});
    const auto lines = ProcedureLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], "Send reply using broadcast (because no IP-address yet).");
}

TEST_F(AssignmentBed, FailedSendStaysAtOneWithoutWaiting)
{
    Start();
    Idle();
    channel->sendSucceeds = false;
    commands.neighbourTableWritable = false;
    Choose(kChosen, "10.0.0.5", StageAwaitRequest);
    const std::int64_t start = clock.NowMs();
    channel->PushRequest(ChosenRequest());
    Idle();
    EXPECT_EQ(shared.stage.load(), StageReplied);
    EXPECT_EQ(clock.NowMs() - start, 140);
    EXPECT_EQ(commands.calls.size(), 1u) << "the old entry is removed whether or not the send worked";
    const auto lines = ProcedureLines();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.end()),
              (std::vector<std::string>{
                  "Sent BOOTP/DHCP reply with desired IP-address 10.0.0.5.", "Waiting for server to restart.",
                  "ARP table entry could not be changed for IP-address 0.0.0.0.", "However transmission failed."}));
}

TEST_F(AssignmentBed, NoAnswerOnPort80StaysAtThreeAndTheNextRequestStartsAgain)
{
    workers.port = ScriptedWorkers::Answer::Never;
    const std::int64_t start = HandOverAndRequest();
    EXPECT_EQ(shared.stage.load(), StageVerifying);
    EXPECT_EQ(clock.NowMs() - start, 140 + 8400 + 4400 + 60 * 140);
    EXPECT_TRUE(workers.stores.empty());
    ASSERT_EQ(workers.probes.size(), 1u);
    EXPECT_TRUE(workers.probes[0]->abandoned.load());

    // A request queued meanwhile runs the whole procedure again; this time
    // the server answers, and the first run's late probe cannot confuse it.
    workers.port = ScriptedWorkers::Answer::AtOnce;
    channel->PushRequest(ChosenRequest());
    Idle();
    EXPECT_EQ(channel->replies.size(), 2u);
    EXPECT_EQ(shared.stage.load(), StageStored);
    EXPECT_FALSE(workers.probes[0]->Report(1)) << "a late probe may not write into its abandoned record";
    EXPECT_EQ(workers.probes[0]->result.load(), 0);
    EXPECT_EQ(workers.probes[1]->result.load(), 1);
}

TEST_F(AssignmentBed, UnconfirmedHttpStoreFallsBackToFtp)
{
    workers.http = ScriptedWorkers::Answer::Never;
    workers.ftpStores = true;
    const std::int64_t start = HandOverAndRequest();
    EXPECT_EQ(clock.NowMs() - start, 140 + 8400 + 4400 + 140 + 20 * 140);
    EXPECT_EQ(workers.ftpAddresses, (std::vector<std::string>{"10.0.0.5"}));
    EXPECT_EQ(shared.stage.load(), StageStored);
    const auto lines = ProcedureLines();
    EXPECT_EQ(lines.back(), "Trying to set permanent IP-address using HTTP finished.");
}

TEST_F(AssignmentBed, BothStoresFailingLeavesFour)
{
    workers.http = ScriptedWorkers::Answer::Never;
    HandOverAndRequest();
    EXPECT_EQ(shared.stage.load(), StageVerified);
    // At 4 the chosen server is no longer answered.
    channel->PushRequest(ChosenRequest());
    Idle();
    EXPECT_EQ(channel->replies.size(), 1u);
}

TEST_F(AssignmentBed, StopBeforeTheSendEndsTheThreadWithoutAReply)
{
    Start();
    Idle();
    Choose(kChosen, "10.0.0.5", StageAwaitRequest);
    // The stop arrives during the listing pause, after loop step 4.
    hooked.onSleep = [this](std::int64_t ms) {
        if (ms == 140) shared.stopRequested.store(true);
    };
    channel->PushRequest(ChosenRequest());
    ASSERT_TRUE(thread->WakeAndJoin(5000));
    EXPECT_TRUE(channel->replies.empty());
    thread.reset();
    const auto lines = LogLines();
    const auto request = std::find(lines.begin(), lines.end(), "Request from the selected server.");
    ASSERT_NE(request, lines.end());
    EXPECT_EQ(*(request + 2), "All network threads were closed nicely.");
}

// The program stops as the window's close does: the stop flag and the idle
// stage together, under the lock. A procedure in its restart wait or its
// verification then stores nothing: the stage it would raise next is no
// longer its job's, so it goes back to the loop, which ends the thread.
class StopBed : public AssignmentBed {
protected:
    // Stops during the nth wait of waitMs (the first 140 ms one is the
    // listing pause; the verification polls in 140 ms steps after it).
    void StopDuring(std::int64_t waitMs, int nth, const char* lastEventBeforeStop)
    {
        workers.http = ScriptedWorkers::Answer::Never;
        Start();
        Idle();
        Choose(kChosen, "10.0.0.5", StageAwaitRequest);
        hooked.onSleep = [this, waitMs, nth, seen = 0](std::int64_t ms) mutable {
            if (ms == waitMs && ++seen == nth) thread->RequestStop();
        };
        channel->PushRequest(ChosenRequest());
        ASSERT_TRUE(thread->WakeAndJoin(5000));
        EXPECT_EQ(shared.stage.load(), StageIdle);
        EXPECT_TRUE(workers.stores.empty());
        EXPECT_TRUE(workers.ftpAddresses.empty());
        thread.reset();
        const auto lines = LogLines();
        const auto last = std::find(lines.begin(), lines.end(), lastEventBeforeStop);
        ASSERT_NE(last, lines.end());
        EXPECT_EQ(*(last + 1), "All network threads were closed nicely.");
    }
};

TEST_F(StopBed, DuringTheRestartWaitNothingIsStored)
{
    StopDuring(8400, 1, "Waiting for server to restart.");
}

TEST_F(StopBed, DuringTheVerificationNothingIsStored)
{
    StopDuring(140, 2, "Checking if temporary IP-setting was set finished.");
}

TEST_F(AssignmentBed, AJobEndedByTheWindowIsNotTakenBackByARunningProcedure)
{
    Start();
    Idle();
    Choose(kChosen, "10.0.0.5", StageAwaitRequest);
    // The window's progress ran out and it ended the job during the restart wait.
    hooked.onSleep = [this](std::int64_t ms) {
        if (ms == 8400) SetStage(shared, StageBusy);
    };
    channel->PushRequest(ChosenRequest());
    Idle();
    EXPECT_EQ(shared.stage.load(), StageBusy);
    EXPECT_TRUE(workers.probes.empty()) << "the run ends at the next stage it would have set";
    EXPECT_EQ(channel->replies.size(), 1u);

    // Back at idle, the server's next request is listed as usual again.
    SetStage(shared, StageIdle);
    EXPECT_FALSE(RaiseStage(shared, StageVerified));
    EXPECT_EQ(shared.stage.load(), StageIdle);
}

// The reply's own address: the start's, or (serve) the arrival interface's
// as it is when the reply is made, the start's when that one has none.
TEST(ReplyOwnAddress, TheArrivalInterfacesAddressReadAtTheReply)
{
    const std::vector<NetworkInterface> now{
        {"lo", 1, "127.0.0.1", 8}, {"eth0", 7, "10.77.0.9", 24}, {"eth1", 9, "", -1}};
    struct Case {
        bool ofArrival;
        int arrival;
        const char* own;
    } cases[] = {
        {false, 7, "10.77.0.1"}, {true, 7, "10.77.0.9"}, {true, 9, "10.77.0.1"},
        {true, 4, "10.77.0.1"},  {true, 0, "10.77.0.1"},
    };
    for (const Case& c : cases) {
        SharedState shared;
        shared.hostAddress = "10.77.0.1";
        shared.ownAddressOfArrival = c.ofArrival;
        BootpMessage request;
        request.interfaceIndex = c.arrival;
        EXPECT_EQ(ReplyOwnAddress(shared, request, now), c.own) << c.ofArrival << " " << c.arrival;
    }
}
