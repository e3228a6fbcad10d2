// Jobs for several servers at once: the network thread hands each request
// to its own server's job only, never to a job whose procedure still runs,
// and goes on receiving and listing meanwhile; the jobs' procedures run on
// threads of their own (the thread sanitizer runs this test).
#include "network_fixture.h"

#include "engine/job_board.h"

using namespace tessel;
using namespace tessel::testing;

namespace {

// Holds every run until released, as a real procedure holds its job for
// the restart wait.
class GatedProcedure final : public AssignmentProcedure {
public:
    struct Call {
        std::string serial, desired;
        const SharedState* block;
    };
    AssignmentEnd Run(AssignmentContext& context, BootpMessage&, const std::string& serial,
                      const std::string& desired) override
    {
        std::unique_lock<std::mutex> lock(m_lock);
        calls.push_back({serial, desired, &context.shared});
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_open; });
        return AssignmentEnd::BackToListening;
    }
    bool WaitForCalls(std::size_t n)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return calls.size() >= n; });
    }
    std::vector<Call> Calls()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return calls;
    }
    void Open()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_open = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_open = false;
    std::vector<Call> calls;
};

RequestShape Server(std::uint8_t last)
{
    RequestShape shape;
    shape.mac = {0x0A, 0x1B, 0x2C, 0x00, 0x00, last};
    return shape;
}

void Hand(JobBoard::Job& job, const std::string& desired, std::int32_t stage)
{
    std::lock_guard<std::mutex> guard(job.shared.stateLock);
    job.shared.chosenSerial = job.table.Rows()[0].serial;
    job.shared.desiredAddress = desired;
    job.shared.stage.store(stage);
}

}  // namespace

TEST_F(NetworkBed, EachJobGetsOnlyItsOwnServersRequestsOneRunAtATime)
{
    GatedProcedure gated;
    procedureUnderTest = &gated;
    JobBoard board(shared);
    shared.jobs = &board;
    auto waiting = board.Add("0A-1B-2C-00-00-01", "0.0.0.0");
    auto verifying = board.Add("0A-1B-2C-00-00-02", "10.77.0.20");
    auto verified = board.Add("0A-1B-2C-00-00-03", "0.0.0.0");
    auto idle = board.Add("0A-1B-2C-00-00-04", "0.0.0.0");
    Hand(*waiting, "10.0.0.11", StageAwaitRequest);
    Hand(*verifying, "10.0.0.12", StageVerifying);
    Hand(*verified, "10.0.0.13", StageVerified);
    Start();
    // The same server asks twice while its job's procedure runs: one run.
    channel->PushRequests({Server(1), Server(2), Server(3), Server(4), Server(5), Server(1)});
    ASSERT_TRUE(gated.WaitForCalls(2));
    Idle();
    auto calls = gated.Calls();
    ASSERT_EQ(calls.size(), 2u);
    // Each run is on a thread of its own: they record in either order.
    std::sort(calls.begin(), calls.end(), [](const auto& a, const auto& b) { return a.serial < b.serial; });
    EXPECT_EQ(calls[0].serial, "0A-1B-2C-00-00-01");
    EXPECT_EQ(calls[0].desired, "10.0.0.11");
    EXPECT_EQ(calls[0].block, &waiting->shared) << "a job's procedure works on the job's own block";
    EXPECT_EQ(calls[1].serial, "0A-1B-2C-00-00-02");
    EXPECT_EQ(calls[1].block, &verifying->shared);
    EXPECT_EQ(table.Count(), 5) << "every server is still listed while jobs run";
    EXPECT_EQ(shared.stage.load(), StageIdle) << "the host's own stage is never a job's";

    // Once its run has ended the job's server is answered again, as the
    // window's job is when the server keeps asking.
    gated.Open();
    board.Join();
    channel->PushRequest(Server(1));
    ASSERT_TRUE(gated.WaitForCalls(3));
    EXPECT_EQ(gated.Calls()[2].block, &waiting->shared);

    // The stop reaches every job's block under its own lock.
    Stop();
    for (const auto& job : {waiting, verifying, verified, idle}) {
        EXPECT_TRUE(job->shared.stopRequested.load());
        EXPECT_EQ(job->shared.stage.load(), StageIdle);
        EXPECT_FALSE(job->procedure.joinable()) << "the network thread joined every run before it ended";
    }
    shared.jobs = nullptr;
}

TEST_F(NetworkBed, WithAChosenInterfaceOnlyItsRequestsAreHeardTheOthersCounted)
{
    shared.onlyInterface = 3;
    Start();
    RequestShape here = Server(1), there = Server(2), unknown = Server(3);
    here.interfaceIndex = 3;
    there.interfaceIndex = 2;
    channel->PushRequests({there, here, unknown, there});
    Idle();
    EXPECT_EQ(Servers(), (std::vector<std::pair<std::string, std::string>>{{"0A-1B-2C-00-00-01", "0.0.0.0"}}));
    EXPECT_EQ(shared.otherInterfaceRequests.load(), 3) << "an unknown arrival is not the chosen interface";
    const auto lines = LogLines();
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("Serialnumber", 0) == 0; }),
        1)
        << "requests on other interfaces leave no line";
}
