// The helper's system-call filter as data: the calls and the sockets each
// role makes after its start, and the filter libseccomp makes from them.
// libseccomp is the one source of the filter: the build runs it once
// (filter_generator.cpp) and the helper loads what it made (sandbox.cpp),
// so that no helper pays for compiling its filter at every start.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "netd/protocol.h"

namespace tessel::nethelper {

// The system calls a helper of `role` makes after its start, by name.
std::vector<std::string> AllowedSystemCalls(Role role);

// The one kind of socket() a role may open: family, type (without its
// SOCK_CLOEXEC/SOCK_NONBLOCK flags) and protocol, all three exactly.
struct AllowedSocket {
    int family = 0;
    int type = 0;
    int protocol = 0;
};
std::vector<AllowedSocket> AllowedSockets(Role role);

// The filter of `role` (classic BPF, as seccomp_export_bpf writes it for
// this machine's architecture): any call or socket not in the tables above
// kills the process. Empty when libseccomp refused.
std::optional<std::string> MakeSystemCallFilter(Role role);

}  // namespace tessel::nethelper
