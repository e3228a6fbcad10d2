// The operating system's own commands of the assignment and its fallback:
// removing and setting an entry of the address-resolution (neighbour) table,
// and one ping. On Windows these are the "arp" and "ping" command lines,
// started hidden and never waited for. Here the neighbour table is changed
// over rtnetlink (neighbour_table.h, through the network helper where the
// program may not), so the caller learns whether the change was made; the
// pings stay commands ("ping" carries its own permission), started with an
// argument vector (never a shell), output discarded, children reaped.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessel {

class SystemCommands {
public:
    virtual ~SystemCommands() = default;
    // "arp -d ADDRESS": forget the hardware address cached for ADDRESS. On
    // Linux only an entry this program wrote is removed (neighbour_table.h).
    // False when the table could not be changed (where the system tells).
    virtual bool DeleteNeighbour(const std::string& address) = 0;
    // "arp -s ADDRESS SERIAL HOST": a static entry with the server's serial
    // (its MAC address) on the interface that holds this computer's address.
    // False when the entry could not be made, or (on Linux) when another
    // entry for the address is there and was left alone.
    virtual bool SetStaticNeighbour(const std::string& address, const std::string& serial,
                                    const std::string& hostAddress) = 0;
    // "ping -n 1 -w 1000 ADDRESS": one echo request, one second of waiting.
    virtual void PingOnce(const std::string& address) = 0;
    // The same to a directed broadcast address.
    virtual void PingBroadcast(const std::string& address) = 0;
};

// The commands of this system.
SystemCommands& HiddenCommands();

#ifndef _WIN32
// The POSIX layer's own tools (Windows starts the system's command texts).

// Starts argv[0] (searched on PATH) with its output discarded, without
// waiting; the child is reaped when it ends. False when it could not start.
bool StartHidden(const std::vector<std::string>& argv);

// The serial number "0A-1B-2C-01-02-03" as the six bytes of a hardware
// address; nothing when it is not six hexadecimal pairs.
std::optional<std::array<std::uint8_t, 6>> SerialToHardwareAddress(const std::string& serial);

// The name of the interface that holds an IPv4 address; empty when none.
std::string InterfaceOfAddress(const std::string& address);
#endif

}  // namespace tessel
