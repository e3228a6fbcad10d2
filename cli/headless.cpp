#include "cli/headless.h"

#include <cstdio>
#include <cstdlib>

#include "cli/report.h"
#include "log/logfile.h"
#include "platform/clock.h"
#include "platform/interrupt.h"
#include "platform/privileges.h"

namespace tessel::cli {

namespace {
// How often the main loop looks at the thread while nothing else happens.
constexpr std::int64_t kLookMs = 100;
}  // namespace

Headless::Headless(const HeadlessOptions& options)
{
    EngineSetup setup;
    if (options.serviceLogfile)
        setup.logfile = std::make_unique<CLogfile>(
            LogfilePath{options.logfilePath.value_or(CLogfile::ResolvePath("Temp", "IP.log")), LogfileKind::Service});
    else
        setup.logfile = options.logfilePath ? std::make_unique<CLogfile>(LogfilePath{*options.logfilePath})
                                            : std::make_unique<CLogfile>("Temp", "IP.log");
    TellLogfileNotOpened(*setup.logfile);
    if (options.logfileOff) setup.logfile->SetEnabled(false);
    setup.onlyMerrow = options.onlyMerrow;
    setup.printServersOnly = options.printServersOnly;
    setup.severalJobs = options.severalJobs;
    setup.tableBounds = options.tableBounds;
    setup.keptServers = options.keptServers;
    setup.answeredServers = options.answeredServers;
    const HostIdentity host = LookUpHost();
    setup.hostName = host.name;
    setup.hostAddress = host.address;
    if (options.interfaceIndex != 0) {
        // Servers on that network are told our address there.
        setup.onlyInterface = options.interfaceIndex;
        // None while serve waits for its interface: this computer's stands in.
        if (!options.interfaceAddress.empty()) setup.hostAddress = options.interfaceAddress;
    }
    setup.ownAddressOfArrival = options.ownAddressOfArrival;
    setup.clock = options.clock;
    m_engine = std::make_unique<EngineHost>(std::move(setup));
    m_engine->Table().SetObserver(this);
}

Headless::~Headless()
{
    m_engine->Table().SetObserver(nullptr);
}

void Headless::Start()
{
    WatchInterrupts();
    m_engine->Start();
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
    return m_engine->WaitUntilListening();
}

bool Headless::StartListening()
{
    Start();
    if (WaitUntilListening()) return true;
    std::fprintf(stderr, "tessel-cli: %s\n", NetworkFailure().c_str());
    return false;
}

std::int64_t Headless::HearingLeftMs()
{
    const std::int64_t now = RealClock().NowMs();
    if (m_hearingSince < 0 && Shared().hearing.load()) m_hearingSince = now;
    return m_hearingSince < 0 ? m_hearMs : m_hearMs - (now - m_hearingSince);
}

HeadlessEvent Headless::Next(std::int64_t timeoutMs)
{
    const std::int64_t end = RealClock().NowMs() + timeoutMs;
    return NextBefore([end] { return end - RealClock().NowMs(); });
}

HeadlessEvent Headless::NextWhileHearing()
{
    return NextBefore([this] { return HearingLeftMs(); });
}

HeadlessEvent Headless::NextBefore(const std::function<std::int64_t()>& leftMs)
{
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (!m_listed.empty()) {
                auto [serial, address] = m_listed.front();
                m_listed.pop_front();
                return {HeadlessEvent::Listed, serial, address};
            }
        }
        if (Shared().stage.load() == StageNetworkFailed) return {HeadlessEvent::NetworkFailed, {}, {}};
        const std::int64_t left = leftMs();
        if (left <= 0) return {HeadlessEvent::TimedOut, {}, {}};
        const std::int64_t step = left < kLookMs ? left : kLookMs;
        if (WaitForInterrupt(static_cast<int>(step))) return {HeadlessEvent::Interrupted, {}, {}};
    }
}

bool Headless::Stop(int timeoutMs)
{
    return m_engine->Stop(timeoutMs);
}

int Finish(Headless& headless, int status, int stopWaitMs, const std::function<void()>& tell)
{
    const bool stopped = headless.Stop(stopWaitMs);
    if (tell) tell();
    headless.CloseLogfile();
    TellLogfileNotWhole(headless.Log());
    std::fflush(nullptr);
    if (!stopped) std::_Exit(status);
    return status;
}

void TellLogfileNotOpened(const CLogfile& log)
{
    if (!log.IsOpen())
        std::fprintf(stderr, "tessel-cli: the logfile \"%s\" cannot be written: %s; the run goes on without it.\n",
                     ShownText(log.Path()).c_str(), log.Failure().c_str());
}

void TellLogfileNotWhole(const CLogfile& log)
{
    if (log.IsOpen() && !log.Failure().empty())
        std::fprintf(stderr, "tessel-cli: the logfile \"%s\" was not written whole: %s.\n",
                     ShownText(log.Path()).c_str(), log.Failure().c_str());
}

std::string Headless::NetworkFailure() const
{
    switch (m_engine->Opened()) {
    case OpenResult::PortInUse:
        return "UDP port 67 is already in use by another program (a DHCP or BOOTP server?). "
               "Stop that program and try again.";
    case OpenResult::PortNotPermitted:
        return "Not permitted to use UDP port 67.\n" + CapabilitiesAdvice(RunningProgramPath("tessel-cli"));
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
