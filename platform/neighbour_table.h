// This computer's address-resolution (neighbour) table, changed over
// rtnetlink by the network helper tessel-net (or by the program itself as
// root: netd/privileged_steps.h), and every change tells whether it was
// made. Only entries of its own are written: an entry that an administrator,
// the kernel or another program put there is never replaced nor removed.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessel {

enum class NeighbourResult {
    Done,
    Kept,          // another's entry holds the address there: left as it is
    NotPermitted,  // the program lacks cap_net_admin (or root)
    Failed,        // no such interface, a bad address, the kernel refused
    Refused,       // the rules below do not allow this entry (the reason says why)
};

// The number every entry of Tessel's carries as its originator
// (NDA_PROTOCOL), so that `ip neigh show proto 116` lists them and
// `ip neigh flush proto 116` removes them whatever became of the program.
inline constexpr std::uint8_t kNeighbourProtocol = 116;
// How long an entry of ours stays: the fallback's check takes about 15 s.
// Older entries are removed by the helper (or, where the program makes
// the step itself, at its next table change).
inline constexpr int kOwnNeighbourLifetimeMs = 30000;
// At most this many entries of ours at once, per helper (or program).
inline constexpr std::size_t kMaxOwnNeighbours = 8;
// At most this many entries tagged kNeighbourProtocol in the whole table,
// whoever made them: a serve run's jobs and a window together. However
// many helpers a member starts, they share this bound.
inline constexpr std::size_t kMaxTaggedNeighbours = 16;

// What the rules of an entry look at, read from the kernel: the named
// device, its own IPv4 networks, every address of this computer and every
// gateway of every routing table. Addresses in host byte order.
struct NeighbourFacts {
    bool found = false;      // a device of that name exists
    std::uint16_t type = 0;  // ARPHRD_*
    unsigned flags = 0;      // IFF_*
    struct Network {
        std::uint32_t address = 0;
        int prefix = 32;
        std::uint32_t broadcast = 0;  // IFA_BROADCAST, 0 where none
    };
    std::vector<Network> networks;  // the device's own
    std::vector<std::uint32_t> hostAddresses;
    std::vector<std::uint32_t> gateways;
};

// Why an entry for `address` on the device of `facts` is refused; "" when
// it is allowed: an Ethernet-type device that is up and does ARP (not
// loopback, point-to-point or NOARP), an address inside one of its own
// networks, neither an address of this computer, the network's own or
// broadcast address, nor any route's gateway. Pure, for the tests.
std::string NeighbourRefusal(const NeighbourFacts& facts, std::uint32_t address);

// An entry tagged kNeighbourProtocol and not permanent, as one reading of
// the table shows it: made by this program or by any other of Tessel's.
// `ageMs` is the time since the kernel last changed it (NDA_CACHEINFO's
// ndm_updated): never more than the time since it was written, since a
// write that changes it restarts that time too.
struct TaggedEntry {
    std::uint32_t address = 0;  // host byte order
    int interfaceIndex = 0;
    std::int64_t ageMs = 0;
};

// The host-wide bounds at one reading of `table` (the kernel's, or a
// test's: `bool Read(std::vector<TaggedEntry>&)`, false when the table
// could not be read, and `bool Remove(const TaggedEntry&)`, false when the
// kernel refused, true too for an entry already gone): every tagged entry
// older than kOwnNeighbourLifetimeMs is removed, whoever made it (a helper
// that was killed or stopped cannot remove its own), and there is room for
// the entry of `address` on `interfaceIndex` where fewer than
// kMaxTaggedNeighbours others remain. An expired entry that could not be
// removed still counts. Empty when the table could not be read. A template,
// not an interface: the helper's sanitizer builds check each virtual call
// with system calls that its filter does not allow.
template <typename Table>
std::optional<bool> RoomForTaggedEntry(Table& table, std::uint32_t address, int interfaceIndex)
{
    std::vector<TaggedEntry> entries;
    if (!table.Read(entries)) return std::nullopt;
    std::size_t others = 0;
    for (const TaggedEntry& entry : entries) {
        if (entry.ageMs >= kOwnNeighbourLifetimeMs && table.Remove(entry)) continue;
        if (entry.address != address || entry.interfaceIndex != interfaceIndex) ++others;
    }
    return others < kMaxTaggedNeighbours;
}

// "arp -s": an entry `address` -> `hardware` on the interface `device`
// (its name), under NeighbourRefusal's rules, in the state STALE, never
// permanent (used at once; after 5 s of use the kernel probes the stored
// hardware address, and once that fails it asks the whole network, where
// the real owner's answer replaces it), tagged kNeighbourProtocol, read back after the
// change and undone unless it is exactly the one asked for. Made only where the table knows no hardware address
// for `address` on that interface (no entry, or one still unresolved) or
// where the entry there is one this program made; any other entry, static
// or learned, or tagged by another of Tessel's programs, is Kept. Done
// without a change when the entry there already names `hardware`. Refused
// past kMaxOwnNeighbours of this program's, or past kMaxTaggedNeighbours
// in the whole table (RoomForTaggedEntry, before the change and again
// after it); tagged entries past their lifetime go first, whoever made
// them. Written again, an entry keeps its first time. An entry made is
// remembered for RemoveOwnNeighbours.
NeighbourResult AddOwnNeighbour(const std::string& address, const std::array<std::uint8_t, 6>& hardware,
                                const std::string& device);

// "arp -d": removes the entries for `address` (dotted decimal) that this
// program made and that are still as it made them (our protocol, its
// hardware address, its interface). Every other entry is left alone. Done as well
// when there is none of ours.
NeighbourResult RemoveOwnNeighbours(const std::string& address);

}  // namespace tessel
