// The receive step with several jobs waiting: whole datagrams through the
// network thread's loop (on the calling thread, virtual time, each job's
// procedure run at once), with three jobs at stages the input chooses.
// Invariants: a reply goes only to a job's own server, only for its planned
// address, and only for a job that waited for it; the host's table stays
// sorted and unique; every logfile line is whole.
//
// Input: byte 0 chooses the jobs' stages (two bits each), byte 1 what the
// port probe and the web form answer; then datagrams, each a two-byte
// length (big-endian, cut to 2048) and its bytes.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "engine/assignment_procedure.h"
#include "engine/bootp.h"
#include "engine/ipaddress.h"
#include "engine/job_board.h"
#include "engine/network_thread.h"
#include "engine/server_table.h"
#include "log/logfile.h"
#include "platform/clock.h"
#include "tests/fuzz/fuzz_require.h"
#include "tests/unit/recording_commands.h"
#include "workers/hand_over.h"
#include "tests/test_clocks.h"

using tessel::testing::VirtualClock;

using namespace tessel;
using tessel::fuzz::Require;

namespace {

constexpr const char* kSerials[] = {"0A-1B-2C-00-00-01", "0A-1B-2C-00-00-02", "0A-1B-2D-00-00-03"};
constexpr const char* kPlanned[] = {"10.0.0.11", "10.0.0.12", "10.0.0.13"};
constexpr std::int32_t kStages[] = {StageIdle, StageAwaitRequest, StageVerifying, StageVerified};

// Hands the input's datagrams over one by one; the stop follows the last.
class InputChannel final : public BootpChannel {
public:
    InputChannel(std::deque<std::vector<std::uint8_t>> datagrams, SharedState& host)
        : m_datagrams(std::move(datagrams)), m_host(host)
    {}
    OpenResult Open() override { return OpenResult::Ok; }
    ReceiveStatus Receive(BootpMessage& message) override
    {
        message.Clear();
        if (m_datagrams.empty()) {
            RequestStop(m_host);
            return ReceiveStatus::Closed;
        }
        const std::vector<std::uint8_t> d = std::move(m_datagrams.front());
        m_datagrams.pop_front();
        std::copy(d.begin(), d.end(), message.buffer.begin());
        message.length = d.size();
        message.hasSource = true;
        message.sourcePort = 68;
        lastRequest = d;
        return d.empty() ? ReceiveStatus::Closed : ReceiveStatus::Ok;
    }
    bool SendReply(std::span<const std::uint8_t> reply, const BootpMessage&) override
    {
        replies.emplace_back(reply.begin(), reply.end());
        requestsReplied.push_back(lastRequest);
        return true;
    }
    bool HasPending() override { return !m_datagrams.empty(); }
    void Wake() override {}
    void Close() override {}

    std::vector<std::vector<std::uint8_t>> replies, requestsReplied;
    std::vector<std::uint8_t> lastRequest;

private:
    std::deque<std::vector<std::uint8_t>> m_datagrams;
    SharedState& m_host;
};

class InputWorkers final : public AssignmentWorkers {
public:
    explicit InputWorkers(std::uint8_t answers) : m_answers(answers) {}
    bool StartPortProbe(std::shared_ptr<ProbeRequest> request) override
    {
        if (m_answers & 1) request->Report(1);
        return true;
    }
    bool StartHttpStore(std::shared_ptr<StoreRequest> request) override
    {
        if (m_answers & 2) request->Report(1);
        return true;
    }
    void StoreOverFtp(const std::string&, const std::shared_ptr<InternetSession>&, SharedState&) override {}

private:
    std::uint8_t m_answers;
};

// One logfile for the whole process, emptied by each run's opening: making
// and removing a file per run cost more than the run itself.
const std::string& LogPath()
{
    static const std::string path = [] {
        std::string p = "/dev/shm/tessel-fuzz-routing-" + std::to_string(::getpid()) + ".log";
        std::atexit([] { std::remove(LogPath().c_str()); });
        return p;
    }();
    return path;
}

std::string ReadWhole(const std::string& path)
{
    std::string all;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        char chunk[8192];
        for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) all.append(chunk, got);
        std::fclose(file);
    }
    return all;
}

// The checks below are the harness's, not the code under test: left out of
// the coverage they would otherwise dominate (a comparison per character of
// the logfile), and their branches are no feature worth a corpus entry.
#define TESSEL_FUZZ_CHECK __attribute__((no_sanitize("coverage")))

