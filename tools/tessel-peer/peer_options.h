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

// What a server does once it hears a reply meant for it: restart with the
// address, then offer its web form and FTP service there. One set for the
// whole peer; each scenario runs one peer per server whose services matter.
struct ServiceConfig {
    bool ignoreReplies = false;   // hears replies, never restarts
    bool keepAsking = false;      // goes on sending requests after a restart
    bool keepOldAddress = false;  // the address it asked from stays on the interface
    unsigned restartMs = 3000;    // from the reply to the new address being up
    unsigned prefix = 24;         // of the new address
    bool icmp = true;             // the kernel answers echo requests once restarted
    std::string recordFolder;     // empty: requests and uploads are not kept as files

    bool web = true;
    unsigned webStatus = 200;  // for an authorised form POST
    unsigned webDelayMs = 0;   // before that answer
    std::string webPassword = "wxyz";

    bool ftp = true;
    std::string ftpPassword = "wxyz";
    std::vector<std::string> ftpFiles{"CONFIG"};  // what NLST lists, in order
    bool ftpMissing450 = false;                   // an empty listing answered 450 instead of 226
    bool ftpRefuseUpload = false;
    bool ftpDropUpload = false;
};

struct PeerConfig {
    ServiceConfig services;
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
