// The three privileged network steps done in the calling process itself,
// each with its capability effective around the one call that needs it.
// The network helper (netd/) does them for the programs; the programs do
// them here only where they may (netd/privileged_steps.h decides).
// Linux only: Windows has no such rights and no helper.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/icmp.h"
#include "platform/neighbour_table.h"
#include "platform/privileges.h"

namespace tessel {
// Whether this process holds the capability behind `right` in its
// permitted set (as root, or by the file's capabilities).
bool RightPermitted(NetworkRight right);
}  // namespace tessel

namespace tessel::here {

// A UDP socket (close-on-exec) that reports each datagram's arrival
// interface; -1 when none could be made.
int NewDatagramSocket();

// Binds `fd` to 0.0.0.0:port without any address-reuse option, with
// cap_net_bind_service effective for the call; 0 or the errno value.
int BindToPort(int fd, std::uint16_t port);

// IcmpEcho in this process (icmp.h).
IcmpAnswer IcmpEcho(const std::string& address, int timeoutMs, IcmpSocketKind kind);

// AddOwnNeighbour and RemoveOwnNeighbours in this process, with this
// process's record of its own entries (neighbour_table.h).
// A refusal's reason goes to `why` where given.
NeighbourResult AddOwnNeighbour(const std::string& address, const std::array<std::uint8_t, 6>& hardware,
                                const std::string& device, std::string* why = nullptr);
NeighbourResult RemoveOwnNeighbours(const std::string& address);

// Opens the rtnetlink socket of every later table change and keeps it (the
// helper, at its start): a limit on descriptors set later cannot keep the
// process from removing its entries.
void KeepNeighbourSocket();

// Removes the entries of the record older than kOwnNeighbourLifetimeMs.
void RemoveExpiredOwnNeighbours();
// Milliseconds until the oldest entry of the record expires; -1 for none.
int MsUntilOwnNeighbourExpires();

// Removes every entry of the record that is still as it was made; the
// helper's last step when its parent has gone. Done, or the first failure.
NeighbourResult RemoveEveryOwnNeighbour();

// Tests only: called by AddOwnNeighbour between reading the table and
// changing it, where another program might change the table too.
void SetAfterNeighbourReadForTest(void (*hook)());

}  // namespace tessel::here
