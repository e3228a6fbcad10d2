// Jobs for several servers at once: the network thread hands each request
// to its own server's job only, never to a job whose procedure still runs,
// and goes on receiving and listing meanwhile; the jobs' procedures run on
// threads of their own (the thread sanitizer runs this test).
#include "network_fixture.h"

#include <system_error>

#include "engine/assignment_procedure.h"
#include "engine/bootp.h"
#include "engine/job_board.h"
#include "log/events.h"
#include "recording_commands.h"
#include "tests/test_clocks.h"

using tessel::testing::VirtualClock;

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

namespace {

// Jobs on virtual time whose procedures run at once on the calling thread:
// Route's choice is seen at the moment it is made.
struct InlineBoard {
    InlineBoard()
        : board(host, [this](std::function<void()> run) {
              if (refuseThreads)
                  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
              run();
          })
    {
        host.clock = &clock;
        host.hostName = "install-pc";
        host.hostAddress = "10.77.0.1";
    }
    VirtualClock clock;
    SharedState host;
    bool refuseThreads = false;
    JobBoard board;
};

BootpMessage Request(std::uint8_t last)
{
    BootpMessage message;
    const auto bytes = BuildRequest(Server(last));
    std::copy(bytes.begin(), bytes.end(), message.buffer.begin());
    message.length = bytes.size();
    message.hasSource = true;
    message.sourcePort = 68;
    return message;
}

}  // namespace

// A request goes to the waiting job whose chosen server has its serial,
// never to another waiting job: an unlisted or other server would be given
// a planned server's address.
TEST(JobBoardRoute, ARequestGoesOnlyToTheJobOfItsOwnSerial)
{
    struct Case {
        const char* serial;
        int job;  // 0 or 1: the job that must get it; -1: none
    };
    for (const Case c : {Case{"0A-1B-2C-00-00-01", 0}, Case{"0A-1B-2C-00-00-02", 1}, Case{"0A-1B-2C-00-00-03", -1},
                         Case{"0A-1B-2D-00-00-01", -1}}) {
        InlineBoard bed;
        RecordingProcedure procedure;
        ScriptedChannel channel;
        const auto first = bed.board.Add("0A-1B-2C-00-00-01", "0.0.0.0");
        const auto second = bed.board.Add("0A-1B-2C-00-00-02", "0.0.0.0");
        Hand(*first, "10.0.0.11", StageAwaitRequest);
        Hand(*second, "10.0.0.12", StageAwaitRequest);
        const bool routed = bed.board.Route(c.serial, Request(1), procedure, channel, nullptr);
        EXPECT_EQ(routed, c.job >= 0) << c.serial;
        if (c.job < 0) {
            EXPECT_TRUE(procedure.calls.empty()) << c.serial;
            continue;
        }
        ASSERT_EQ(procedure.calls.size(), 1u) << c.serial;
        EXPECT_EQ(procedure.calls[0].serial, c.serial);
        EXPECT_EQ(procedure.calls[0].desired, c.job == 0 ? "10.0.0.11" : "10.0.0.12") << c.serial;
    }
}

// No thread to be had: the request goes unanswered, nothing is left marked
// as running, and the server's next request is handed over as usual.
TEST(JobBoardRoute, ARefusedThreadLeavesTheJobWaitingForTheNextRequest)
{
    InlineBoard bed;
    RecordingProcedure procedure;
    ScriptedChannel channel;
    const auto job = bed.board.Add("0A-1B-2C-00-00-01", "0.0.0.0");
    Hand(*job, "10.0.0.11", StageAwaitRequest);
    bed.refuseThreads = true;
    EXPECT_FALSE(bed.board.Route("0A-1B-2C-00-00-01", Request(1), procedure, channel, nullptr));
    EXPECT_FALSE(job->running.load());
    bed.refuseThreads = false;
    EXPECT_TRUE(bed.board.Route("0A-1B-2C-00-00-01", Request(1), procedure, channel, nullptr));
    EXPECT_EQ(procedure.calls.size(), 1u);
}

namespace {

// The reply to one server cannot be sent; every other goes out.
class FailingFor final : public BootpChannel {
public:
    explicit FailingFor(std::uint8_t last) : m_last(last) {}
    OpenResult Open() override { return OpenResult::Ok; }
    ReceiveStatus Receive(BootpMessage&) override { return ReceiveStatus::Closed; }
    bool SendReply(std::span<const std::uint8_t>, const BootpMessage& request) override
    {
        return request.buffer[bootp::kChaddr + 5] != m_last;
    }
    bool HasPending() override { return false; }
    void Wake() override {}
    void Close() override {}

private:
    std::uint8_t m_last;
};

// No server answers at its new address.
class SilentWorkers final : public AssignmentWorkers {
public:
    bool StartPortProbe(std::shared_ptr<ProbeRequest>) override { return true; }
    bool StartHttpStore(std::shared_ptr<StoreRequest>) override { return true; }
    void StoreOverFtp(const std::string&, const std::shared_ptr<InternetSession>&, SharedState&) override {}
};

}  // namespace

// Two jobs of a plan run fail differently in the one logfile: the reply to
// the first cannot be sent, the second is never found at its address. Each
// failure stands under its own server; the host's own lines (those of the
// window and of set) stay as they are.
TEST(JobBoardLog, EachJobsLinesNameItsServer)
{
    const std::string path = ::testing::TempDir() + "tessel-jobs-" + std::to_string(::getpid()) + ".log";
    {
        CLogfile log(LogfilePath{path});
        InlineBoard bed;
        bed.host.logFile = &log;
        JobBoard board(bed.host, [](std::function<void()> run) { run(); });
        FailingFor channel(1);
        SilentWorkers workers;
        RecordingCommands commands;
        AddressAssignment procedure(workers, commands);
        const auto first = board.Add("0A-1B-2C-00-00-01", "0.0.0.0");
        const auto second = board.Add("0A-1B-2C-00-00-02", "0.0.0.0");
        Hand(*first, "10.0.0.11", StageAwaitRequest);
        Hand(*second, "10.0.0.12", StageAwaitRequest);
        LogEvent(&log, EvSerialNumber, "0A-1B-2C-00-00-01");
        ASSERT_TRUE(board.Route("0A-1B-2C-00-00-01", Request(1), procedure, channel, nullptr));
        ASSERT_TRUE(board.Route("0A-1B-2C-00-00-02", Request(2), procedure, channel, nullptr));
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (line.size() > 11) lines.push_back(line.substr(11, line.size() - 12));  // no time, no CR
    std::remove(path.c_str());
    auto has = [&lines](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
    EXPECT_TRUE(has("Serialnumber 0A-1B-2C-00-00-01.")) << "a line of the host's own is unchanged";
    EXPECT_TRUE(has("[0A-1B-2C-00-00-01] However transmission failed."));
    EXPECT_TRUE(has("[0A-1B-2C-00-00-02] Sent BOOTP/DHCP reply with desired IP-address 10.0.0.12."));
    EXPECT_TRUE(has("[0A-1B-2C-00-00-02] Checking if temporary IP-setting was set finished."));
    EXPECT_FALSE(has("[0A-1B-2C-00-00-02] However transmission failed."));
    EXPECT_FALSE(has("[0A-1B-2C-00-00-01] Checking if temporary IP-setting was set finished."));
    for (const std::string& line : lines) {
        if (line.find("transmission") != std::string::npos || line.find("Checking if temporary") != std::string::npos) {
            EXPECT_EQ(line[0], '[') << "a job's line without its server: " << line;
        }
    }
}
