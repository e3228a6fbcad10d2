#include "netd/sandbox.h"

#include <seccomp.h>
#include <sys/socket.h>

#include "platform/privileges.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSEL_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TESSEL_ADDRESS_SANITIZER 1
#endif
#ifdef TESSEL_ADDRESS_SANITIZER
#include <sanitizer/lsan_interface.h>
#endif

namespace tessel::nethelper {

namespace {

// Every helper: its socket to the program (recvmsg, sendmsg, ppoll), the
// memory the C++ library asks for, the capability calls around each step,
// the clock of the checks' pacing and of the entries' lifetime, and its end.
constexpr const char* kCommonCalls[] = {
    "recvmsg",      "sendmsg",        "ppoll",           "poll",      "close", "brk",
    "mmap",         "munmap",         "mremap",          "madvise",   "futex", "capget",
    "capset",       "clock_gettime",  "clock_nanosleep", "nanosleep", "exit",  "exit_group",
    "rt_sigreturn", "rt_sigprocmask", "restart_syscall",
};
// echo: one datagram or raw ICMP socket per check (its identifier is the pid).
constexpr const char* kCheckCalls[] = {"socket", "setsockopt", "sendto", "recvfrom", "getpid"};
// bind-server-port and the neighbour table over rtnetlink.
constexpr const char* kTableCalls[] = {"socket", "setsockopt", "bind", "getsockname", "sendto", "time"};

}  // namespace

void KeepRoleRights(Role role)
{
    if (role == Role::Check) {
        DropNetworkRight(NetworkRight::BindPort);
        DropNetworkRight(NetworkRight::NeighbourTable);
    } else {
        DropNetworkRight(NetworkRight::RawSocket);
    }
}

std::vector<std::string> AllowedSystemCalls(Role role)
{
    std::vector<std::string> calls(std::begin(kCommonCalls), std::end(kCommonCalls));
#ifdef TESSEL_ADDRESS_SANITIZER
    // The sanitizer's runtime takes down a thread's alternate signal stack
    // as the thread ends (test builds only).
    calls.emplace_back("sigaltstack");
#endif
    if (role == Role::Check)
        calls.insert(calls.end(), std::begin(kCheckCalls), std::end(kCheckCalls));
    else
        calls.insert(calls.end(), std::begin(kTableCalls), std::end(kTableCalls));
    return calls;
}

bool InstallSystemCallFilter(Role role)
{
#ifdef TESSEL_ADDRESS_SANITIZER
    // The sanitizer builds' leak check at exit reads /proc and stops the
    // threads with ptrace: it is made now, once, and not again at the end.
    __lsan_do_leak_check();
#endif
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_KILL_PROCESS);
    if (filter == nullptr) return false;
    bool ok = true;
    for (const std::string& name : AllowedSystemCalls(role)) {
        const int call = seccomp_syscall_resolve_name(name.c_str());
        if (call == __NR_SCMP_ERROR) continue;  // not a call of this architecture
        if (name == "socket") {
            // Sockets of the role's families only: IPv4 for the port and the
            // checks, rtnetlink for the neighbour table.
            for (const int family : {AF_INET, AF_NETLINK}) {
                if (family == AF_NETLINK && role != Role::Table) continue;
                const scmp_arg_cmp first{0, SCMP_CMP_EQ, static_cast<scmp_datum_t>(family), 0};
                ok = ok && seccomp_rule_add_array(filter, SCMP_ACT_ALLOW, call, 1, &first) == 0;
            }
        } else {
            ok = ok && seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0) == 0;
        }
    }
    ok = ok && seccomp_load(filter) == 0;
    seccomp_release(filter);
    return ok;
}

}  // namespace tessel::nethelper
