// This computer's address-resolution (neighbour) table, written in the
// program's own process. A child such as "ip" would not inherit the file
// capabilities that let an ordinary user run the program, so the table is
// changed over rtnetlink here, and every change tells whether it was made.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tessel {

enum class NeighbourResult {
    Done,
    NotPermitted,  // the program lacks cap_net_admin (or root)
    Failed,        // no such interface, a bad address, the kernel refused
};

// Removes every entry for `address` (dotted decimal) on every interface,
// permanent entries included, as "arp -d" does. Done as well when there was
// none to remove.
NeighbourResult DeleteNeighbourEntries(const std::string& address);

// Adds or replaces a permanent entry `address` -> `hardware` on the
// interface `device` (its name), as "arp -s" does.
NeighbourResult SetPermanentNeighbour(const std::string& address, const std::array<std::uint8_t, 6>& hardware,
                                      const std::string& device);

}  // namespace tessel
