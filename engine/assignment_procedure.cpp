#include "engine/assignment_procedure.h"

#include "engine/bootp_channel.h"
#include "engine/ftp_store.h"
#include "platform/internet_session.h"
#include "engine/ipaddress.h"
#include "engine/network_thread.h"
#include "log/events.h"
#include "log/logfile.h"
#include "platform/clock.h"
#include "platform/system_commands.h"
#include "workers/hand_over.h"
#include "workers/http_store.h"
#include "workers/port_probe.h"

namespace tessel {

namespace {

class RealWorkers final : public AssignmentWorkers {
public:
    bool StartPortProbe(std::shared_ptr<ProbeRequest> request) override { return tessel::StartPortProbe(request); }
    bool StartHttpStore(std::shared_ptr<StoreRequest> request) override { return tessel::StartHttpStore(request); }
    void StoreOverFtp(const std::string& address, const std::shared_ptr<InternetSession>& session,
                      SharedState& shared) override
    {
        if (session) {
            tessel::StoreOverFtp(address, *session, shared);
            return;
        }
        // Without a session no connection can be made.
        LogEvent(shared.logFile, EvFtpStoreStarted);
        LogEvent(shared.logFile, EvFtpConnectFailed);
    }
};

}  // namespace

AssignmentWorkers& NetworkWorkers()
{
    static RealWorkers workers;
    return workers;
}

bool CheckWebPort(AssignmentWorkers& workers, const std::string& address, Clock& clock, CLogfile* log)
{
    LogEvent(log, EvCheckingTemporary);
    // A record per run: a probe of an earlier run that is still connecting
    // writes into its own, abandoned record.
    auto probe = std::make_shared<ProbeRequest>(address);
    workers.StartPortProbe(probe);
    const bool connected = AwaitOutcome(*probe, clock, kPortProbePolls) != 0;
    LogEvent(log, EvCheckingTemporaryFinished);
    return connected;
}

bool StoreByWebForm(AssignmentWorkers& workers, const std::string& address, const std::string& shownAddress,
                    const std::shared_ptr<InternetSession>& session, Clock& clock, CLogfile* log)
{
    LogEvent(log, EvHttpStoreStarted);
    auto store = std::make_shared<StoreRequest>(address, session);
    workers.StartHttpStore(store);
    const bool stored = AwaitOutcome(*store, clock, kHttpStorePolls) != 0;
    LogEvent(log, EvHttpStoreFinished);
    if (stored) LogEvent(log, EvPermanentSuccess, shownAddress);
    return stored;
}

std::string ReplyOwnAddress(const SharedState& shared, const BootpMessage& request,
                            const std::vector<NetworkInterface>& interfaces)
{
    if (!shared.ownAddressOfArrival) return shared.hostAddress;
    for (const NetworkInterface& candidate : interfaces)
        if (candidate.index == static_cast<unsigned>(request.interfaceIndex) && !candidate.address.empty())
            return candidate.address;
    return shared.hostAddress;
}

AddressAssignment::AddressAssignment() : AddressAssignment(NetworkWorkers(), HiddenCommands())
{}

AddressAssignment::AddressAssignment(AssignmentWorkers& workers, SystemCommands& commands)
    : m_workers(workers), m_commands(commands)
{}

AssignmentEnd AddressAssignment::Run(AssignmentContext& context, BootpMessage& message, const std::string&,
                                     const std::string& desiredAddress)
{
    SharedState& shared = context.shared;
    Clock& clock = shared.clock != nullptr ? *shared.clock : RealClock();
    auto log = [&shared](int code, const std::string& value = {}) { LogEvent(shared.logFile, code, value); };
    auto desiredNow = [&shared] {
        std::lock_guard<std::mutex> guard(shared.stateLock);
        return shared.desiredAddress;
    };

    // Taken first: the reply is built over the same bytes.
    const std::string source = FormatAddress(message.sourceAddress);

    log(EvSelectedServerRequest);
    if (!RaiseStage(shared, StageReplied)) return AssignmentEnd::BackToListening;
    const auto reply =
        MakeReply(message, desiredAddress,
                  ReplyOwnAddress(shared, message,
                                  shared.ownAddressOfArrival ? NetworkInterfaces() : std::vector<NetworkInterface>{}),
                  shared.hostName ? shared.hostName : "");
    if (source == kNoAddress || source == kFactoryDefaultAddress) log(EvReplyByBroadcast);
    if (shared.stopRequested.load()) return AssignmentEnd::StopThread;

    const bool sent = context.channel.SendReply(reply, message);
    log(EvReplySent, desiredAddress);
    log(EvWaitingForRestart);
    if (!m_commands.DeleteNeighbour(source)) log(EvNeighbourTableFailed, source);
    if (!sent) {
        log(EvTransmissionFailed);
        return AssignmentEnd::BackToListening;
    }

    clock.SleepMs(kRestartWaitMs);
    if (!RaiseStage(shared, StageRestarting)) return AssignmentEnd::BackToListening;
    clock.SleepMs(kRestartExtraWaitMs);
    log(EvRestartWaitFinished);
    if (!RaiseStage(shared, StageVerifying)) return AssignmentEnd::BackToListening;

    if (!CheckWebPort(m_workers, desiredNow(), clock, shared.logFile)) return AssignmentEnd::BackToListening;

    if (!RaiseStage(shared, StageVerified)) return AssignmentEnd::BackToListening;
    log(EvTemporarySuccess, desiredAddress);

    const std::string storeAddress = desiredNow();
    const bool stored = StoreByWebForm(m_workers, storeAddress, desiredAddress, context.session, clock, shared.logFile);
    if (stored) RaiseStage(shared, StageStored);
    if (shared.stopRequested.load()) return AssignmentEnd::StopThread;
    if (stored) return AssignmentEnd::BackToListening;

    m_workers.StoreOverFtp(storeAddress, context.session, shared);
    return AssignmentEnd::BackToListening;
}

}  // namespace tessel
