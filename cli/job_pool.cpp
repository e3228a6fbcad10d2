#include "cli/job_pool.h"

#include <algorithm>
#include <system_error>

#include "cli/interruptible_clock.h"
#include "cli/terminal_front_end.h"
#include "platform/clock.h"
#include "platform/system_commands.h"
#include "workflow/set_ip_command.h"

namespace tessel::cli {

namespace {

// A job's boxes are answered as on the terminal, and nothing is printed
// while it runs: several jobs share one terminal, and each ends in a line.
class QuietFrontEnd final : public SetIpFrontEnd {
public:
    QuietFrontEnd(std::string serial, Ipv4Bytes address, bool confirm, bool unchecked)
        : m_serial(std::move(serial)), m_address(address), m_confirm(confirm), m_unchecked(unchecked)
    {}
    MsgAnswer ShowBox(const BoxStyle& box) override { return TerminalAnswer(box, m_confirm, m_unchecked); }
    std::optional<Ipv4Bytes> ReadAddress() override { return m_address; }
    void FocusField(int) override {}
    std::optional<std::string> SelectedSerial() override { return m_serial; }
    void SetWaitCursor(bool) override {}
    void OpenValidating() override {}
    void CloseValidating() override {}
    void OpenStage(int) override {}
    void SetStageText(int) override {}
    void SetBar(int) override {}
    void Repaint() override {}
    void CloseStage() override {}
    void LaunchBrowser(const std::string&) override {}
    void RegisterNewServer(const std::string&) override {}
    void CloseProgram() override {}

private:
    std::string m_serial;
    Ipv4Bytes m_address;
    bool m_confirm, m_unchecked;
};

}  // namespace

struct JobPool::Job {
    std::size_t key = 0;
    std::shared_ptr<JobBoard::Job> engineJob;
    std::unique_ptr<InterruptibleClock> clock;
    std::thread thread;
    std::int64_t startMs = 0;
};

JobPool::JobPool(JobBoard& board, bool confirm, bool unchecked, JobThreadStart start)
    : m_board(board), m_confirm(confirm), m_unchecked(unchecked), m_start(std::move(start))
{}

JobPool::~JobPool()
{
    for (const auto& job : m_jobs)
        if (job->thread.joinable()) job->thread.join();
}

std::string JobPool::Start(std::size_t key, const PlanEntry& entry, const std::string& heardAddress)
{
    auto job = std::make_unique<Job>();
    job->key = key;
    job->engineJob = m_board.Add(entry.serial, heardAddress);
    job->clock = std::make_unique<InterruptibleClock>(job->engineJob->shared);
    job->startMs = RealClock().NowMs();
    Job& j = *job;
    std::function<void()> work = [this, &j, entry] { RunJob(j, entry); };
    try {
        job->thread = m_start ? m_start(std::move(work)) : std::thread(std::move(work));
    } catch (const std::system_error& error) {
        // No thread to be had (a thread limit): this job ends as failed;
        // the others go on.
        m_board.Remove(job->engineJob);
        return error.what();
    }
    m_jobs.push_back(std::move(job));
    return {};
}

bool JobPool::Runs(std::size_t key) const
{
    return std::any_of(m_jobs.begin(), m_jobs.end(), [key](const auto& job) { return job->key == key; });
}

void JobPool::RunJob(Job& job, const PlanEntry& entry)
{
    QuietFrontEnd ui(entry.serial, entry.address, m_confirm, m_unchecked);
    SetIpCommand command(SetIpContext{job.engineJob->shared, ui, *job.clock, HiddenCommands(), nullptr, false, {}});
    JobEnd end;
    end.key = job.key;
    end.serial = entry.serial;
    // Each of the command's waits is the job's interruptible clock: Ctrl+C
    // or termination throws RunInterrupted out of any of them.
    try {
        end.exit = ExitForSet(command.OnSetIpAddress(), FormatAddress(entry.address));
    } catch (const RunInterrupted&) {
        end.interrupted = true;
    }
    std::lock_guard<std::mutex> guard(m_endedLock);
    m_ended.push_back(end);
    m_endedChanged.notify_all();
}

std::vector<JobEnd> JobPool::Collect()
{
    std::deque<JobEnd> ended;
    {
        std::lock_guard<std::mutex> guard(m_endedLock);
        ended.swap(m_ended);
    }
    std::vector<JobEnd> out;
    for (JobEnd& end : ended) {
        const auto it = std::find_if(m_jobs.begin(), m_jobs.end(), [&](const auto& j) { return j->key == end.key; });
        Job& job = **it;
        job.thread.join();
        end.seconds = static_cast<double>(RealClock().NowMs() - job.startMs) / 1000.0;
        end.highestStage = job.clock->HighestStage();
        m_retired.push_back(job.engineJob);
        m_jobs.erase(it);
        out.push_back(std::move(end));
    }
    RemoveEnded();
    return out;
}

void JobPool::RemoveEnded()
{
    // A run that lasts for months makes jobs without end: each leaves the
    // board once its engine side is done.
    std::erase_if(m_retired, [this](const auto& job) { return m_board.Remove(job); });
}

void JobPool::WaitForEnd(std::int64_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_endedLock);
    m_endedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !m_ended.empty(); });
}

std::vector<std::pair<std::size_t, int>> JobPool::RequestStop()
{
    std::vector<std::pair<std::size_t, int>> stages;
    for (const auto& job : m_jobs)
        stages.emplace_back(job->key, static_cast<int>(tessel::RequestStop(job->engineJob->shared)));
    return stages;
}

}  // namespace tessel::cli
