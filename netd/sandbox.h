// What the helper gives up before it answers anything: the capabilities
// its role does not use, and every system call its requests do not make.
#pragma once

#include <string>
#include <vector>

#include "netd/protocol.h"

namespace tessel::nethelper {

// Takes every network capability that `role` does not use out of the
// permitted set for good: a check helper keeps cap_net_raw, a table
// helper cap_net_bind_service (until the port is bound) and cap_net_admin.
void KeepRoleRights(Role role);

// The system calls a helper of `role` makes after its start, by name.
std::vector<std::string> AllowedSystemCalls(Role role);

// Installs the filter: from here on any other system call (or a socket of
// another family) ends the process at once. False when the kernel refused.
bool InstallSystemCallFilter(Role role);

}  // namespace tessel::nethelper
