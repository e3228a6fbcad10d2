#include "tcp_link.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace peer {

namespace {

sockaddr_in SocketAddress(const Ipv4& address, unsigned port)
{
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_port = htons(static_cast<std::uint16_t>(port));
    std::memcpy(&socketAddress.sin_addr.s_addr, address.data(), 4);
    return socketAddress;
}

bool WaitFor(int fd, short events, int timeoutMs)
{
    pollfd watch{fd, events, 0};
    for (;;) {
        const int ready = poll(&watch, 1, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        return ready > 0;
    }
}

}  // namespace

int ListenOn(const Ipv4& address, unsigned port, std::string& error)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("cannot create a TCP socket: ") + std::strerror(errno);
        return -1;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in local = SocketAddress(address, port);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 || listen(fd, 16) != 0) {
        error = "cannot listen on " + FormatIpv4(address) + ":" + std::to_string(port) + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

int AcceptWithin(int listener, int timeoutMs)
{
    if (!WaitFor(listener, POLLIN, timeoutMs)) return -1;
    return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

long ReadWithin(int fd, char* buffer, std::size_t size, int timeoutMs)
{
    if (!WaitFor(fd, POLLIN, timeoutMs)) return -1;
    const ssize_t got = recv(fd, buffer, size, 0);
    return got < 0 ? -1 : static_cast<long>(got);
}

bool SendAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

int ConnectWithin(const Ipv4& address, unsigned port, int timeoutMs)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    const sockaddr_in remote = SocketAddress(address, port);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) {
        int problem = 0;
        socklen_t length = sizeof problem;
        if (errno != EINPROGRESS || !WaitFor(fd, POLLOUT, timeoutMs) ||
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &problem, &length) != 0 || problem != 0) {
            close(fd);
            return -1;
        }
    }
    // Blocking again: the transfer code waits with poll where it must.
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string RemoteName(int fd)
{
    sockaddr_in remote{};
    socklen_t length = sizeof remote;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &length) != 0) return "?";
    Ipv4 address{};
    std::memcpy(address.data(), &remote.sin_addr.s_addr, 4);
    return FormatIpv4(address) + ":" + std::to_string(ntohs(remote.sin_port));
}

void CloseGently(int fd)
{
    shutdown(fd, SHUT_WR);
    char drain[512];
    for (int i = 0; i < 20; ++i) {
        if (ReadWithin(fd, drain, sizeof drain, 100) <= 0) break;
    }
    close(fd);
}

bool SleepUnlessStopped(unsigned ms, const std::atomic<bool>& stop)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (stop.load()) return false;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            std::chrono::milliseconds(50), end - std::chrono::steady_clock::now()));
    }
    return !stop.load();
}

std::string KeepAsFile(const std::string& folder, const std::string& name, const std::string& bytes)
{
    if (folder.empty()) return {};
    const std::string path = folder + "/" + name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    return file ? path : std::string();
}

}  // namespace peer
