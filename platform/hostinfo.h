// This computer's host name and first IPv4 address, as the reply to a
// server carries them (sname and siaddr).
#pragma once

#include <string>

namespace tessel {

// The host name; empty when it cannot be found.
std::string LocalHostName();

// The first IPv4 address of this computer as dotted text: the name lookup's
// first answer, or, when that is a loopback address or there is none, the
// first non-loopback address of an interface that is up. Empty when none.
std::string FirstIpv4Address();

}  // namespace tessel
