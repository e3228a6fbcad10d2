// Jobs for several servers at once, for tessel-cli's plan: each job has a
// block of its own (stage, chosen serial, desired address, its own lock and
// a one-row server table), so the Set-IP command runs for it unchanged; the
// network thread hands each request of a job's server to that job's
// assignment procedure, which runs on a thread of its own while the thread
// goes on receiving. The window never makes a board: with none, the
// network thread answers its one chosen server as it always did.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/assignment.h"
#include "engine/server_table.h"
#include "engine/shared_state.h"
#include "log/logfile.h"

namespace tessel {

class JobBoard {
public:
    struct Job {
        SharedState shared;                // the job's own block; its clock is the host's, its logfile the view below
        std::unique_ptr<CLogfile> log;     // the host's logfile, each line naming the job's server
        ServerTable table;                 // the job's server, as heard
        std::atomic<bool> running{false};  // a procedure works for it now
        std::thread procedure;
    };

    // How a procedure run is started: on a thread of its own in the program;
    // tests and the fuzzer run it at once on the calling thread. It throws
    // std::system_error, as std::thread does, when no thread can be made.
    using Runner = std::function<void(std::function<void()>)>;

    explicit JobBoard(const SharedState& host, Runner runner = {});
    ~JobBoard();
    JobBoard(const JobBoard&) = delete;
    JobBoard& operator=(const JobBoard&) = delete;

    // A job for the server with this serial as the list shows it, heard at
    // `address`: its block is ready for the Set-IP command (awaiting no
    // first server, the idle stage).
    std::shared_ptr<Job> Add(const std::string& serial, const std::string& address);

    // The network thread's step for a request that is not the window's: when
    // it is the chosen server of a job that waits for it (stage 0 to 3, as
    // for the window's job) and no procedure runs for that job, the job's
    // procedure starts with a copy of the request. True when it started;
    // false too when no thread could be made for it (the job then waits for
    // its server's next request).
    bool Route(const std::string& serial, const BootpMessage& request, AssignmentProcedure& procedure,
               BootpChannel& channel, const std::shared_ptr<InternetSession>& session);

    // Takes an ended job off the board (a service makes jobs for months).
    // False while its procedure still runs: try again later. Its stage must
    // be outside 0..3 by then, as it is once its Set-IP command has ended.
    bool Remove(const std::shared_ptr<Job>& job);

    // Every job's stop: the stop flag and the idle stage under its lock.
    void RequestStop();
    // Waits for every procedure that runs; they end at their next safe step
    // once stopped.
    void Join();

private:
    const SharedState& m_host;
    Runner m_runner;
    std::mutex m_lock;  // the list; taken before a job's stateLock, never after
    std::vector<std::shared_ptr<Job>> m_jobs;
};

}  // namespace tessel
