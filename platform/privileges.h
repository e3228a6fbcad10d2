// What the program needs from the system beyond an ordinary user's rights,
// the advice that tells a user how to give it without running as root, and
// the handling that keeps those rights idle while they are not needed.
// One text for every front end, so that each names the same capabilities.
#pragma once

#include <string>

namespace tessel {

// The capabilities, in setcap's spelling: port 67, ICMP, the neighbour table.
inline constexpr const char* kNeededCapabilities = "cap_net_bind_service,cap_net_raw,cap_net_admin";

// The path of the running program, for a command the user can paste;
// `fallback` when the system does not tell.
std::string RunningProgramPath(const std::string& fallback);

// Lines (joined by "\n", no line feed at the end) for a user who may not
// make the network steps, the same from every command (`program` names the
// command): on Linux how to join the group tessel, or that the helper is
// missing, or the setcap command for the helper with each capability and
// what it is for; never a capability for the program itself.
std::string CapabilitiesAdvice(const std::string& program);

// The three network rights, each needed by one kind of call.
enum class NetworkRight {
    BindPort,        // cap_net_bind_service: binding UDP port 67
    RawSocket,       // cap_net_raw: opening the raw ICMP socket
    NeighbourTable,  // cap_net_admin: the neighbour-table requests
};

// Takes the three network capabilities out of the effective set and clears
// the inheritable and ambient sets, so that neither the program's own code
// nor any command it starts acts with them. They stay permitted, for
// RaisedRight. Call first thing in main(): capabilities belong to a thread,
// and every thread started afterwards takes the caller's sets. A no-op on
// Windows, which has no such rights.
void LowerNetworkRights();

// Takes one network capability out of the calling thread's permitted and
// effective sets for good (the helper, before it serves its role).
void DropNetworkRight(NetworkRight right);

// Makes one permitted network capability effective on the calling thread
// for the lifetime of the object, around the one call that needs it. Where
// the program does not hold it, nothing changes and the call is refused as
// before.
class RaisedRight {
public:
    explicit RaisedRight(NetworkRight right);
    ~RaisedRight();
    RaisedRight(const RaisedRight&) = delete;
    RaisedRight& operator=(const RaisedRight&) = delete;

private:
    int m_capability = -1;  // the one raised here; -1 when none was
};

}  // namespace tessel
