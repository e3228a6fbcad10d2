#include "service/notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

namespace tessel::service {

Notifier::Notifier(const char* socketName)
{
    if (socketName == nullptr) return;
    std::string name = socketName;
    // A path must be absolute; "@" names an abstract socket.
    if (name.size() < 2 || (name[0] != '/' && name[0] != '@') || name.size() >= sizeof(sockaddr_un{}.sun_path)) return;
    if (name[0] == '@') name[0] = '\0';
    // Non-blocking: a service manager that does not read (or a full queue)
    // must never hold the main thread, which is the one that hears SIGTERM.
    m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd >= 0) m_address = name;
}

Notifier::~Notifier()
{
    if (m_fd >= 0) ::close(m_fd);
}

bool Notifier::Send(const std::string& state) const
{
    if (m_fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, m_address.data(), m_address.size());
    // An abstract name's length is exact; a path's ends at its NUL.
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + m_address.size() + (m_address[0] == '\0' ? 0 : 1));
    // One try: a notification that finds the queue full is dropped, never
    // retried; the next one says the whole state again.
    const ssize_t sent = ::sendto(m_fd, state.data(), state.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                                  reinterpret_cast<const sockaddr*>(&address), length);
    return sent == static_cast<ssize_t>(state.size());
}

}  // namespace tessel::service
