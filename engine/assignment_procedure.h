// The address-assignment procedure: answer the chosen server's request with
// the desired address, follow its restart, verify port 80 at the new
// address, and make the address permanent over HTTP or, failing that, FTP.
// It runs on the network thread and reports only through `stage` and the
// logfile.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/assignment.h"
#include "platform/hostinfo.h"

namespace tessel {

class CLogfile;
class Clock;
class SystemCommands;
struct ProbeRequest;
struct StoreRequest;

// The fixed schedule after the reply.
inline constexpr int kRestartWaitMs = 8400;
inline constexpr int kRestartExtraWaitMs = 4400;
inline constexpr int kPortProbePolls = 60;  // of 140 ms: at most 8.4 s
inline constexpr int kHttpStorePolls = 20;  // of 140 ms: at most 2.8 s

// The workers the procedure starts; tests put scripted ones in their place.
class AssignmentWorkers {
public:
    virtual ~AssignmentWorkers() = default;
    virtual bool StartPortProbe(std::shared_ptr<ProbeRequest> request) = 0;
    virtual bool StartHttpStore(std::shared_ptr<StoreRequest> request) = 0;
    virtual void StoreOverFtp(const std::string& address, const std::shared_ptr<InternetSession>& session,
                              SharedState& shared) = 0;
};

// The real workers: port 80, the form POST and the FTP route.
AssignmentWorkers& NetworkWorkers();

// The verification step with its two events: one connection to port 80 of
// the address, waited for at most 8.4 s. True when it was accepted.
bool CheckWebPort(AssignmentWorkers& workers, const std::string& address, Clock& clock, CLogfile* log);

// The permanent store through the web form with its events (started,
// finished, and the permanent success with `shownAddress` when the server
// confirmed it), waited for at most 2.8 s. True when it was confirmed.
bool StoreByWebForm(AssignmentWorkers& workers, const std::string& address, const std::string& shownAddress,
                    const std::shared_ptr<InternetSession>& session, Clock& clock, CLogfile* log);

// The own address the reply carries (siaddr): hostAddress, or with
// ownAddressOfArrival the address that the request's arrival interface has
// among `interfaces` (this computer's, read now), hostAddress when it has none.
std::string ReplyOwnAddress(const SharedState& shared, const BootpMessage& request,
                            const std::vector<NetworkInterface>& interfaces);

class AddressAssignment final : public AssignmentProcedure {
public:
    AddressAssignment();
    AddressAssignment(AssignmentWorkers& workers, SystemCommands& commands);

    AssignmentEnd Run(AssignmentContext& context, BootpMessage& message, const std::string& serial,
                      const std::string& desiredAddress) override;

private:
    AssignmentWorkers& m_workers;
    SystemCommands& m_commands;
};

}  // namespace tessel
