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

// What one echo request found out. Only NoAnswer says that nobody answered:
// the last two say that the question could not be asked, so nothing is
// known about the address. The numbers travel in the probe's record.
enum class IcmpAnswer : std::int32_t {
    NoAnswer = 0,
    Answered = 1,
    NotPermitted = 2,  // neither a ping socket (net.ipv4.ping_group_range) nor a raw one (cap_net_raw)
    NotSent = 3,       // no socket for another reason, a failed send, or text that is no address
};

// Sends one echo request with no payload (the 8-byte ICMP header alone) to
// `address` (dotted decimal) and waits up to `timeoutMs` for an echo reply
// from that address.
IcmpAnswer IcmpEcho(const std::string& address, int timeoutMs, IcmpSocketKind kind = IcmpSocketKind::Automatic);

// Held by each job for as long as it runs: where the checks go to check
// helpers (an ordinary user on Linux), the program starts no more of them
// than allowances are held (at least one), and a check beyond that waits
// for a helper to be free. Nothing to do on Windows.
class EchoHelperAllowance {
public:
    EchoHelperAllowance();
    ~EchoHelperAllowance();
    EchoHelperAllowance(const EchoHelperAllowance&) = delete;
    EchoHelperAllowance& operator=(const EchoHelperAllowance&) = delete;
};

}  // namespace tessel
