// The helper's side of the protocol: one message in, one answer out, with
// the helper's rules (its role's requests only, no control data, checks
// paced, the port handed over once) and its record of neighbour entries.
// No process of its own: the tests call it directly; main.cpp runs it.
#pragma once

#include <chrono>
#include <string_view>

#include "netd/channel.h"
#include "netd/protocol.h"

namespace tessel::nethelper {

struct Answer {
    Reply reply;
    int fd = -1;  // handed over with the reply, then closed by the caller
};

class Server {
public:
    explicit Server(Role role) : m_role(role) {}

    // The answer to one message (`bytes` of `received`).
    Answer Handle(const Received& received, std::string_view bytes);

    // Whether the port has been handed over: the helper then gives up
    // cap_net_bind_service.
    bool PortHandedOver() const { return m_portHandedOver; }

    // How long the helper may wait for the next message before an entry
    // of its record is due for removal; -1 for as long as it likes.
    int MsUntilDue() const;
    // Removes the entries of the record whose lifetime is over.
    void RemoveExpired();
    // The end: every entry of the record that is still as it was made.
    void Finish();

private:
    Answer BindServerPort();
    Answer Echo(const Request& request);

    Role m_role;
    bool m_portHandedOver = false;
    std::chrono::steady_clock::time_point m_lastEcho{};
};

}  // namespace tessel::nethelper
