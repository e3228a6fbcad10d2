#include "bootp_wire.h"

#include <cstdio>

namespace peer {

namespace {

constexpr std::uint8_t kOptionPad = 0;
constexpr std::uint8_t kOptionEnd = 255;
constexpr std::uint8_t kOptionMessageType = 53;
constexpr std::uint8_t kMessageDiscover = 1;
constexpr std::uint8_t kOptionRequestedAddress = 50;
constexpr std::uint8_t kOptionVendorInfo = 43;

// The maker's vendor information: the program finds the class by the bytes
// 43 at p, 42 at p+2 and 'T' at p+8, and reads the letters at p+10 and p+11.
// The servers fill it as a sub-option 42 of eight bytes "MRW0T=" + class.
std::array<std::uint8_t, 12> VendorOption(const std::string& letters)
{
    return {kOptionVendorInfo,
            10,
            42,
            8,
            'M',
            'R',
            'W',
            '0',
            'T',
            '=',
            static_cast<std::uint8_t>(letters.size() > 0 ? letters[0] : ' '),
            static_cast<std::uint8_t>(letters.size() > 1 ? letters[1] : ' ')};
}

std::vector<std::uint8_t> FullRequest(const RequestPlan& plan)
{
    std::vector<std::uint8_t> bytes(kFixedPartLength, 0);
    bytes[0] = plan.op;
    bytes[1] = 1;  // Ethernet
    bytes[2] = 6;  // MAC length
    bytes[4] = static_cast<std::uint8_t>(plan.xid >> 24);
    bytes[5] = static_cast<std::uint8_t>(plan.xid >> 16);
    bytes[6] = static_cast<std::uint8_t>(plan.xid >> 8);
    bytes[7] = static_cast<std::uint8_t>(plan.xid);
    for (std::size_t i = 0; i < plan.mac.size(); ++i) {
        bytes[kChaddrOffset + i] = plan.mac[i];
    }
    // Byte by byte: GCC 12 at -O3 misreads a range insert after the fixed
    // part as a write out of bounds.
    const auto append = [&bytes](std::span<const std::uint8_t> more) {
        for (std::uint8_t b : more) bytes.push_back(b);
    };
    append(kDhcpCookie);
    append(std::array<std::uint8_t, 3>{kOptionMessageType, 1, kMessageDiscover});
    if (plan.requestedAddress) {
        append(std::array<std::uint8_t, 2>{kOptionRequestedAddress, 4});
        append(*plan.requestedAddress);
    }
    if (plan.vendorClass) append(VendorOption(*plan.vendorClass));
    bytes.push_back(kOptionEnd);
    return bytes;
}

std::uint32_t Read32(std::span<const std::uint8_t> d, std::size_t at)
{
    return (std::uint32_t{d[at]} << 24) | (std::uint32_t{d[at + 1]} << 16) | (std::uint32_t{d[at + 2]} << 8) |
           std::uint32_t{d[at + 3]};
}

Ipv4 ReadIpv4(std::span<const std::uint8_t> d, std::size_t at)
{
    return {d[at], d[at + 1], d[at + 2], d[at + 3]};
}

std::string ReadText(std::span<const std::uint8_t> d, std::size_t at, std::size_t size, bool* terminated)
{
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        if (d[at + i] == 0) {
            if (terminated) *terminated = true;
            return text;
        }
        text.push_back(static_cast<char>(d[at + i]));
    }
    if (terminated) *terminated = false;
    return text;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::vector<std::uint8_t> BuildRequest(const RequestPlan& plan)
{
    std::vector<std::uint8_t> bytes = FullRequest(plan);
    bytes.resize(plan.length, kOptionPad);
    return bytes;
}

std::optional<ReplyView> ParseReply(std::span<const std::uint8_t> datagram)
{
    if (datagram.size() < kFixedPartLength) return std::nullopt;
    ReplyView view;
    view.length = datagram.size();
    view.op = datagram[0];
    view.xid = Read32(datagram, 4);
    view.flags = static_cast<std::uint16_t>((datagram[10] << 8) | datagram[11]);
    for (std::size_t i = 0; i < view.mac.size(); ++i) view.mac[i] = datagram[kChaddrOffset + i];
    view.ciaddr = ReadIpv4(datagram, 12);
    view.yiaddr = ReadIpv4(datagram, 16);
    view.siaddr = ReadIpv4(datagram, 20);
    view.giaddr = ReadIpv4(datagram, 24);
    view.sname = ReadText(datagram, kSnameOffset, kSnameSize, &view.snameTerminated);
    view.file = ReadText(datagram, kFileOffset, kFileSize, nullptr);
    if (datagram.size() < kOptionsOffset) {
        view.cookie = "none";
        return view;
    }
    const Ipv4 cookie = ReadIpv4(datagram, kCookieOffset);
    if (cookie == kDhcpCookie) {
        view.cookie = "dhcp";
    } else {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%02x%02x%02x%02x", cookie[0], cookie[1], cookie[2], cookie[3]);
        view.cookie = hex;
    }
    for (std::size_t i = kOptionsOffset; i < datagram.size(); ++i) {
        if (datagram[i] == kOptionPad) continue;
        if (datagram[i] == kOptionEnd) view.endOffset = static_cast<long>(i);
        break;
    }
    return view;
}

std::string FormatMac(const Mac& mac)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

std::optional<Mac> ParseMac(const std::string& text)
{
    if (text.size() != 17) return std::nullopt;
    Mac mac{};
    for (std::size_t i = 0; i < 6; ++i) {
        const int high = HexDigit(text[3 * i]);
        const int low = HexDigit(text[3 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        if (i < 5 && text[3 * i + 2] != '-' && text[3 * i + 2] != ':') return std::nullopt;
        mac[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return mac;
}

std::string FormatIpv4(const Ipv4& address)
{
    return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." + std::to_string(address[2]) + "." +
           std::to_string(address[3]);
}

std::optional<Ipv4> ParseIpv4(const std::string& text)
{
    Ipv4 address{};
    std::size_t at = 0;
    for (std::size_t part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.') return std::nullopt;
            ++at;
        }
        unsigned value = 0;
        std::size_t digits = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 3) {
            value = value * 10 + static_cast<unsigned>(text[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || value > 255) return std::nullopt;
        address[part] = static_cast<std::uint8_t>(value);
    }
    if (at != text.size()) return std::nullopt;
    return address;
}

std::string EscapeText(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte > 0x20 && byte < 0x7F && byte != '\\') {
            out.push_back(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        }
    }
    return out;
}

}  // namespace peer
