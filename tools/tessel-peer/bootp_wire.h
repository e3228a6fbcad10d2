// The BOOTP datagrams a MERROW server sends and receives, as plain byte
// functions with no I/O. Written apart from the program's own packet code, so
// that a fault in one cannot hide the same fault in the other.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace peer {

using Mac = std::array<std::uint8_t, 6>;
using Ipv4 = std::array<std::uint8_t, 4>;  // network order, as on the wire

inline constexpr std::size_t kFixedPartLength = 236;  // op .. file
inline constexpr std::size_t kCookieOffset = 236;
inline constexpr std::size_t kOptionsOffset = 240;
inline constexpr std::size_t kChaddrOffset = 28;
inline constexpr std::size_t kSnameOffset = 44;
inline constexpr std::size_t kSnameSize = 64;
inline constexpr std::size_t kFileOffset = 108;
inline constexpr std::size_t kFileSize = 128;
inline constexpr std::size_t kMaxUdpPayload = 65507;

inline constexpr std::uint8_t kOpRequest = 1;
inline constexpr std::uint8_t kOpReply = 2;
inline constexpr std::array<std::uint8_t, 4> kDhcpCookie{99, 130, 83, 99};

// What one simulated server puts into its request.
struct RequestPlan {
    Mac mac{};
    std::uint32_t xid = 0;
    std::uint8_t op = kOpRequest;
    std::optional<Ipv4> requestedAddress;    // option 50
    std::optional<std::string> vendorClass;  // two letters in option 43; none: no pattern
    std::size_t length = 300;                // bytes on the wire; shorter cuts, 0 is empty
};

// The request as it goes on the wire: fixed part, DHCP cookie, option 53
// (discover), then 50 and 43 when asked for, the end option, and zero padding
// up to the length (or cut at it).
std::vector<std::uint8_t> BuildRequest(const RequestPlan& plan);

// The fields of a received BOOTREPLY that tests look at.
struct ReplyView {
    std::uint8_t op = 0;
    std::uint32_t xid = 0;
    std::uint16_t flags = 0;
    Mac mac{};
    Ipv4 ciaddr{}, yiaddr{}, siaddr{}, giaddr{};
    std::string sname;  // up to the first NUL, at most 64 bytes
    bool snameTerminated = false;
    std::string file;    // up to the first NUL, at most 128 bytes
    std::string cookie;  // "dhcp", "none" (shorter datagram) or the 4 bytes in hex
    // Offset of the first byte after the cookie that is not a pad byte (0),
    // when that byte is the end option (255); -1 when some other option comes
    // first or nothing but padding follows.
    long endOffset = -1;
    std::size_t length = 0;
};

// Nothing when the datagram is too short to hold the fixed part.
std::optional<ReplyView> ParseReply(std::span<const std::uint8_t> datagram);

std::string FormatMac(const Mac& mac);                 // 0A-1B-2C-01-02-03
std::optional<Mac> ParseMac(const std::string& text);  // with - or : between pairs
std::string FormatIpv4(const Ipv4& address);
std::optional<Ipv4> ParseIpv4(const std::string& text);
// Printable on one line with blanks as separators: bytes outside 0x21..0x7E
// and the backslash become \xHH.
std::string EscapeText(const std::string& text);

}  // namespace peer
