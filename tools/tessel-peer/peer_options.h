// The peer's command line: global settings and one entry per simulated server.
// Server options before the first --server are defaults for all servers;
// after a --server they apply to that server only.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "bootp_wire.h"

namespace peer {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 64;
inline constexpr int kExitUnavailable = 69;

inline constexpr unsigned kDefaultClientPort = 68;
inline constexpr Ipv4 kFactoryDefaultAddress{198, 51, 100, 80};

// Where a server's requests come from.
enum class SourceKind {
    Interface,  // the interface's first IPv4 address, or 0.0.0.0 when it has none
    Unset,      // 0.0.0.0: the interface must have no IPv4 address
    Address,    // this address, which must be one of the interface's
};

struct ServerPlan {
    RequestPlan request;
    bool xidGiven = false;
    SourceKind source = SourceKind::Interface;
    Ipv4 sourceAddress{};
    unsigned count = 1;  // 0: until stopped
};

struct PeerConfig {
    std::string interfaceName;  // empty: the only non-loopback interface
    unsigned port = kDefaultClientPort;
    unsigned intervalMs = 1000;
    std::optional<unsigned> lingerMs = 2000;  // none: listen until stopped
    bool hostNetwork = false;
    std::vector<ServerPlan> servers;
};

struct ParseResult {
    std::optional<PeerConfig> config;  // none with help or an error
    bool help = false;
    std::string error;
};

ParseResult ParseCommandLine(int argc, char** argv);
void PrintUsage(std::FILE* out);

}  // namespace peer