// "HH:MM:SS - " and text without control characters; an empty line is the
// receive loop's separator.
TESSEL_FUZZ_CHECK bool WholeLine(const char* line, std::size_t size)
{
    if (size == 0) return true;
    if (size < 11 || line[2] != ':' || line[5] != ':' || std::memcmp(line + 8, " - ", 3) != 0) return false;
    for (std::size_t i = 0; i < size; ++i)
        if (static_cast<unsigned char>(line[i]) < 0x20) return false;
    return true;
}

// Every line of the logfile whole and ended by CR LF, the last one too.
TESSEL_FUZZ_CHECK bool AllLinesWhole(const std::string& all)
{
    if (all.size() < 2 || all.compare(all.size() - 2, 2, "\r\n") != 0) return false;
    const char* start = all.data();
    const char* const end = all.data() + all.size();
    while (start < end) {
        const char* cr = static_cast<const char*>(std::memchr(start, '\r', static_cast<std::size_t>(end - start)));
        if (cr == nullptr || cr + 1 >= end || cr[1] != '\n') return false;
        if (!WholeLine(start, static_cast<std::size_t>(cr - start))) return false;
        start = cr + 2;
    }
    return true;
}

TESSEL_FUZZ_CHECK bool LessIgnoringCase(const std::string& a, const std::string& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) return 0;
    std::deque<std::vector<std::uint8_t>> datagrams;
    for (std::size_t pos = 2; pos + 2 <= size && datagrams.size() < 16;) {
        const std::size_t length = std::min<std::size_t>((data[pos] << 8) | data[pos + 1], kBootpBufferSize);
        pos += 2;
        const std::size_t take = std::min(length, size - pos);
        datagrams.emplace_back(data + pos, data + pos + take);
        pos += take;
    }

    const std::string& path = LogPath();
    VirtualClock clock;
    ServerTable table;
    std::atomic<int> onlyMerrow{data[1] & 4 ? 0 : 1};
    auto log = std::make_unique<CLogfile>(LogfilePath{path});
    SharedState host;
    host.serverList = &table;
    host.onlyMerrow = &onlyMerrow;
    host.clock = &clock;
    host.logFile = log.get();
    host.hostName = "install-pc";
    host.hostAddress = "10.77.0.1";
    JobBoard board(host, [](std::function<void()> run) { run(); });
    host.jobs = &board;
    std::int32_t stageAtStart[3];
    for (int i = 0; i < 3; ++i) {
        auto job = board.Add(kSerials[i], "0.0.0.0");
        std::lock_guard<std::mutex> guard(job->shared.stateLock);
        job->shared.chosenSerial = kSerials[i];
        job->shared.desiredAddress = kPlanned[i];
        stageAtStart[i] = kStages[(data[0] >> (2 * i)) & 3];
        job->shared.stage.store(stageAtStart[i]);
    }

    InputWorkers workers(data[1]);
    tessel::testing::RecordingCommands commands;
    AddressAssignment procedure(workers, commands);
    NetworkThreadEnv env;
    auto channel = std::make_unique<InputChannel>(datagrams, host);
    InputChannel& seen = *channel;
    env.channel = std::move(channel);
    env.procedure = &procedure;
    Require(NetworkThreadProc(&host, env) == kExitAfterStop);

    // Each reply: a job's own server, its planned address, a job that waited.
    for (std::size_t r = 0; r < seen.replies.size(); ++r) {
        BootpMessage request;
        std::copy(seen.requestsReplied[r].begin(), seen.requestsReplied[r].end(), request.buffer.begin());
        const std::string serial = FormatSerialNumber(request);
        const auto job = std::find(std::begin(kSerials), std::end(kSerials), serial);
        Require(job != std::end(kSerials));
        const auto index = static_cast<std::size_t>(job - std::begin(kSerials));
        Require(stageAtStart[index] >= StageAwaitRequest && stageAtStart[index] <= StageVerifying);
        Require(FormatAddress(&seen.replies[r][bootp::kYiaddr]) == kPlanned[index]);
        Require(std::equal(seen.replies[r].begin() + bootp::kChaddr, seen.replies[r].begin() + bootp::kChaddr + 6,
                           seen.requestsReplied[r].begin() + bootp::kChaddr));
    }
    Require(host.stage.load() == StageIdle);

    const auto rows = table.Rows();
    for (std::size_t i = 1; i < rows.size(); ++i)
        if (rows[i - 1].isServer && rows[i].isServer) Require(LessIgnoringCase(rows[i - 1].serial, rows[i].serial));

    host.logFile = nullptr;
    log.reset();
    Require(AllLinesWhole(ReadWhole(path)));
    return 0;
}
