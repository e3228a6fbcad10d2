#include "engine/ipaddress.h"


#include "resources/texts.h"

namespace tessel {

std::string FormatAddress(const std::uint8_t* bytes)
{
    // By hand: the receive loop writes one for every datagram.
    char text[16];
    char* p = text;
    for (int i = 0; i < 4; ++i) {
        const unsigned v = bytes[i];
        if (v >= 100) *p++ = static_cast<char>('0' + v / 100);
        if (v >= 10) *p++ = static_cast<char>('0' + v / 10 % 10);
        *p++ = static_cast<char>('0' + v % 10);
        if (i < 3) *p++ = '.';
    }
    return std::string(text, static_cast<std::size_t>(p - text));
}

std::string FormatAddress(const Ipv4Bytes& bytes)
{
    return FormatAddress(bytes.data());
}

std::optional<std::uint8_t> ParseOctet(std::string_view text)
{
    if (text.empty() || text.size() > 3) return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > 255) return std::nullopt;
    return static_cast<std::uint8_t>(value);
}

std::optional<Ipv4Bytes> ParseAddress(std::string_view text)
{
    Ipv4Bytes bytes{};
    for (std::size_t part = 0; part < bytes.size(); ++part) {
        const std::size_t dot = part + 1 < bytes.size() ? text.find('.') : text.size();
        if (dot == std::string_view::npos) return std::nullopt;
        const auto octet = ParseOctet(text.substr(0, dot));
        if (!octet) return std::nullopt;
        bytes[part] = *octet;
        text.remove_prefix(dot == text.size() ? dot : dot + 1);
    }
    return bytes;
}

Ipv4Bytes AddressBytesOrZero(std::string_view text)
{
    return ParseAddress(text).value_or(Ipv4Bytes{});
}

int RefusingBox(const Ipv4Bytes& address, bool reservedEndingConfirmed)
{
    if (address == Ipv4Bytes{0, 0, 0, 0}) return IDS_ZERO_ADDRESS;
    if (address == Ipv4Bytes{255, 255, 255, 255}) return IDS_BROADCAST_ADDRESS;
    const int first = address[0];
    if (first == 0 || first == 127 || first >= 224) return IDS_UNREACHABLE_ADDRESS;
    const int ending = address[3];
    if ((ending == 0 || ending == 1 || ending == 255) && !reservedEndingConfirmed) return IDS_RESERVED_ENDING;
    return 0;
}

}  // namespace tessel
