// IPv4 addresses travel through the program as dotted decimal text; these
// turn them into the four network-order bytes where a packet needs them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessel {

using Ipv4Bytes = std::array<std::uint8_t, 4>;

// "%d.%d.%d.%d" of the four bytes, most significant first.
std::string FormatAddress(const Ipv4Bytes& bytes);
std::string FormatAddress(const std::uint8_t* bytes);

// One field of an address: one to three decimal digits, 0..255, nothing
// else (no blank, no sign). Empty result for anything else.
std::optional<std::uint8_t> ParseOctet(std::string_view text);

// Strict dotted decimal: four decimal numbers 0..255 joined by single dots,
// nothing else. Empty result for anything else.
std::optional<Ipv4Bytes> ParseAddress(std::string_view text);

// As ParseAddress, but 0.0.0.0 for text that is not an address (an empty
// own address must still give the server a value it ignores).
Ipv4Bytes AddressBytesOrZero(std::string_view text);

// The box that refuses an address as the one to give a server, in the order
// every front end checks: IDS_ZERO_ADDRESS for 0.0.0.0, IDS_BROADCAST_ADDRESS
// for 255.255.255.255, IDS_UNREACHABLE_ADDRESS for the rest of 0.0.0.0/8,
// 127.0.0.0/8, 224.0.0.0/4 and 240.0.0.0/4 (no confirmation helps: a server
// there can never be reached), IDS_RESERVED_ENDING for an ending 0, 1 or 255
// unless the user confirmed it; 0 when the address may be tried.
int RefusingBox(const Ipv4Bytes& address, bool reservedEndingConfirmed);

}  // namespace tessel
