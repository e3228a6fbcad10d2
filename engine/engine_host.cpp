#include "engine/engine_host.h"

#include <mutex>
#include <vector>

#include "engine/assignment_procedure.h"
#include "engine/network_thread.h"
#include "engine/server_table.h"
#include "log/logfile.h"
#include "platform/clock.h"
#include "platform/hostinfo.h"
#include "platform/internet_session.h"
#include "resources/texts.h"

namespace tessel {

struct EngineHost::Parts {
    std::unique_ptr<CLogfile> log;
    ServerTable table;
    std::atomic<int> onlyMerrow{1};
    std::unique_ptr<AnsweredServers> answered;  // plan and serve only
    std::string hostName;
    SharedState shared;
    std::unique_ptr<AssignmentProcedure> procedure;
    std::unique_ptr<JobBoard> jobs;         // after `shared`, which it reads, and before the thread
    std::unique_ptr<BootpChannel> channel;  // handed to the thread at Start()
    std::unique_ptr<NetworkThread> thread;
    bool kept = false;  // the thread outlived its stop: these parts live to the end
};

namespace {

// The parts of hosts whose thread did not end in time: the thread may still
// use them, so they live until the process ends (and stay reachable, so a
// leak checker does not count them).
std::mutex g_keptLock;
std::vector<std::shared_ptr<void>>& Kept()
{
    static auto* kept = new std::vector<std::shared_ptr<void>>;  // never destroyed: threads may outlive main
    return *kept;
}

}  // namespace

HostIdentity LookUpHost()
{
    HostIdentity host;
    host.name = LocalHostName().substr(0, kHostNameMax);
    if (!host.name.empty()) host.address = FirstIpv4Address();
    return host;
}

std::string ProgramName()
{
    return ApplicationName(TextOf(IDS_PROGRAM_TITLE));
}

EngineHost::EngineHost(EngineSetup setup) : m_parts(std::make_shared<Parts>())
{
    Parts& p = *m_parts;
    p.log = std::move(setup.logfile);
    p.onlyMerrow.store(setup.onlyMerrow ? 1 : 0);
    p.hostName = setup.hostName.substr(0, kHostNameMax);
    p.procedure = setup.procedure ? std::move(setup.procedure) : std::make_unique<AddressAssignment>();
    p.channel = std::move(setup.channel);

    SharedState& s = p.shared;
    s.stage.store(StageIdle);
    s.stopRequested.store(false);
    s.awaitingFirstServer.store(true);
    s.printServersOnly = setup.printServersOnly;
    s.hostName = p.hostName.c_str();
    s.hostAddress = setup.hostAddress;
    p.table.SetBounds(setup.tableBounds);
    p.table.SetKept(setup.keptServers);
    s.serverList = &p.table;
    s.onlyMerrow = &p.onlyMerrow;
    s.logFile = p.log.get();
    s.clock = setup.clock ? setup.clock : &RealClock();
    s.onlyInterface = setup.onlyInterface;
    if (setup.answeredServers) {
        p.answered = std::make_unique<AnsweredServers>();
        p.answered->Answer(*setup.answeredServers);
        s.answeredOnly = p.answered.get();
    }
    s.ownAddressOfArrival = setup.ownAddressOfArrival;
    if (setup.severalJobs) {
        p.jobs = std::make_unique<JobBoard>(s, std::move(setup.jobRunner));
        s.jobs = p.jobs.get();
    }
}

EngineHost::~EngineHost()
{
    Stop();
}

SharedState& EngineHost::Shared()
{
    return m_parts->shared;
}
ServerTable& EngineHost::Table()
{
    return m_parts->table;
}
CLogfile& EngineHost::Log()
{
    return *m_parts->log;
}
std::atomic<int>& EngineHost::OnlyMerrow()
{
    return m_parts->onlyMerrow;
}
JobBoard* EngineHost::Jobs()
{
    return m_parts->jobs.get();
}

void EngineHost::KeepServers(const std::vector<std::string>& serials)
{
    m_parts->table.SetKept(serials);
    if (!m_parts->answered) return;
    std::lock_guard<std::mutex> guard(m_parts->shared.stateLock);
    m_parts->answered->Answer(serials);
}

std::vector<PassedOverServer> EngineHost::TakePassedOverNamed()
{
    if (!m_parts->answered) return {};
    std::lock_guard<std::mutex> guard(m_parts->shared.stateLock);
    return m_parts->answered->TakeNamed();
}

PassedOverCount EngineHost::TakePassedOver()
{
    if (!m_parts->answered) return {};
    std::lock_guard<std::mutex> guard(m_parts->shared.stateLock);
    return m_parts->answered->TakeCount();
}

void EngineHost::Start()
{
    Parts& p = *m_parts;
    if (p.thread) return;
    p.thread = std::make_unique<NetworkThread>(p.shared, p.channel ? std::move(p.channel) : MakeSocketChannel(),
                                               p.procedure.get(),
                                               [] { return std::make_shared<InternetSession>(ProgramName()); });
    p.thread->Start();
}

bool EngineHost::Started() const
{
    return m_parts->thread != nullptr;
}

bool EngineHost::WaitUntilListening()
{
    // On a failed start the thread is joined before this returns, so the
    // caller may tear the host down at once.
    return m_parts->thread->WaitUntilListening();
}

OpenResult EngineHost::Opened() const
{
    return m_parts->thread ? m_parts->thread->Opened() : OpenResult::Ok;
}
bool EngineHost::Finished() const
{
    return !m_parts->kept && (!m_parts->thread || m_parts->thread->Finished());
}

int EngineHost::RequestStop()
{
    if (m_parts->jobs) m_parts->jobs->RequestStop();
    return tessel::RequestStop(m_parts->shared);
}

void EngineHost::CloseLogfile()
{
    m_parts->log->Close();
}
void EngineHost::ReleaseLogfile()
{
    m_parts->log->Release();
}

bool EngineHost::Stop(int timeoutMs)
{
    Parts& p = *m_parts;
    if (p.kept) return false;
    if (!p.thread) return true;
    RequestStop();
    if (p.thread->WakeAndJoin(timeoutMs)) {
        p.thread.reset();
        return true;
    }
    // The thread is inside an assignment and will end by itself; nothing it
    // uses may go away before it does.
    // The thread object lets its thread go on alone (it keeps its own
    // runtime); the rest of the parts stay for it.
    p.thread.reset();
    p.kept = true;
    std::lock_guard<std::mutex> guard(g_keptLock);
    Kept().push_back(m_parts);
    return false;
}

}  // namespace tessel
