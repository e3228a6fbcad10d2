// The BOOTP/DHCP message as the engine sees it: a received datagram kept in
// one buffer, read at fixed offsets, and rewritten in place into the one
// reply the program ever sends. Pure byte functions, no I/O.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tessel {

inline constexpr std::size_t kBootpBufferSize = 2048;
inline constexpr std::size_t kBootpReplyLength = 512;

inline constexpr std::uint8_t kBootRequest = 1;
inline constexpr std::uint8_t kBootReply = 2;

namespace bootp {
inline constexpr std::size_t kOp = 0;
inline constexpr std::size_t kXid = 4;
inline constexpr std::size_t kFlags = 10;
inline constexpr std::size_t kCiaddr = 12;
inline constexpr std::size_t kYiaddr = 16;
inline constexpr std::size_t kSiaddr = 20;
inline constexpr std::size_t kGiaddr = 24;
inline constexpr std::size_t kChaddr = 28;
inline constexpr std::size_t kSname = 44;
inline constexpr std::size_t kSnameSize = 64;
inline constexpr std::size_t kFile = 108;
inline constexpr std::size_t kCookie = 236;
inline constexpr std::size_t kOptions = 240;
inline constexpr std::size_t kEndOption = 492;
// The scan tests at most this many positions, 236 to 491.
inline constexpr std::size_t kScanPositions = 256;

inline constexpr std::uint8_t kOptionEnd = 255;
inline constexpr std::uint8_t kOptionVendorInfo = 43;
inline constexpr std::uint8_t kOptionRequestedAddress = 50;
// Pattern of the maker's vendor information: 43 at p, 42 at p+2, 'T' at p+8,
// and the two-letter class at p+10 and p+11.
inline constexpr std::uint8_t kVendorMarker = 42;
inline constexpr std::uint8_t kVendorTag = 'T';
}  // namespace bootp

// One received datagram, owned by the network thread and reused for every
// receive. Clear() before each receive, so that no byte of an earlier, longer
// datagram can reach a later scan or reply.
struct BootpMessage {
    std::array<std::uint8_t, kBootpBufferSize> buffer{};
    std::size_t length = 0;
    std::array<std::uint8_t, 4> sourceAddress{};  // network order
    std::uint16_t sourcePort = 0;                 // host order
    int interfaceIndex = 0;                       // where it arrived; 0 when unknown
    bool hasSource = false;                       // false when the receive gave no source

    void Clear();
};

// The MAC address in chaddr[0..5] as "AB-CD-EF-01-02-03": 17 characters,
// upper-case hexadecimal, leading zeros kept. hlen is not looked at.
std::string FormatSerialNumber(const BootpMessage& message);
// The same 17 characters without a string of their own (no terminating NUL).
using SerialText = std::array<char, 17>;
void FormatSerialNumber(const BootpMessage& message, SerialText& text);

// The two-character class of the maker's vendor-information pattern, or
// nothing. The caller compares it with "PS".
std::optional<std::string> FindVendorClass(const BootpMessage& message);

// The address of option 50 (length 4) as dotted text, or nothing.
std::optional<std::string> FindRequestedAddress(const BootpMessage& message);

// Rewrites the buffer into the plain BOOTP reply and returns its 512 bytes.
// Host names longer than 63 characters are cut so that the NUL stays inside
// sname; an own address that is not dotted text gives 0.0.0.0 in siaddr.
std::span<const std::uint8_t> MakeReply(BootpMessage& message, const std::string& desiredAddress,
                                        const std::string& hostAddress, const std::string& hostName);

}  // namespace tessel
