#include "platform/tcp_connect.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tessel {

namespace {

// A blocking connect. A signal cannot abort the attempt half way: the
// connection goes on in the background, so wait for its end.
bool Connect(int fd, const sockaddr_in& to)
{
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return true;
    if (errno != EINTR) return false;
    pollfd wait{fd, POLLOUT, 0};
    while (::poll(&wait, 1, -1) < 0)
        if (errno != EINTR) return false;
    int error = 0;
    socklen_t size = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

}  // namespace

bool ConnectAndClose(const std::string& address, std::uint16_t port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1) return false;

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool connected = Connect(fd, to);
    // Nothing is sent: the server sees a connection opened and shut down.
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
    return connected;
}

}  // namespace tessel
