#include "platform/icmp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/net_steps.h"
#include "platform/privileges.h"

namespace tessel {

namespace {

constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kEchoReply = 0;
constexpr std::size_t kIcmpHeaderSize = 8;

// Closes the socket on every path.
class SocketGuard {
public:
    explicit SocketGuard(int fd) : m_fd(fd) {}
    ~SocketGuard()
    {
        if (m_fd >= 0) ::close(m_fd);
    }
    SocketGuard(const SocketGuard&) = delete;
    SocketGuard& operator=(const SocketGuard&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

std::uint16_t InternetChecksum(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2) sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
    if (size % 2 != 0) sum += static_cast<std::uint32_t>(data[size - 1] << 8);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

// Every probe of this process gets its own sequence number, so that two
// probes running at once (a late one and a new one) never take each
// other's replies for their own.
std::uint16_t NextSequence()
{
    static std::atomic<std::uint16_t> sequence{0};
    return static_cast<std::uint16_t>(sequence.fetch_add(1) + 1);
}

bool IsPermissionError(int error)
{
    return error == EACCES || error == EPERM;
}

// The socket, or -1 with `refused` telling whether the system said no for
// lack of permission (rather than for want of resources).
int OpenSocket(IcmpSocketKind kind, bool& raw, bool& refused)
{
    if (kind != IcmpSocketKind::Raw) {
        // Permitted only where net.ipv4.ping_group_range includes our group.
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
        refused = fd < 0 && IsPermissionError(errno);
        if (fd >= 0 || kind == IcmpSocketKind::Datagram) {
            raw = false;
            return fd;
        }
    }
    raw = true;
    int fd = -1;
    int error = 0;
    {
        // cap_net_raw is checked when the socket is made, not when it sends.
        const RaisedRight right(NetworkRight::RawSocket);
        fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        error = errno;
    }
    // Refused only when no road was open: a datagram socket that failed for
    // another reason makes the raw socket's refusal a plain failure.
    refused = fd < 0 && IsPermissionError(error) && (kind == IcmpSocketKind::Raw || refused);
    return fd;
}

// True when the received bytes are the echo reply to our request. A raw
// socket sees every ICMP message of the host, IP header included, so the
// reply is matched by source, identifier and sequence; a datagram socket
// gets only replies to its own identifier, without the IP header.
bool IsOurReply(const std::uint8_t* data, std::size_t size, bool raw, std::uint16_t id, std::uint16_t sequence)
{
    if (raw) {
        if (size < 20) return false;
        const std::size_t headerSize = static_cast<std::size_t>(data[0] & 0x0F) * 4;
        if (headerSize < 20 || size < headerSize + kIcmpHeaderSize) return false;
        data += headerSize;
        size -= headerSize;
    }
    if (size < kIcmpHeaderSize || data[0] != kEchoReply || data[1] != 0) return false;
    const auto replySequence = static_cast<std::uint16_t>(data[6] << 8 | data[7]);
    if (replySequence != sequence) return false;
    if (!raw) return true;  // the system has already matched the identifier
    const auto replyId = static_cast<std::uint16_t>(data[4] << 8 | data[5]);
    return replyId == id;
}

}  // namespace

IcmpAnswer here::IcmpEcho(const std::string& address, int timeoutMs, IcmpSocketKind kind)
{
    // Text that is not an address is not probed at all: sending to the
    // all-ones address instead would be a broadcast ping.
    in_addr target{};
    if (::inet_pton(AF_INET, address.c_str(), &target) != 1) return IcmpAnswer::NotSent;

    bool raw = false;
    bool refused = false;
    SocketGuard socket(OpenSocket(kind, raw, refused));
    if (socket.fd() < 0) return refused ? IcmpAnswer::NotPermitted : IcmpAnswer::NotSent;

#ifdef __linux__
    if (raw) {
        // Let the system drop every ICMP type except echo replies before
        // they reach us (Linux's ICMP_FILTER option; an optimisation only).
        constexpr int kIcmpFilterOption = 1;
        std::uint32_t filter = ~(1U << kEchoReply);
        ::setsockopt(socket.fd(), SOL_RAW, kIcmpFilterOption, &filter, sizeof filter);
    }
#endif

    const auto id = static_cast<std::uint16_t>(::getpid());
    const std::uint16_t sequence = NextSequence();
    std::uint8_t request[kIcmpHeaderSize] = {kEchoRequest,
                                             0,
                                             0,
                                             0,
                                             static_cast<std::uint8_t>(id >> 8),
                                             static_cast<std::uint8_t>(id),
                                             static_cast<std::uint8_t>(sequence >> 8),
                                             static_cast<std::uint8_t>(sequence)};
    // A datagram socket fills in identifier and checksum itself; a raw one
    // sends exactly these bytes.
    const std::uint16_t checksum = InternetChecksum(request, sizeof request);
    request[2] = static_cast<std::uint8_t>(checksum >> 8);
    request[3] = static_cast<std::uint8_t>(checksum);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr = target;
    if (::sendto(socket.fd(), request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) !=
        static_cast<ssize_t>(sizeof request)) {
        // No route is an answer of its own: nobody can be reached there.
        // Anything else (a firewall's EPERM included: that is not about our
        // privileges) means the question was never asked.
        if (errno == ENETUNREACH || errno == EHOSTUNREACH) return IcmpAnswer::NoAnswer;
        return IcmpAnswer::NotSent;
    }

    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
    for (;;) {
        const auto left = ceil<milliseconds>(deadline - steady_clock::now()).count();
        if (left <= 0) return IcmpAnswer::NoAnswer;
        pollfd wait{socket.fd(), POLLIN, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return ready == 0 ? IcmpAnswer::NoAnswer : IcmpAnswer::NotSent;

        std::uint8_t reply[1500];
        sockaddr_in from{};
        socklen_t fromSize = sizeof from;
        const ssize_t got =
            ::recvfrom(socket.fd(), reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (got < 0) {
            // A datagram socket reports an ICMP error (unreachable) as a
            // failed receive: that is not an answer, keep waiting.
            if (errno == EINTR || errno == EAGAIN || errno == ECONNREFUSED || errno == EHOSTUNREACH ||
                errno == ENETUNREACH)
                continue;
            return IcmpAnswer::NotSent;
        }
        if (from.sin_addr.s_addr != target.s_addr) continue;
        if (IsOurReply(reply, static_cast<std::size_t>(got), raw, id, sequence)) return IcmpAnswer::Answered;
    }
}

}  // namespace tessel
