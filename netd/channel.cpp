#include "netd/channel.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tessel::nethelper {

int StartHelper(const std::string& path, Role role, pid_t& pid, int& error)
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        error = errno;
        return -1;
    }
    // dup2 onto the same number would leave close-on-exec set.
    if (pair[1] == kHelperSocket) {
        const int moved = ::fcntl(pair[1], F_DUPFD_CLOEXEC, kHelperSocket + 1);
        ::close(pair[1]);
        pair[1] = moved;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], kHelperSocket);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A group of its own: Ctrl+C at the terminal stops the program, which
    // then closes the socket; the helper cleans up on that.
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigfillset(&defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char name[] = "tessel-net";
    std::string roleName(RoleName(role));
    char* argv[] = {name, roleName.data(), nullptr};
    char* environment[] = {nullptr};  // it reads none
    error = pair[1] < 0 ? EMFILE : ::posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environment);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (pair[1] >= 0) ::close(pair[1]);
    if (error == 0) return pair[0];
    ::close(pair[0]);
    return -1;
}

std::string RoleSocketPath(Role role)
{
    return "/run/tessel-net/" + std::string(RoleName(role));
}

int ConnectHelper(const std::string& path, int& error)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        error = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int socket = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        error = errno;
        return -1;
    }
    int result;
    do {
        result = ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result == 0) return socket;
    error = errno;
    ::close(socket);
    return -1;
}

bool SendMessage(int socket, std::string_view text, int fd, SendWait wait)
{
    iovec io{const_cast<char*>(text.data()), text.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    if (fd >= 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
    }
    ssize_t sent;
    do {
        sent = ::sendmsg(socket, &message, MSG_NOSIGNAL | (wait == SendWait::DontWait ? MSG_DONTWAIT : 0));
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(text.size());
}

Received ReceiveMessage(int socket, char* buffer, std::size_t size)
{
    Received received;
    iovec io{buffer, size};
    // Room for the most descriptors one block can carry (the kernel's
    // SCM_MAX_FD): whatever comes is taken in and closed, never left open.
    constexpr std::size_t kMostDescriptors = 253;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kMostDescriptors)];
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    do {
        received.size = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    } while (received.size < 0 && errno == EINTR);
    if (received.size < 0) return received;
    int count = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) {
            received.otherControl = true;
            continue;
        }
        const std::size_t fds = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < fds; ++i) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
            if (++count == 1)
                received.fd = fd;
            else
                ::close(fd);
        }
    }
    if (count > 1 || (message.msg_flags & MSG_CTRUNC) != 0) received.otherControl = true;
    if (received.otherControl && received.fd >= 0) {
        ::close(received.fd);
        received.fd = -1;
    }
    if (received.size == 0 && count == 0) {
        // Nothing read: the end of the socket, or a message of no bytes.
        pollfd hangup{socket, 0, 0};
        received.ended = ::poll(&hangup, 1, 0) > 0 && (hangup.revents & POLLHUP) != 0;
    }
    return received;
}

}  // namespace tessel::nethelper
