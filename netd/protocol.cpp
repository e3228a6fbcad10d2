#include "netd/protocol.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace tessel::nethelper {

namespace {

constexpr std::string_view kBind = "bind-server-port";
constexpr std::string_view kEcho = "echo";
constexpr std::string_view kAdd = "add-neighbour";
constexpr std::string_view kRemove = "remove-neighbour";
// An interface name as the kernel takes it: at most IFNAMSIZ - 1 bytes.
constexpr std::size_t kMaxDeviceName = 15;

// The words of a message split at single spaces; nothing when a space
// leads, trails or doubles, so that each message has one spelling.
std::optional<std::vector<std::string_view>> Words(std::string_view text)
{
    std::vector<std::string_view> words;
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = text.find(' ', start);
        const std::string_view word = text.substr(start, space == std::string_view::npos ? space : space - start);
        if (word.empty()) return std::nullopt;
        words.push_back(word);
        if (space == std::string_view::npos) return words;
        start = space + 1;
    }
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A decimal number without sign or leading zero, up to `limit`.
std::optional<int> ParseNumber(std::string_view text, int limit)
{
    if (text.empty() || text.size() > 5 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (!IsDigit(c)) return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > limit) return std::nullopt;
    return value;
}

int HexDigit(char c)
{
    if (IsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<Hardware> ParseHardware(std::string_view text)
{
    if (text.size() != 17) return std::nullopt;
    Hardware hardware{};
    for (std::size_t i = 0; i < hardware.size(); ++i) {
        const int high = HexDigit(text[i * 3]);
        const int low = HexDigit(text[i * 3 + 1]);
        if (high < 0 || low < 0 || (i < 5 && text[i * 3 + 2] != ':')) return std::nullopt;
        hardware[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return hardware;
}

// An interface name the kernel could hold: printable, no slash, no colon
// (an alias spelling), not "." or "..".
bool IsDeviceName(std::string_view text)
{
    if (text.empty() || text.size() > kMaxDeviceName || text == "." || text == "..") return false;
    for (const char c : text)
        if (c <= ' ' || c > '~' || c == '/' || c == ':') return false;
    return true;
}

Parsed Error(std::string text)
{
    return Parsed{std::nullopt, std::move(text)};
}

// The address word of a request: well formed and not refused.
std::optional<Address> RequestAddress(std::string_view word, std::string& error)
{
    const auto address = ParseAddress(word);
    if (!address) {
        error = "malformed address";
        return std::nullopt;
    }
    error = RefusedAddress(*address);
    if (!error.empty()) return std::nullopt;
    return address;
}

constexpr std::pair<ReplyCode, std::string_view> kCodes[] = {
    {ReplyCode::Ok, "ok"},
    {ReplyCode::Answered, "answered"},
    {ReplyCode::NoAnswer, "no-answer"},
    {ReplyCode::NotPermitted, "not-permitted"},
    {ReplyCode::InUse, "in-use"},
    {ReplyCode::Kept, "kept"},
    {ReplyCode::Failed, "failed"},
    {ReplyCode::Refused, "refused"},
};

}  // namespace

std::optional<Address> ParseAddress(std::string_view text)
{
    Address address{};
    std::size_t start = 0;
    for (std::size_t i = 0; i < address.size(); ++i) {
        const std::size_t dot = i < 3 ? text.find('.', start) : text.size();
        if (dot == std::string_view::npos) return std::nullopt;
        const auto part = ParseNumber(text.substr(start, dot - start), 255);
        if (!part) return std::nullopt;
        address[i] = static_cast<std::uint8_t>(*part);
        start = dot + 1;
    }
    return address;
}

std::string AddressText(const Address& address)
{
    return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." + std::to_string(address[2]) + "." +
           std::to_string(address[3]);
}

std::string RefusedAddress(const Address& address)
{
    if (address[0] == 0) return "address of this network (0.0.0.0/8)";
    if (address[0] == 127) return "loopback address (127.0.0.0/8)";
    if (address[0] >= 224 && address[0] < 240) return "multicast address (224.0.0.0/4)";
    if (address[0] >= 240) return "reserved or broadcast address (240.0.0.0/4)";
    return "";
}

Parsed ParseRequest(std::string_view bytes)
{
    if (bytes.size() > kMaxMessage) return Error("request too long");
    if (bytes.empty()) return Error("empty request");
    const auto words = Words(bytes);
    if (!words) return Error("malformed request");
    const std::string_view verb = (*words)[0];
    const std::size_t count = words->size();
    Request request;
    std::string error;
    if (verb == kBind && count == 1) {
        request.kind = RequestKind::BindServerPort;
        return Parsed{request, ""};
    }
    if (verb == kEcho && count == 3) {
        request.kind = RequestKind::Echo;
        const auto address = RequestAddress((*words)[1], error);
        if (!address) return Error(error);
        const auto timeout = ParseNumber((*words)[2], kMaxEchoTimeoutMs);
        if (!timeout) return Error("malformed timeout");
        if (*timeout < kMinEchoTimeoutMs) return Error("timeout below " + std::to_string(kMinEchoTimeoutMs) + " ms");
        request.address = *address;
        request.timeoutMs = *timeout;
        return Parsed{request, ""};
    }
    if (verb == kAdd && count == 4) {
        request.kind = RequestKind::AddNeighbour;
        const auto address = RequestAddress((*words)[1], error);
        if (!address) return Error(error);
        if (!IsDeviceName((*words)[2])) return Error("malformed interface name");
        const auto hardware = ParseHardware((*words)[3]);
        if (!hardware) return Error("malformed hardware address");
        // A group (multicast or broadcast) or all-zero address is no
        // device's own.
        if (((*hardware)[0] & 1U) != 0 || *hardware == Hardware{}) return Error("hardware address of no single device");
        request.address = *address;
        request.device = std::string((*words)[2]);
        request.hardware = *hardware;
        return Parsed{request, ""};
    }
    if (verb == kRemove && count == 2) {
        request.kind = RequestKind::RemoveNeighbour;
        const auto address = RequestAddress((*words)[1], error);
        if (!address) return Error(error);
        request.address = *address;
        return Parsed{request, ""};
    }
    return Error("unknown request");
}

std::string FormatRequest(const Request& request)
{
    switch (request.kind) {
    case RequestKind::BindServerPort:
        return std::string(kBind);
    case RequestKind::Echo:
        return std::string(kEcho) + " " + AddressText(request.address) + " " + std::to_string(request.timeoutMs);
    case RequestKind::AddNeighbour: {
        static constexpr char kHex[] = "0123456789abcdef";
        std::string hardware;
        for (const std::uint8_t byte : request.hardware) {
            if (!hardware.empty()) hardware += ':';
            hardware += kHex[byte >> 4];
            hardware += kHex[byte & 0x0F];
        }
        return std::string(kAdd) + " " + AddressText(request.address) + " " + request.device + " " + hardware;
    }
    case RequestKind::RemoveNeighbour:
        return std::string(kRemove) + " " + AddressText(request.address);
    }
    return "";
}

std::string FormatReply(const Reply& reply)
{
    for (const auto& [code, word] : kCodes) {
        if (code != reply.code) continue;
        std::string text(word);
        if (!reply.detail.empty()) text += " " + reply.detail;
        return text.substr(0, kMaxMessage);
    }
    return "failed";
}

std::optional<Reply> ParseReply(std::string_view bytes)
{
    if (bytes.size() > kMaxMessage) return std::nullopt;
    const std::size_t space = bytes.find(' ');
    const std::string_view word = bytes.substr(0, space);
    for (const auto& [code, name] : kCodes)
        if (word == name)
            return Reply{code, space == std::string_view::npos ? std::string() : std::string(bytes.substr(space + 1))};
    return std::nullopt;
}

std::string_view RoleName(Role role)
{
    return role == Role::Table ? "table" : "check";
}

std::optional<Role> ParseRole(std::string_view name)
{
    for (const Role role : {Role::Table, Role::Check})
        if (name == RoleName(role)) return role;
    return std::nullopt;
}

bool RoleServes(Role role, RequestKind kind)
{
    return (kind == RequestKind::Echo) == (role == Role::Check);
}

namespace {

template <typename Outcome, std::size_t N>
ReplyCode CodeOf(const std::pair<Outcome, ReplyCode> (&table)[N], Outcome outcome)
{
    for (const auto& [known, code] : table)
        if (known == outcome) return code;
    return ReplyCode::Failed;
}

template <typename Outcome, std::size_t N>
Outcome OutcomeOf(const std::pair<Outcome, ReplyCode> (&table)[N], const std::optional<Reply>& reply, Outcome none,
                  Outcome otherwise)
{
    if (!reply) return none;
    for (const auto& [outcome, code] : table)
        if (code == reply->code) return outcome;
    return otherwise;
}

constexpr std::pair<NeighbourResult, ReplyCode> kNeighbourReplies[] = {
    {NeighbourResult::Done, ReplyCode::Ok},
    {NeighbourResult::Kept, ReplyCode::Kept},
    {NeighbourResult::NotPermitted, ReplyCode::NotPermitted},
    {NeighbourResult::Refused, ReplyCode::Refused},
    {NeighbourResult::Failed, ReplyCode::Failed},
};

constexpr std::pair<IcmpAnswer, ReplyCode> kEchoReplies[] = {
    {IcmpAnswer::Answered, ReplyCode::Answered},
    {IcmpAnswer::NoAnswer, ReplyCode::NoAnswer},
    {IcmpAnswer::NotPermitted, ReplyCode::NotPermitted},
    {IcmpAnswer::NotSent, ReplyCode::Failed},
};

constexpr std::pair<int, ReplyCode> kBindReplies[] = {
    {0, ReplyCode::Ok},
    {EADDRINUSE, ReplyCode::InUse},
    {EACCES, ReplyCode::NotPermitted},
    {EIO, ReplyCode::Failed},
};

}  // namespace

Reply ReplyOf(NeighbourResult result, const std::string& detail)
{
    const ReplyCode code = CodeOf(kNeighbourReplies, result);
    return Reply{code, !detail.empty()                   ? detail
                       : code == ReplyCode::NotPermitted ? "cap_net_admin"
                       : code == ReplyCode::Failed       ? "neighbour table not changed"
                                                         : ""};
}

NeighbourResult NeighbourResultOf(const std::optional<Reply>& reply)
{
    return OutcomeOf(kNeighbourReplies, reply, NeighbourResult::NotPermitted, NeighbourResult::Failed);
}

Reply ReplyOf(IcmpAnswer answer)
{
    const ReplyCode code = CodeOf(kEchoReplies, answer);
    return Reply{code, code == ReplyCode::NotPermitted ? "cap_net_raw"
                       : code == ReplyCode::Failed     ? "echo request not sent"
                                                       : ""};
}

IcmpAnswer IcmpAnswerOf(const std::optional<Reply>& reply)
{
    return OutcomeOf(kEchoReplies, reply, IcmpAnswer::NotPermitted, IcmpAnswer::NotSent);
}

Reply BindReplyOf(int error)
{
    const ReplyCode code = CodeOf(kBindReplies, error == EPERM ? EACCES : error);
    return Reply{code, code == ReplyCode::NotPermitted ? "cap_net_bind_service"
                       : code == ReplyCode::Failed     ? std::strerror(error)
                                                       : ""};
}

int BindErrorOf(const std::optional<Reply>& reply)
{
    return OutcomeOf(kBindReplies, reply, EACCES, EIO);
}

}  // namespace tessel::nethelper
