// The jobs of plan and serve: each planned server's Set-IP command, run as
// set runs it, on a thread of its own with a front end that answers boxes
// as the terminal does and prints nothing; a job's engine side is a job of
// the host's board. The pool starts jobs, joins the ones that ended, and
// stops them all at their next safe step.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/plan_file.h"
#include "cli/report.h"
#include "engine/job_board.h"

namespace tessel::cli {

class InterruptibleClock;

// How a job's thread is started: empty for std::thread. Throws
// std::system_error, as std::thread does, when no thread can be made; tests
// make that refusal happen on purpose.
using JobThreadStart = std::function<std::thread(std::function<void()>)>;

// What a job came to.
struct JobEnd {
    std::size_t key = 0;  // the caller's name for the job
    std::string serial;
    bool interrupted = false;  // left at a safe step by Ctrl+C or termination
    int highestStage = -1;     // the highest stage its server reached
    SetExit exit{};            // not interrupted: as set would end
    double seconds = 0.0;      // from its start to its end
};

class JobPool {
public:
    JobPool(JobBoard& board, bool confirm, bool unchecked, JobThreadStart start = {});
    ~JobPool();
    JobPool(const JobPool&) = delete;
    JobPool& operator=(const JobPool&) = delete;

    // Starts the job of `entry`, whose server was heard at `heardAddress`.
    // Empty when it runs, else why no thread could be had for it.
    std::string Start(std::size_t key, const PlanEntry& entry, const std::string& heardAddress);

    std::size_t Running() const { return m_jobs.size(); }
    bool Runs(std::size_t key) const;

    // Joins the jobs that have ended, in the order they ended.
    std::vector<JobEnd> Collect();
    // Waits up to timeoutMs for a job to end.
    void WaitForEnd(std::int64_t timeoutMs);

    // Stops every running job (its block's stop) and answers the highest
    // stage each had reached, by key.
    std::vector<std::pair<std::size_t, int>> RequestStop();

private:
    struct Job;
    void RunJob(Job& job, const PlanEntry& entry);
    void RemoveEnded();

    JobBoard& m_board;
    bool m_confirm, m_unchecked;
    JobThreadStart m_start;
    std::vector<std::unique_ptr<Job>> m_jobs;
    // Ended jobs whose engine side still finishes a step; removed from the
    // board once it has.
    std::vector<std::shared_ptr<JobBoard::Job>> m_retired;

    std::mutex m_endedLock;
    std::condition_variable m_endedChanged;
    std::deque<JobEnd> m_ended;
};

}  // namespace tessel::cli
