// One ICMP echo request and the wait for its answer: how the program asks
// whether some device answers on an address. One header, one implementation
// per system (an ICMP datagram or raw socket here, the ICMP service on Windows).
#pragma once

#include <cstdint>
#include <string>

namespace tessel {

// Which socket sends the request. The program always uses Automatic; the
// other two let tests exercise each road on its own.
enum class IcmpSocketKind {
    Automatic,  // a datagram ("ping") socket where permitted, else a raw socket
    Datagram,
    Raw,
};

// Sends one echo request with no payload (the 8-byte ICMP header alone) to
// `address` (dotted decimal) and waits up to `timeoutMs` for an echo reply
// from that address. Returns the number of replies: 1, or 0 when none came,
// the address is not dotted decimal, or no socket could be opened or used.
int IcmpEcho(const std::string& address, int timeoutMs, IcmpSocketKind kind = IcmpSocketKind::Automatic);

}  // namespace tessel
