// The requests the network helper (tessel-net) answers and its replies:
// one request or reply per message of a sequenced-packet socket, in plain
// ASCII words separated by single spaces, and nothing else (a message that
// carries descriptors or other control data is refused). The set is
// closed: a message that is not exactly one of these is refused before
// anything is done (docs/privileges.md).
//
//   bind-server-port                         UDP port 67, handed back as a descriptor (table helper, once)
//   echo A.B.C.D MS                          one ICMP echo check, MS 1000..10000 (check helper)
//   add-neighbour A.B.C.D DEVICE HH:HH:HH:HH:HH:HH   (table helper)
//   remove-neighbour A.B.C.D                 only the entries the helper made (table helper)
//
// Replies: a code word, then a space and a detail for some codes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/icmp.h"
#include "platform/neighbour_table.h"

namespace tessel::nethelper {

// The longest message either side sends or accepts.
inline constexpr std::size_t kMaxMessage = 128;
// The longest wait for one echo reply that a request may ask for.
inline constexpr int kMaxEchoTimeoutMs = 10000;
// The shortest: the programs wait 4 s; a shorter wait only makes checks
// faster than anyone needs.
inline constexpr int kMinEchoTimeoutMs = 1000;
// Checks of one helper start at least this far apart.
inline constexpr int kMinEchoIntervalMs = 100;

enum class RequestKind { BindServerPort, Echo, AddNeighbour, RemoveNeighbour };

// What a helper is started for, named as its one argument: a table helper
// binds the port once and writes the neighbour table (cap_net_bind_service
// until the port is bound, cap_net_admin); a check helper makes echo
// checks (cap_net_raw). Each keeps only its role's capabilities.
enum class Role { Table, Check };
std::string_view RoleName(Role role);
std::optional<Role> ParseRole(std::string_view name);
// Whether a helper of `role` answers requests of `kind`.
bool RoleServes(Role role, RequestKind kind);

using Address = std::array<std::uint8_t, 4>;
using Hardware = std::array<std::uint8_t, 6>;

struct Request {
    RequestKind kind = RequestKind::BindServerPort;
    Address address{};
    int timeoutMs = 0;    // Echo
    std::string device;   // AddNeighbour
    Hardware hardware{};  // AddNeighbour
};

inline Request MakeRequest(RequestKind kind, const Address& address = {})
{
    Request request;
    request.kind = kind;
    request.address = address;
    return request;
}

// A request, or why the bytes are none.
struct Parsed {
    std::optional<Request> request;
    std::string error;
};

// Reads one message. Pure: looks at nothing but the bytes, so that it can
// be fed anything (tests/fuzz). The checks that need the system (does the
// interface exist) are the helper's.
Parsed ParseRequest(std::string_view bytes);

// The message for `request`; ParseRequest gives it back.
std::string FormatRequest(const Request& request);

// Addresses no request may name: this network (0/8), loopback (127/8),
// multicast (224/4) and the reserved range with the limited broadcast
// (240/4). Empty when the address is acceptable, else the reason.
std::string RefusedAddress(const Address& address);

// Dotted decimal, strictly: four numbers 0..255 without leading zeros.
std::optional<Address> ParseAddress(std::string_view text);
std::string AddressText(const Address& address);

enum class ReplyCode {
    Ok,            // done; for bind-server-port the socket comes with it
    Answered,      // echo: the address answered
    NoAnswer,      // echo: nobody answered in time
    NotPermitted,  // the helper itself lacks the capability
    InUse,         // bind-server-port: another program holds port 67
    Kept,          // add-neighbour: another's entry is there, left alone
    Failed,        // the system refused for another reason (detail says)
    Refused,       // the request was malformed or named what is refused (detail says)
};

struct Reply {
    ReplyCode code = ReplyCode::Failed;
    std::string detail;
};

std::string FormatReply(const Reply& reply);
std::optional<Reply> ParseReply(std::string_view bytes);

// The one mapping between a step's outcome and its reply, read one way by
// the helper and the other way by the programs. No reply (the helper could
// not be started, or went away) reads as not permitted: the step was not
// made for want of the right.
Reply ReplyOf(NeighbourResult result, const std::string& detail = "");
NeighbourResult NeighbourResultOf(const std::optional<Reply>& reply);
Reply ReplyOf(IcmpAnswer answer);
IcmpAnswer IcmpAnswerOf(const std::optional<Reply>& reply);
// bind-server-port: an errno value of bind() (0 for done) and back.
Reply BindReplyOf(int error);
int BindErrorOf(const std::optional<Reply>& reply);

}  // namespace tessel::nethelper
