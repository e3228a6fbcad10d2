// The one place that decides who makes a privileged network step (binding
// UDP port 67, an ICMP echo check, a change of the neighbour table): the
// program itself where it may (as root, with the capability, or where the
// system asks for none), otherwise the network helper tessel-net, started
// as a child over a socket pair (docs/privileges.md). The platform's
// udp::Bind, IcmpEcho, AddOwnNeighbour and RemoveOwnNeighbours are defined
// here on Linux, so that nobody above the platform layer knows which.
// Linux only: Windows has no helper.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tessel {

enum class StepRoute { Here, Helper };

struct StepFacts {
    bool root = false;               // the effective user is root
    bool permitted = false;          // the step's capability is in the permitted set
    bool needsNoCapability = false;  // the system lets anyone make it
};

StepRoute ChooseRoute(const StepFacts& facts);

// Whether binding `port` needs cap_net_bind_service, given the text of
// /proc/sys/net/ipv4/ip_unprivileged_port_start (1024 where it cannot be read).
bool PortNeedsCapability(std::uint16_t port, std::string_view unprivilegedPortStart);

// How the last start of the helper went.
enum class HelperStart {
    NotTried,
    Running,
    NoAccess,  // the system refused to run it: the user is not in the group tessel
    Missing,   // no helper at its path
    Failed,    // it could not be started for another reason
};
HelperStart NetHelperState();

// The helper this program starts: a tessel-net beside the program itself,
// else the build tree's one for a program of the build tree, else the
// installed one. Always an absolute path fixed at build time or read from
// the system, never the current folder nor PATH.
std::string NetHelperPath();

// The text for a user who may not run the helper: the group tessel and
// how an administrator adds them. `program` names the command.
std::string GroupAccessAdvice(const std::string& program);

}  // namespace tessel
