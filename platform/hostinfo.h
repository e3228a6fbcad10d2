// This computer's host name and first IPv4 address, as the reply to a
// server carries them (sname and siaddr).
#pragma once

#include <string>
#include <vector>

namespace tessel {

// The host name; empty when it cannot be found.
std::string LocalHostName();

// The first IPv4 address of this computer as dotted text: the name lookup's
// first answer, or, when that is a loopback address or there is none, the
// first non-loopback address of an interface that is up. Empty when none.
std::string FirstIpv4Address();

// One network interface of this computer, by the name the system shows
// (Windows: the adapter's friendly name), with the index that a received
// datagram names as its arrival interface and its first IPv4 address
// (empty when it has none).
struct NetworkInterface {
    std::string name;
    unsigned index = 0;
    std::string address;
    int prefixLength = -1;  // of that address's network (24 for 255.255.255.0); -1 when unknown
};

// Every interface, loopback included, in the system's order.
std::vector<NetworkInterface> NetworkInterfaces();

}  // namespace tessel
