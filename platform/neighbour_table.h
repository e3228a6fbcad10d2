// This computer's address-resolution (neighbour) table, changed over
// rtnetlink by the network helper tessel-net (or by the program itself as
// root: platform/privileged_steps.h), and every change tells whether it was
// made. Only entries of its own are written: an entry that an administrator,
// the kernel or another program put there is never replaced nor removed.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tessel {

enum class NeighbourResult {
    Done,
    Kept,          // another's entry holds the address there: left as it is
    NotPermitted,  // the program lacks cap_net_admin (or root)
    Failed,        // no such interface, a bad address, the kernel refused
};

// "arp -s": a permanent entry `address` -> `hardware` on the interface
// `device` (its name). Made only where the table knows no hardware address
// for `address` on that interface (no entry, or one still unresolved) or
// where the entry there is one this program made; any other entry, static
// or learned, is Kept. Done without a change when the entry there already
// names `hardware`. An entry made is remembered for RemoveOwnNeighbours.
NeighbourResult AddOwnNeighbour(const std::string& address, const std::array<std::uint8_t, 6>& hardware,
                                const std::string& device);

// "arp -d": removes the entries for `address` (dotted decimal) that this
// program made and that are still as it made them (permanent, its hardware
// address, its interface). Every other entry is left alone. Done as well
// when there is none of ours.
NeighbourResult RemoveOwnNeighbours(const std::string& address);

}  // namespace tessel
