#include "netd/filter_rules.h"

#include <linux/netlink.h>
#include <netinet/in.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <iterator>

#include "netd/address_sanitizer.h"

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

// The type's own bits; the rest are SOCK_CLOEXEC and SOCK_NONBLOCK.
constexpr scmp_datum_t kSocketTypeMask = 0xF;

}  // namespace

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

std::vector<AllowedSocket> AllowedSockets(Role role)
{
    // A check: a ping socket where the system allows one, else a raw ICMP
    // socket (cap_net_raw). A table helper: the port's UDP socket and the
    // route netlink socket of the neighbour table.
    if (role == Role::Check) return {{AF_INET, SOCK_DGRAM, IPPROTO_ICMP}, {AF_INET, SOCK_RAW, IPPROTO_ICMP}};
    return {{AF_INET, SOCK_DGRAM, IPPROTO_UDP}, {AF_NETLINK, SOCK_RAW, NETLINK_ROUTE}};
}

std::optional<std::string> MakeSystemCallFilter(Role role)
{
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_KILL_PROCESS);
    if (filter == nullptr) return std::nullopt;
    bool ok = true;
    for (const std::string& name : AllowedSystemCalls(role)) {
        const int call = seccomp_syscall_resolve_name(name.c_str());
        if (call == __NR_SCMP_ERROR) continue;  // not a call of this architecture
        if (name != "socket") {
            ok = ok && seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0) == 0;
            continue;
        }
        for (const AllowedSocket& socket : AllowedSockets(role)) {
            const scmp_arg_cmp args[] = {
                {0, SCMP_CMP_EQ, static_cast<scmp_datum_t>(socket.family), 0},
                {1, SCMP_CMP_MASKED_EQ, kSocketTypeMask, static_cast<scmp_datum_t>(socket.type)},
                {2, SCMP_CMP_EQ, static_cast<scmp_datum_t>(socket.protocol), 0},
            };
            ok = ok && seccomp_rule_add_array(filter, SCMP_ACT_ALLOW, call, 3, args) == 0;
        }
    }
    // seccomp_export_bpf writes to a descriptor: a file in memory.
    const int fd = ok ? ::memfd_create("tessel-net-filter", MFD_CLOEXEC) : -1;
    ok = fd >= 0 && seccomp_export_bpf(filter, fd) == 0;
    seccomp_release(filter);
    std::string bytes;
    if (ok) {
        char buffer[4096];
        ssize_t got = 0;
        off_t at = 0;
        while ((got = ::pread(fd, buffer, sizeof buffer, at)) > 0) {
            bytes.append(buffer, static_cast<std::size_t>(got));
            at += got;
        }
        ok = got == 0 && !bytes.empty();
    }
    if (fd >= 0) ::close(fd);
    if (!ok) return std::nullopt;
    return bytes;
}

}  // namespace tessel::nethelper
