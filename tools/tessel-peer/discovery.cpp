#include "discovery.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "report.h"

namespace peer {

namespace {

constexpr unsigned kServerPort = 67;
// Large enough for any UDP datagram, so the peer sees a reply whole and can
// report its true length.
constexpr std::size_t kReceiveBufferSize = 65536;

using SteadyClock = std::chrono::steady_clock;

std::string Hex32(std::uint32_t value)
{
    char text[12];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::string Hex16(std::uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

std::string SystemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

bool HasAddress(const InterfaceInfo& interface, const Ipv4& address)
{
    return std::find(interface.addresses.begin(), interface.addresses.end(), address) != interface.addresses.end();
}

}  // namespace

DiscoveryService::DiscoveryService(const PeerConfig& config, const InterfaceInfo& interface, RestartService* restart)
    : m_config(config), m_interface(interface), m_restart(restart)
{}

DiscoveryService::~DiscoveryService()
{
    if (m_socket >= 0) close(m_socket);
}

bool DiscoveryService::Open(std::string& error)
{
    // A request "from 0.0.0.0" is only honest when the interface has no
    // address: otherwise the system would put that address in the datagram.
    for (const auto& plan : m_config.servers) {
        Stream stream;
        stream.plan = plan;
        const std::string mac = FormatMac(plan.request.mac);
        switch (plan.source) {
        case SourceKind::Interface:
            if (!m_interface.addresses.empty()) stream.source = m_interface.addresses.front();
            break;
        case SourceKind::Unset:
            if (!m_interface.addresses.empty()) {
                error = "server " + mac + " should send from 0.0.0.0, but " + m_interface.name + " has the address " +
                        FormatIpv4(m_interface.addresses.front());
                return false;
            }
            break;
        case SourceKind::Address:
            if (!HasAddress(m_interface, plan.sourceAddress)) {
                error = "server " + mac + " should send from " + FormatIpv4(plan.sourceAddress) + ", which " +
                        m_interface.name + " does not have";
                return false;
            }
            stream.source = plan.sourceAddress;
            break;
        }
        stream.datagram = BuildRequest(plan.request);
        m_streams.push_back(std::move(stream));
    }

    m_socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_socket < 0) {
        error = SystemError("cannot create a UDP socket");
        return false;
    }
    const int on = 1;
    // Several peers in one namespace share the client port; each hears every
    // broadcast reply, as servers on one wire do.
    if (setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        setsockopt(m_socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        error = SystemError("cannot set the socket options");
        return false;
    }
    // The destination of each reply is reported, so tests see a broadcast
    // from a unicast.
    if (setsockopt(m_socket, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
        error = SystemError("cannot ask for the destination of datagrams");
        return false;
    }
    // Bound to the device, the limited broadcast leaves through it even where
    // the namespace has no route at all.
    if (setsockopt(m_socket, SOL_SOCKET, SO_BINDTODEVICE, m_interface.name.c_str(),
                   static_cast<socklen_t>(m_interface.name.size())) != 0) {
        error = SystemError("cannot bind the socket to " + m_interface.name);
        return false;
    }
    // Datagrams larger than the link are fragmented here rather than refused,
    // so an oversize request reaches the program whole.
    const int noPathMtu = IP_PMTUDISC_DONT;
    if (setsockopt(m_socket, IPPROTO_IP, IP_MTU_DISCOVER, &noPathMtu, sizeof noPathMtu) != 0) {
        error = SystemError("cannot allow fragmentation");
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(m_config.port));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(m_socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        error = SystemError("cannot bind UDP port " + std::to_string(m_config.port));
        return false;
    }
    return true;
}

bool DiscoveryService::HasMoreRounds(unsigned round) const
{
    return std::any_of(m_streams.begin(), m_streams.end(), [round](const Stream& stream) {
        return !stream.silenced && (stream.plan.count == 0 || round < stream.plan.count);
    });
}

bool DiscoveryService::SendOne(Stream& stream, std::string& error)
{
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(kServerPort);
    destination.sin_addr.s_addr = htonl(INADDR_BROADCAST);

    iovec data{};
    // sendmsg does not write through the pointer; an empty datagram still
    // needs a valid one.
    std::uint8_t none = 0;
    data.iov_base = stream.datagram.empty() ? &none : stream.datagram.data();
    data.iov_len = stream.datagram.size();

    msghdr message{};
    message.msg_name = &destination;
    message.msg_namelen = sizeof destination;
    message.msg_iov = &data;
    message.msg_iovlen = 1;

    // A server that has restarted (and goes on asking) asks from its new
    // address.
    if (m_restart != nullptr) {
        if (const auto taken = m_restart->TakenAddress(stream.plan.request.mac)) stream.source = *taken;
    }
    // With an address on the interface, the source is named per datagram, so
    // servers with different addresses can share one socket.
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (stream.source != Ipv4{0, 0, 0, 0}) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = static_cast<int>(m_interface.index);
        std::memcpy(&info.ipi_spec_dst.s_addr, stream.source.data(), 4);
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
    }

    const ssize_t sent = sendmsg(m_socket, &message, 0);
    const std::string mac = FormatMac(stream.plan.request.mac);
    if (sent < 0 || static_cast<std::size_t>(sent) != stream.datagram.size()) {
        error = sent < 0 ? SystemError("cannot send the request of " + mac)
                         : "the request of " + mac + " went out cut short";
        return false;
    }
    ++stream.sent;
    ++m_sentCount;
    ReportLine("SENT mac=" + mac + " xid=" + Hex32(stream.plan.request.xid) + " from=" + FormatIpv4(stream.source) +
               " len=" + std::to_string(sent) + " op=" + std::to_string(stream.plan.request.op));
    return true;
}

bool DiscoveryService::SendRound(unsigned round, std::string& error)
{
    for (auto& stream : m_streams) {
        if (stream.silenced || (stream.plan.count != 0 && round >= stream.plan.count)) continue;
        if (!SendOne(stream, error)) return false;
    }
    return true;
}

void DiscoveryService::ReportDatagram(const std::vector<std::uint8_t>& bytes, std::size_t length,
                                      const std::string& from, const std::string& to)
{
    const std::span<const std::uint8_t> datagram(bytes.data(), length);
    const auto reply = ParseReply(datagram);
    if (!reply || reply->op != kOpReply) {
        ReportLine("OTHER from=" + from + " len=" + std::to_string(length) +
                   " op=" + (length > 0 ? std::to_string(bytes[0]) : std::string("none")));
        return;
    }
    ++m_replyCount;
    const auto stream = std::find_if(m_streams.begin(), m_streams.end(), [&](const Stream& candidate) {
        return candidate.plan.request.mac == reply->mac && candidate.plan.request.xid == reply->xid;
    });
    const bool ours = stream != m_streams.end();
    ReportLine("REPLY mac=" + FormatMac(reply->mac) + " xid=" + Hex32(reply->xid) + " ours=" + (ours ? "1" : "0") +
               " from=" + from + " to=" + to + " len=" + std::to_string(reply->length) + " op=" +
               std::to_string(reply->op) + " flags=" + Hex16(reply->flags) + " ciaddr=" + FormatIpv4(reply->ciaddr) +
               " yiaddr=" + FormatIpv4(reply->yiaddr) + " siaddr=" + FormatIpv4(reply->siaddr) +
               " giaddr=" + FormatIpv4(reply->giaddr) + " sname=" + EscapeText(reply->sname) +
               " sname_nul=" + (reply->snameTerminated ? "1" : "0") + " file=" + EscapeText(reply->file) +
               " cookie=" + reply->cookie + " end=" + std::to_string(reply->endOffset));
    if (ours && m_restart != nullptr && m_restart->OnReply(reply->mac, reply->yiaddr, stream->source) &&
        !m_config.services.keepAsking) {
        stream->silenced = true;
    }
}

void DiscoveryService::ReceiveAll()
{
    std::vector<std::uint8_t> buffer(kReceiveBufferSize);
    for (;;) {
        sockaddr_in from{};
        iovec data{buffer.data(), buffer.size()};
        alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t received = recvmsg(m_socket, &message, MSG_DONTWAIT);
        if (received < 0) return;  // drained (EAGAIN) or a transient error: poll again
        Ipv4 address{};
        std::memcpy(address.data(), &from.sin_addr.s_addr, 4);
        std::string to = "?";
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
                in_pktinfo info{};
                std::memcpy(&info, CMSG_DATA(header), sizeof info);
                Ipv4 destination{};
                std::memcpy(destination.data(), &info.ipi_addr.s_addr, 4);
                to = FormatIpv4(destination);
            }
        }
        ReportDatagram(buffer, static_cast<std::size_t>(received),
                       FormatIpv4(address) + ":" + std::to_string(ntohs(from.sin_port)), to);
    }
}

bool DiscoveryService::Run(const std::atomic<bool>& stop)
{
    ReportLine("READY interface=" + m_interface.name + " index=" + std::to_string(m_interface.index) +
               " port=" + std::to_string(m_config.port) + " servers=" + std::to_string(m_streams.size()));
    const auto interval = std::chrono::milliseconds(m_config.intervalMs);
    auto nextRound = SteadyClock::now();
    auto lastSend = nextRound;
    unsigned round = 0;
    bool sending = true;
    bool ok = true;

    while (!stop.load()) {
        auto now = SteadyClock::now();
        if (sending && now >= nextRound) {
            std::string error;
            if (!SendRound(round, error)) {
                ReportError(error);
                ok = false;
                break;
            }
            ++round;
            nextRound += interval;
            lastSend = SteadyClock::now();
            sending = HasMoreRounds(round);
        }
        now = SteadyClock::now();
        int timeoutMs = -1;
        if (sending) {
            timeoutMs = static_cast<int>(
                std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(nextRound - now).count()));
        } else if (m_config.lingerMs && (m_restart == nullptr || !m_restart->Restarting())) {
            const auto end = lastSend + std::chrono::milliseconds(*m_config.lingerMs);
            if (now >= end) break;
            timeoutMs = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count()) + 1;
        }
        pollfd watch{m_socket, POLLIN, 0};
        const int ready = poll(&watch, 1, timeoutMs);
        if (ready > 0) ReceiveAll();
        // EINTR: a stop signal; the loop condition sees it.
    }
    ReceiveAll();
    ReportLine("DONE sent=" + std::to_string(m_sentCount) + " replies=" + std::to_string(m_replyCount));
    return ok;
}

}  // namespace peer
