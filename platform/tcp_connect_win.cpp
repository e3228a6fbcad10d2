#include "platform/tcp_connect.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/socket_layer_win.h"

namespace tessel {

bool ConnectAndClose(const std::string& address, std::uint16_t port)
{
    const ScopedSocketLayer layer;
    if (!layer.ok()) return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1) return false;

    const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET) return false;
    const bool connected = ::connect(socket, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
    // Nothing is sent: the server sees a connection opened and shut down.
    ::shutdown(socket, SD_BOTH);
    ::closesocket(socket);
    return connected;
}

}  // namespace tessel
