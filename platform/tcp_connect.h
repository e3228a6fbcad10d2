// One TCP connection opened and shut down again without a byte sent: how
// the program sees that a server accepts connections on a port.
#pragma once

#include <cstdint>
#include <string>

namespace tessel {

// A blocking connect to address:port (dotted decimal) with the system's own
// connection time-out, then shut down and closed. True when the connection
// was made; false for text that is not an address and for every failure.
bool ConnectAndClose(const std::string& address, std::uint16_t port);

}  // namespace tessel
