#include "engine/bootp.h"

#include <algorithm>
#include <cstring>

#include "engine/ipaddress.h"

namespace tessel {

void BootpMessage::Clear()
{
    buffer.fill(0);
    length = 0;
    sourceAddress = {};
    sourcePort = 0;
    interfaceIndex = 0;
    hasSource = false;
}

void FormatSerialNumber(const BootpMessage& message, SerialText& text)
{
    auto digit = [](unsigned nibble) { return static_cast<char>(nibble <= 9 ? 48 + nibble : 55 + nibble); };
    for (std::size_t i = 0; i < 6; ++i) {
        const std::uint8_t byte = message.buffer[bootp::kChaddr + i];
        text[3 * i] = digit(byte >> 4);
        text[3 * i + 1] = digit(byte & 0x0F);
        if (i < 5) text[3 * i + 2] = '-';
    }
}

std::string FormatSerialNumber(const BootpMessage& message)
{
    SerialText text;
    FormatSerialNumber(message, text);
    return std::string(text.data(), text.size());
}

namespace {

// The bytewise scan that stands in for an option walk: it ignores option
// lengths, so a pattern inside another option's data matches too, and any
// 255 after the first position ends it. Position 236 is always tested.
template <typename Match>
auto ScanOptions(const BootpMessage& message, Match match) -> decltype(match(std::size_t{}))
{
    const auto& b = message.buffer;
    std::size_t p = bootp::kCookie;
    for (std::size_t tested = 1;; ++tested) {
        if (auto result = match(p)) return result;
        ++p;
        if (b[p] == bootp::kOptionEnd || tested == bootp::kScanPositions) return std::nullopt;
    }
}

}  // namespace

std::optional<std::string> FindVendorClass(const BootpMessage& message)
{
    const auto& b = message.buffer;
    return ScanOptions(message, [&b](std::size_t p) -> std::optional<std::string> {
        if (b[p] == bootp::kOptionVendorInfo && b[p + 2] == bootp::kVendorMarker && b[p + 8] == bootp::kVendorTag)
            return std::string{static_cast<char>(b[p + 10]), static_cast<char>(b[p + 11])};
        return std::nullopt;
    });
}

std::optional<std::string> FindRequestedAddress(const BootpMessage& message)
{
    const auto& b = message.buffer;
    return ScanOptions(message, [&b](std::size_t p) -> std::optional<std::string> {
        if (b[p] == bootp::kOptionRequestedAddress && b[p + 1] == 4) return FormatAddress(&b[p + 2]);
        return std::nullopt;
    });
}

std::span<const std::uint8_t> MakeReply(BootpMessage& message, const std::string& desiredAddress,
                                        const std::string& hostAddress, const std::string& hostName)
{
    auto& b = message.buffer;
    b[bootp::kOp] = kBootReply;
    const Ipv4Bytes yiaddr = AddressBytesOrZero(desiredAddress);
    const Ipv4Bytes siaddr = AddressBytesOrZero(hostAddress);
    std::copy(yiaddr.begin(), yiaddr.end(), b.begin() + bootp::kYiaddr);
    std::copy(siaddr.begin(), siaddr.end(), b.begin() + bootp::kSiaddr);
    // The name and its NUL; what follows the NUL in sname stays as the
    // server sent it, as the reply always did.
    const std::size_t nameLength = std::min(hostName.size(), bootp::kSnameSize - 1);
    std::memcpy(&b[bootp::kSname], hostName.data(), nameLength);
    b[bootp::kSname + nameLength] = 0;
    std::fill(b.begin() + bootp::kOptions, b.begin() + bootp::kEndOption, std::uint8_t{0});
    b[bootp::kEndOption] = bootp::kOptionEnd;
    return {b.data(), kBootpReplyLength};
}

}  // namespace tessel
