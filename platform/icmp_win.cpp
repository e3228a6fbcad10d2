#include "platform/icmp.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include <cstring>

namespace tessel {

namespace {

// One reply record with no echoed data, plus the 8 bytes the service wants
// for an ICMP error message. The record is the 64-bit one here: a buffer
// sized for the 32-bit record makes every call fail (invalid parameter).
constexpr DWORD kReplyBufferSize = sizeof(ICMP_ECHO_REPLY) + 8;

class IcmpHandle {
public:
    IcmpHandle() : m_handle(::IcmpCreateFile()) {}
    ~IcmpHandle()
    {
        if (valid()) ::IcmpCloseHandle(m_handle);
    }
    IcmpHandle(const IcmpHandle&) = delete;
    IcmpHandle& operator=(const IcmpHandle&) = delete;
    bool valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return m_handle; }

private:
    HANDLE m_handle;
};

// What a failed IcmpSendEcho says: the network's verdict (nobody could be
// reached, nobody answered in time) is an answer of its own, as a missing
// route is on POSIX; a refusal of our rights, or anything else, means that
// the question was never asked.
IcmpAnswer WhyNoReply(DWORD error)
{
    switch (error) {
    case IP_REQ_TIMED_OUT:
    case IP_DEST_NET_UNREACHABLE:
    case IP_DEST_HOST_UNREACHABLE:
    case IP_DEST_PROT_UNREACHABLE:
    case IP_DEST_PORT_UNREACHABLE:
    case IP_TTL_EXPIRED_TRANSIT:
    case IP_TTL_EXPIRED_REASSEM:
    case ERROR_NETWORK_UNREACHABLE:
    case ERROR_HOST_UNREACHABLE:
        return IcmpAnswer::NoAnswer;
    case ERROR_ACCESS_DENIED:
        return IcmpAnswer::NotPermitted;
    default:
        return IcmpAnswer::NotSent;
    }
}

}  // namespace

// The system's ICMP service picks its own socket; the kind only matters
// where the program opens the socket itself.
IcmpAnswer IcmpEcho(const std::string& address, int timeoutMs, IcmpSocketKind)
{
    // Text that is not an address is not probed at all: sending to the
    // all-ones address instead would be a broadcast ping.
    in_addr target{};
    if (::inet_pton(AF_INET, address.c_str(), &target) != 1) return IcmpAnswer::NotSent;

    IcmpHandle icmp;
    // Without a handle nothing was asked: that is never "no answer".
    if (!icmp.valid()) return ::GetLastError() == ERROR_ACCESS_DENIED ? IcmpAnswer::NotPermitted : IcmpAnswer::NotSent;
    alignas(ICMP_ECHO_REPLY) unsigned char reply[kReplyBufferSize] = {};
    char noData = 0;
    const DWORD replies = ::IcmpSendEcho(icmp.get(), target.s_addr, &noData, 0, nullptr, reply, sizeof reply,
                                         static_cast<DWORD>(timeoutMs > 0 ? timeoutMs : 0));
    if (replies == 0) return WhyNoReply(::GetLastError());
    // The service also counts an error report (a router's "host
    // unreachable") as a reply; only an echo reply from the address itself
    // means that a device answers there, as on every other platform.
    ICMP_ECHO_REPLY first{};
    std::memcpy(&first, reply, sizeof first);
    return first.Status == IP_SUCCESS && first.Address == target.s_addr ? IcmpAnswer::Answered : IcmpAnswer::NoAnswer;
}

EchoHelperAllowance::EchoHelperAllowance() = default;
EchoHelperAllowance::~EchoHelperAllowance() = default;

}  // namespace tessel
