// A start-up of the socket layer held for the length of one call, for the
// platform functions that tessel-cli may call before the network thread has
// started the layer (the window starts it first thing). The layer counts
// its start-ups, so this never ends the program's own.
#pragma once

#include <winsock2.h>

namespace tessel {

class ScopedSocketLayer {
public:
    ScopedSocketLayer() { m_ok = ::WSAStartup(MAKEWORD(2, 2), &m_data) == 0; }
    ~ScopedSocketLayer()
    {
        if (m_ok) ::WSACleanup();
    }
    ScopedSocketLayer(const ScopedSocketLayer&) = delete;
    ScopedSocketLayer& operator=(const ScopedSocketLayer&) = delete;
    bool ok() const { return m_ok; }

private:
    WSADATA m_data{};
    bool m_ok = false;
};

}  // namespace tessel
