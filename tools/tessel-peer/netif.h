// What the peer needs to know about its network: which interface it sends on,
// the IPv4 addresses that interface has, and whether it runs in a namespace of
// its own (so its broadcasts cannot reach the machine's real network).
#pragma once

#include <string>
#include <vector>

#include "bootp_wire.h"

namespace peer {

struct InterfaceInfo {
    std::string name;
    unsigned index = 0;
    std::vector<Ipv4> addresses;  // in the order the system reports them
};

// An empty name picks the only interface that is up and not loopback.
// Nothing, with the reason in error, when there is no such single interface.
bool FindInterface(const std::string& name, InterfaceInfo& info, std::string& error);

// True when this process runs in a named network namespace (one made with
// `ip netns add`, found under /run/netns). The machine's own namespace has no
// such name. When that cannot be told, the answer is false, so the caller
// stays safe.
bool InOwnNetworkNamespace();

}  // namespace peer
