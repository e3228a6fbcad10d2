// The service manager's notification socket, without libsystemd: one
// datagram of "KEY=VALUE" lines to the AF_UNIX socket $NOTIFY_SOCKET names
// (a path, or "@name" for an abstract one). Without the variable nothing is
// sent. serve tells READY=1 once it holds port 67, STATUS= with its counts,
// RELOADING=1 and STOPPING=1.
#pragma once

#include <string>

namespace tessel::service {

class Notifier {
public:
    // `socketName`: the value of NOTIFY_SOCKET, or null.
    explicit Notifier(const char* socketName);
    ~Notifier();
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    bool Active() const { return m_fd >= 0; }
    // Sends the state ("READY=1", "STATUS=..."), without waiting; false
    // when it did not go (no reader, a full queue).
    bool Send(const std::string& state) const;

private:
    int m_fd = -1;
    std::string m_address;  // the sockaddr_un's path bytes, abstract: starting with '\0'
};

}  // namespace tessel::service
