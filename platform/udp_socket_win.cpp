#include "platform/udp_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace tessel::udp {

namespace {

SOCKET AsSocket(Handle socket)
{
    return static_cast<SOCKET>(socket);
}

// WSARecvMsg is reached only through the provider's extension table; the
// pointer is the same for every UDP socket of the process, so it is asked
// for until it is known and then kept.
LPFN_WSARECVMSG ReceiveMessageFunction(SOCKET socket)
{
    static std::atomic<LPFN_WSARECVMSG> known{nullptr};
    if (const LPFN_WSARECVMSG function = known.load()) return function;
    GUID id = WSAID_WSARECVMSG;
    DWORD bytes = 0;
    LPFN_WSARECVMSG found = nullptr;
    if (::WSAIoctl(socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &found, sizeof found, &bytes, nullptr,
                   nullptr) != 0)
        return nullptr;
    known.store(found);
    return found;
}

}  // namespace

Handle Create()
{
    const SOCKET socket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (socket == INVALID_SOCKET) return kInvalidHandle;
    // The arrival interface of each request: the reply goes back out of it.
    const DWORD on = 1;
    ::setsockopt(socket, IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on), sizeof on);
    // Without this, an ICMP "port unreachable" that some earlier send caused
    // makes the next receive fail; a BOOTP server has no use for that news.
    BOOL report = FALSE;
    DWORD bytes = 0;
    ::WSAIoctl(socket, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &bytes, nullptr, nullptr);
    if (ReceiveMessageFunction(socket) == nullptr) {
        ::closesocket(socket);
        return kInvalidHandle;
    }
    return static_cast<Handle>(socket);
}

bool EnableBroadcast(Handle socket)
{
    const BOOL on = TRUE;
    return ::setsockopt(AsSocket(socket), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

BindResult Bind(Handle socket, std::uint16_t port)
{
    // Windows lets a later program bind a port already in use when it asks
    // for address reuse, and then hands it our requests; exclusive use keeps
    // the port ours for as long as we hold it.
    const BOOL on = TRUE;
    ::setsockopt(AsSocket(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(AsSocket(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0) return BindResult::Ok;
    switch (::WSAGetLastError()) {
    case WSAEADDRINUSE:
        return BindResult::InUse;
    // Windows has no privileged ports: a refused bind means that another
    // program holds the port for its exclusive use.
    case WSAEACCES:
        return BindResult::InUse;
    default:
        return BindResult::OtherError;
    }
}

ReceiveResult Receive(Handle socket, std::uint8_t* buffer, std::size_t capacity, Datagram& info)
{
    const LPFN_WSARECVMSG receiveMessage = ReceiveMessageFunction(AsSocket(socket));
    if (receiveMessage == nullptr) return ReceiveResult::Error;
    for (;;) {
        sockaddr_in from{};
        WSABUF data{static_cast<ULONG>(capacity), reinterpret_cast<char*>(buffer)};
        alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
        WSAMSG msg{};
        msg.name = reinterpret_cast<sockaddr*>(&from);
        msg.namelen = sizeof from;
        msg.lpBuffers = &data;
        msg.dwBufferCount = 1;
        msg.Control = WSABUF{sizeof control, control};
        DWORD received = 0;
        const int error =
            receiveMessage(AsSocket(socket), &msg, &received, nullptr, nullptr) == 0 ? 0 : ::WSAGetLastError();
        if (error == WSAECONNRESET || error == WSAEINTR) continue;
        if (error != 0 && error != WSAEMSGSIZE) return ReceiveResult::Error;

        info = Datagram{};
        if (msg.namelen >= static_cast<INT>(sizeof from) && from.sin_family == AF_INET) {
            std::memcpy(info.source, &from.sin_addr, 4);
            info.sourcePort = ntohs(from.sin_port);
            info.hasSource = true;
        }
        for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&msg); c != nullptr; c = WSA_CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                IN_PKTINFO pi{};
                std::memcpy(&pi, WSA_CMSG_DATA(c), sizeof pi);
                info.interfaceIndex = static_cast<int>(pi.ipi_ifindex);
            }
        }
        if (error == WSAEMSGSIZE || (msg.dwFlags & MSG_TRUNC) != 0) return ReceiveResult::Truncated;
        info.length = received;
        // An empty datagram carries nothing for us: it is Shutdown's wake-up.
        if (received == 0) info.hasSource = false;
        return ReceiveResult::Ok;
    }
}

bool HasWaiting(Handle socket)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(AsSocket(socket), &readable);
    timeval now{0, 0};
    return ::select(0, &readable, nullptr, nullptr, &now) > 0;
}

void (*betweenOptionAndSend)() = nullptr;

bool SendThrough(Handle socket, const std::uint8_t* data, std::size_t length, std::uint32_t address, std::uint16_t port,
                 int interfaceIndex)
{
    // Windows takes the interface for sending from IP_UNICAST_IF (its index
    // in network byte order; 0 gives the routing table back its say) and
    // ignores the interface of an IP_PKTINFO given with the datagram. One
    // lock for the process: its sends are few, and it has one such socket.
    static std::mutex pairLock;
    std::lock_guard<std::mutex> pair(pairLock);
    const DWORD index = htonl(static_cast<u_long>(interfaceIndex > 0 ? interfaceIndex : 0));
    if (::setsockopt(AsSocket(socket), IPPROTO_IP, IP_UNICAST_IF, reinterpret_cast<const char*>(&index),
                     sizeof index) != 0 &&
        interfaceIndex > 0)
        return false;
    if (betweenOptionAndSend != nullptr) betweenOptionAndSend();
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(address);
    const int sent = ::sendto(AsSocket(socket), reinterpret_cast<const char*>(data), static_cast<int>(length), 0,
                              reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent == static_cast<int>(length);
}

bool SendBroadcast(Handle socket, const std::uint8_t* data, std::size_t length, std::uint16_t port, int interfaceIndex)
{
    // A limited broadcast otherwise follows the default route: wrong on a
    // machine with two networks, impossible on one with none.
    return SendThrough(socket, data, length, INADDR_BROADCAST, port, interfaceIndex);
}

void Shutdown(Handle socket)
{
    // A blocked receive on Windows does not end when the socket is shut
    // down; a datagram of no bytes on loopback to the socket's own port
    // wakes it, and Receive reports any empty datagram as a wake-up.
    sockaddr_in self{};
    int size = sizeof self;
    if (::getsockname(AsSocket(socket), reinterpret_cast<sockaddr*>(&self), &size) != 0 || self.sin_port == 0) return;
    const SOCKET waker = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (waker == INVALID_SOCKET) return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = self.sin_port;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(waker, "", 0, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    ::closesocket(waker);
}

void Close(Handle socket)
{
    if (socket != kInvalidHandle) ::closesocket(AsSocket(socket));
}

}  // namespace tessel::udp
