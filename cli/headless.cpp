#include "cli/headless.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

#include "engine/internet_session.h"
#include "platform/clock.h"
#include "platform/hostinfo.h"

namespace tessel::cli {

namespace {
// As long as the window's close waits for the network thread.
constexpr int kStopWaitMs = 2800;
// The window keeps the host name in a 100-character buffer.
constexpr std::size_t kHostNameMax = 99;
// How often the main loop looks at the thread while nothing else happens.
constexpr std::int64_t kLookMs = 100;
}  // namespace

Headless::Headless(const HeadlessOptions& options)
{
    m_log = options.logfilePath ? std::make_unique<CLogfile>(LogfilePath{*options.logfilePath})
                                : std::make_unique<CLogfile>("Temp", "IP.log");
    if (options.logfileOff) m_log->SetEnabled(false);
    m_onlyMerrow.store(options.onlyMaker ? 1 : 0);
    m_hostName = LocalHostName().substr(0, kHostNameMax);
    m_shared.printServersOnly = options.printServersOnly;
    m_shared.hostName = m_hostName.c_str();
    m_shared.hostAddress = FirstIpv4Address();
    m_shared.serverList = &m_table;
    m_shared.onlyMerrow = &m_onlyMerrow;
    m_shared.logFile = m_log.get();
    m_shared.clock = &RealClock();
    m_table.SetObserver(this);
}

Headless::~Headless() { m_table.SetObserver(nullptr); }

void Headless::Start(AssignmentProcedure* procedure)
{
    sigemptyset(&m_signals);
    sigaddset(&m_signals, SIGINT);
    sigaddset(&m_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &m_signals, nullptr);
    m_thread = std::make_unique<NetworkThread>(m_shared, MakeSocketChannel(), procedure,
                                               [] { return std::make_shared<InternetSession>(ApplicationName()); });
    m_thread->Start();
}

void Headless::OnRowChanged(int, const ServerRow& row)
{
    // Called under the table's lock on the network thread: only queue it.
    if (!row.isServer) return;
    std::lock_guard<std::mutex> guard(m_lock);
    m_listed.emplace_back(row.serial, row.address);
}

bool Headless::WaitUntilListening()
{
    // Opening the socket takes moments; the thread ends at once on failure.
    while (!m_thread->Listening()) {
        if (m_thread->Finished() || m_shared.stage.load() == StageNetworkFailed) return false;
        RealClock().sleepMs(5);
    }
    return true;
}

HeadlessEvent Headless::Next(std::int64_t timeoutMs)
{
    const std::int64_t end = RealClock().nowMs() + timeoutMs;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (!m_listed.empty()) {
                auto [serial, address] = m_listed.front();
                m_listed.pop_front();
                return {HeadlessEvent::Listed, serial, address};
            }
        }
        if (m_shared.stage.load() == StageNetworkFailed) return {HeadlessEvent::NetworkFailed, {}, {}};
        const std::int64_t left = end - RealClock().nowMs();
        if (left <= 0) return {HeadlessEvent::TimedOut, {}, {}};
        const std::int64_t step = left < kLookMs ? left : kLookMs;
        timespec wait{static_cast<time_t>(step / 1000), static_cast<long>((step % 1000) * 1000000)};
        if (sigtimedwait(&m_signals, nullptr, &wait) > 0) return {HeadlessEvent::Interrupted, {}, {}};
    }
}

bool Headless::Stop()
{
    if (!m_thread) return true;
    m_thread->RequestStop();
    return m_thread->WakeAndJoin(kStopWaitMs);
}

std::string Headless::NetworkFailure() const
{
    switch (m_thread ? m_thread->Opened() : OpenResult::Ok) {
    case OpenResult::PortInUse:
        return "UDP port 67 is already in use by another program (a DHCP or BOOTP server?). "
               "Stop that program and try again.";
    case OpenResult::PortNotPermitted:
        return "Not permitted to use UDP port 67. Run as root, or give the program the capability: "
               "setcap cap_net_bind_service,cap_net_raw,cap_net_admin+ep tessel-cli";
    case OpenResult::StartupFailed:
        return "The network could not be started.";
    case OpenResult::SocketInvalid:
        return "No UDP socket could be created: is TCP/IP available?";
    case OpenResult::BroadcastFailed:
        return "Broadcasting could not be enabled on the UDP socket.";
    case OpenResult::BindFailed:
        return "UDP port 67 could not be bound.";
    case OpenResult::Ok:
        break;
    }
    return "The network thread ended.";
}

}  // namespace tessel::cli
