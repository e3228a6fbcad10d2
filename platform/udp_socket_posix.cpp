#include "platform/udp_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/net_steps.h"

namespace tessel::udp {

Handle Create()
{
    const int fd = here::NewDatagramSocket();
    return fd < 0 ? kInvalidHandle : fd;
}

bool EnableBroadcast(Handle socket)
{
    const int on = 1;
    return ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0;
}

ReceiveResult Receive(Handle socket, std::uint8_t* buffer, std::size_t capacity, Datagram& info)
{
    sockaddr_in from{};
    iovec io{buffer, capacity};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n;
    do {
        n = ::recvmsg(static_cast<int>(socket), &msg, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return ReceiveResult::Error;
    info.length = static_cast<std::size_t>(n);
    if (msg.msg_namelen >= sizeof from && from.sin_family == AF_INET) {
        std::memcpy(info.source, &from.sin_addr, 4);
        info.sourcePort = ntohs(from.sin_port);
        info.hasSource = true;
    }
    info.interfaceIndex = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo pi{};
            std::memcpy(&pi, CMSG_DATA(c), sizeof pi);
            info.interfaceIndex = pi.ipi_ifindex;
        }
    }
    if ((msg.msg_flags & MSG_TRUNC) != 0) return ReceiveResult::Truncated;
    return ReceiveResult::Ok;
}

bool HasWaiting(Handle socket)
{
    pollfd p{};
    p.fd = static_cast<int>(socket);
    p.events = POLLIN;
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

bool SendBroadcast(Handle socket, const std::uint8_t* data, std::size_t length, std::uint16_t port, int interfaceIndex)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    iovec io{const_cast<std::uint8_t*>(data), length};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr msg{};
    msg.msg_name = &to;
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    if (interfaceIndex > 0) {
        // A limited broadcast otherwise follows the default route: wrong on a
        // machine with two networks, impossible on one with none.
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo pi{};
        pi.ipi_ifindex = interfaceIndex;
        std::memcpy(CMSG_DATA(c), &pi, sizeof pi);
    }
    ssize_t n;
    do {
        n = ::sendmsg(static_cast<int>(socket), &msg, 0);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(length);
}

void Shutdown(Handle socket)
{
    ::shutdown(static_cast<int>(socket), SHUT_RDWR);
}

void Close(Handle socket)
{
    if (socket != kInvalidHandle) ::close(static_cast<int>(socket));
}

}  // namespace tessel::udp
