#include "engine/job_board.h"

#include <system_error>

namespace tessel {

JobBoard::JobBoard(const SharedState& host, Runner runner) : m_host(host), m_runner(std::move(runner))
{}

JobBoard::~JobBoard()
{
    RequestStop();
    Join();
}

std::shared_ptr<JobBoard::Job> JobBoard::Add(const std::string& serial, const std::string& address)
{
    auto job = std::make_shared<Job>();
    SharedState& s = job->shared;
    s.awaitingFirstServer.store(false);
    s.hostName = m_host.hostName;
    s.hostAddress = m_host.hostAddress;
    s.ownAddressOfArrival = m_host.ownAddressOfArrival;
    if (m_host.logFile != nullptr) {
        // Jobs overlap in the one logfile: each of their lines names its server.
        job->log = std::make_unique<CLogfile>(*m_host.logFile, serial);
        s.logFile = job->log.get();
    }
    s.clock = m_host.clock;
    s.serverList = &job->table;
    job->table.Delete(0);  // the placeholder: the job's table holds its server only
    job->table.SetAddress(job->table.InsertServer(serial), address);
    std::lock_guard<std::mutex> guard(m_lock);
    m_jobs.push_back(job);
    return job;
}

bool JobBoard::Route(const std::string& serial, const BootpMessage& request, AssignmentProcedure& procedure,
                     BootpChannel& channel, const std::shared_ptr<InternetSession>& session)
{
    std::shared_ptr<Job> job;
    std::string desired;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (const auto& candidate : m_jobs) {
            if (candidate->running.load()) continue;
            std::lock_guard<std::mutex> state(candidate->shared.stateLock);
            const std::int32_t stage = candidate->shared.stage.load();
            if (stage < StageAwaitRequest || stage > StageVerifying || candidate->shared.chosenSerial != serial)
                continue;
            job = candidate;
            desired = candidate->shared.desiredAddress;
            break;
        }
        if (!job) return false;
        // An earlier run for this job has ended (it cleared `running` as its
        // last step); its thread is gone or about to be.
        if (job->procedure.joinable()) job->procedure.join();
        job->running.store(true);
    }
    auto copy = std::make_shared<BootpMessage>(request);
    auto run = [job, copy, &procedure, &channel, session, serial, desired] {
        AssignmentContext context{job->shared, channel, session};
        procedure.Run(context, *copy, serial, desired);
        job->running.store(false);
    };
    try {
        if (!m_runner) {
            std::lock_guard<std::mutex> guard(m_lock);
            job->procedure = std::thread(run);
        } else {
            m_runner(run);
        }
    } catch (const std::system_error&) {
        // No thread to be had (a thread limit): this request goes unanswered
        // and the job waits for its server's next one, as after a lost reply.
        job->running.store(false);
        return false;
    }
    return true;
}

bool JobBoard::Remove(const std::shared_ptr<Job>& job)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (job->running.load()) return false;
    std::erase(m_jobs, job);
    // Its procedure cleared `running` as its last step: the join is short.
    // Under the list lock, as Route's and Join's, so no thread is joined twice.
    if (job->procedure.joinable()) job->procedure.join();
    return true;
}

void JobBoard::RequestStop()
{
    std::lock_guard<std::mutex> guard(m_lock);
    for (const auto& job : m_jobs) tessel::RequestStop(job->shared);
}

void JobBoard::Join()
{
    // Only the network thread starts procedures; it, Remove and the board's
    // owner once that thread is gone join them, each under the list lock, so
    // no thread is joined twice. Nothing a procedure does takes the lock.
    std::lock_guard<std::mutex> guard(m_lock);
    for (const auto& job : m_jobs)
        if (job->procedure.joinable()) job->procedure.join();
}

}  // namespace tessel
