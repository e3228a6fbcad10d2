// What the helper gives up before it answers anything: the capabilities
// its role does not use, and every system call its requests do not make.
#pragma once

#include <string_view>

#include "netd/protocol.h"

namespace tessel::nethelper {

// Takes every network capability that `role` does not use out of the
// permitted set for good: a check helper keeps cap_net_raw, a table
// helper cap_net_bind_service (until the port is bound) and cap_net_admin.
void KeepRoleRights(Role role);

// The filter of `role` as the build made it (netd/filter_rules.h), as
// bytes of classic BPF.
std::string_view BuiltSystemCallFilter(Role role);

// Installs the built filter: from here on any other system call (or a
// socket of another kind) ends the process at once. False when the kernel
// refused.
bool InstallSystemCallFilter(Role role);

}  // namespace tessel::nethelper
