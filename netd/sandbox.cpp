#include "netd/sandbox.h"

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>

#include <iterator>

#include "netd/system_call_filters.h"  // made by the build: tessel-net-filter
#include "platform/privileges.h"

#include "netd/address_sanitizer.h"
#ifdef TESSEL_ADDRESS_SANITIZER
#include <sanitizer/lsan_interface.h>
#endif

namespace tessel::nethelper {

void KeepRoleRights(Role role)
{
    if (role == Role::Check) {
        DropNetworkRight(NetworkRight::BindPort);
        DropNetworkRight(NetworkRight::NeighbourTable);
    } else {
        DropNetworkRight(NetworkRight::RawSocket);
    }
}

std::string_view BuiltSystemCallFilter(Role role)
{
    const auto bytes = [](const auto& filter) {
        return std::string_view(reinterpret_cast<const char*>(filter), sizeof filter);
    };
    return role == Role::Check ? bytes(built::kCheckFilter) : bytes(built::kTableFilter);
}

bool InstallSystemCallFilter(Role role)
{
#ifdef TESSEL_ADDRESS_SANITIZER
    // The sanitizer builds' leak check at exit reads /proc and stops the
    // threads with ptrace: it is made now, once, and not again at the end.
    __lsan_do_leak_check();
#endif
    const std::string_view filter = BuiltSystemCallFilter(role);
    sock_fprog program{};
    program.len = static_cast<unsigned short>(filter.size() / sizeof(sock_filter));
    // The kernel copies the program; it does not write to it.
    program.filter = reinterpret_cast<sock_filter*>(const_cast<char*>(filter.data()));
    // As libseccomp's own load does: no_new_privs first, which lets a
    // process without CAP_SYS_ADMIN install a filter.
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) == 0;
}

}  // namespace tessel::nethelper
