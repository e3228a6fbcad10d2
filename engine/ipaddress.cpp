#include "engine/ipaddress.h"

#include <cstdio>

namespace tessel {

std::string FormatAddress(const std::uint8_t* bytes)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

std::string FormatAddress(const Ipv4Bytes& bytes) { return FormatAddress(bytes.data()); }

std::optional<Ipv4Bytes> ParseAddress(std::string_view text)
{
    Ipv4Bytes bytes{};
    std::size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') return std::nullopt;
            ++pos;
        }
        int value = 0;
        int digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
            value = value * 10 + (text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
        bytes[static_cast<std::size_t>(part)] = static_cast<std::uint8_t>(value);
    }
    if (pos != text.size()) return std::nullopt;
    return bytes;
}

Ipv4Bytes AddressBytesOrZero(std::string_view text) { return ParseAddress(text).value_or(Ipv4Bytes{}); }

}  // namespace tessel
