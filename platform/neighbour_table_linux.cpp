// The neighbour table over rtnetlink, with libmnl for the message framing,
// attribute parsing and the check that each answer belongs to our request
// (docs/privileges.md says why this library).
#include "platform/neighbour_table.h"
#include "platform/net_steps.h"

#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/if_addr.h>
#include <net/if_arp.h>
#include <linux/neighbour.h>
#include <linux/nexthop.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/privileges.h"

namespace tessel::here {

namespace {

// Room for a whole dump message batch; the kernel sizes its batches by the
// largest receive it has seen, so one large buffer keeps every message whole.
constexpr std::size_t kReceiveBufferSize = 32768;
// The kernel answers a request while it is being sent; the limit only keeps
// a program that must never hang from waiting on a socket gone wrong.
constexpr time_t kAnswerTimeoutSeconds = 2;
// A dump that the kernel marks as interrupted (the table changed under it)
// is asked again, a few times at most.
constexpr int kDumpAttempts = 3;

NeighbourResult FromError(int error)
{
    return error == EPERM || error == EACCES ? NeighbourResult::NotPermitted : NeighbourResult::Failed;
}

struct SocketCloser {
    void operator()(mnl_socket* socket) const { mnl_socket_close(socket); }
};

// One rtnetlink socket for one change of the table: requests and their
// answers, matched by sequence number and port id.
class RouteSocket {
public:
    RouteSocket() : m_socket(mnl_socket_open(NETLINK_ROUTE)), m_sequence(static_cast<unsigned>(std::time(nullptr)))
    {
        if (!m_socket || mnl_socket_bind(m_socket.get(), 0, MNL_SOCKET_AUTOPID) < 0) {
            m_openError = errno;
            m_socket.reset();
            return;
        }
        timeval limit{kAnswerTimeoutSeconds, 0};
        ::setsockopt(mnl_socket_get_fd(m_socket.get()), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        m_portId = mnl_socket_get_portid(m_socket.get());
    }

    // 0 when open, else why not.
    int OpenError() const { return m_socket ? 0 : m_openError; }

    // Sends `request` and hands each answer message to `callback` until the
    // end of a dump or the acknowledgement. 0, or the error (errno value).
    int Exchange(nlmsghdr* request, mnl_cb_t callback, void* data)
    {
        request->nlmsg_seq = ++m_sequence;
        if (mnl_socket_sendto(m_socket.get(), request, request->nlmsg_len) < 0) return errno;
        std::vector<char> buffer(kReceiveBufferSize);
        for (;;) {
            const ssize_t got = mnl_socket_recvfrom(m_socket.get(), buffer.data(), buffer.size());
            if (got < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            errno = 0;
            const int rc =
                mnl_cb_run(buffer.data(), static_cast<size_t>(got), request->nlmsg_seq, m_portId, callback, data);
            if (rc == MNL_CB_ERROR) return errno != 0 ? errno : EPROTO;
            if (rc == MNL_CB_STOP) return 0;
        }
    }

private:
    std::unique_ptr<mnl_socket, SocketCloser> m_socket;
    int m_openError = 0;
    unsigned m_sequence;
    unsigned m_portId = 0;
};

// A request with its family header (ndmsg, ifinfomsg, ...) zeroed.
class Request {
public:
    Request(std::uint16_t type, std::uint16_t flags, std::size_t familyHeaderSize) : m_buffer(MNL_SOCKET_BUFFER_SIZE)
    {
        m_header = mnl_nlmsg_put_header(m_buffer.data());
        m_header->nlmsg_type = type;
        m_header->nlmsg_flags = static_cast<std::uint16_t>(NLM_F_REQUEST | flags);
        m_family = mnl_nlmsg_put_extra_header(m_header, familyHeaderSize);
    }
    nlmsghdr* header() { return m_header; }
    template <typename T>
    T* family()
    {
        return static_cast<T*>(m_family);
    }

private:
    std::vector<char> m_buffer;
    nlmsghdr* m_header;
    void* m_family;
};

// A request with its neighbour header filled for IPv4 and `address`.
class NeighbourRequest : public Request {
public:
    NeighbourRequest(std::uint16_t type, std::uint16_t flags, int ifindex, const in_addr* address)
        : Request(type, flags, sizeof(ndmsg))
    {
        neighbour()->ndm_family = AF_INET;
        neighbour()->ndm_ifindex = ifindex;
        if (address != nullptr) mnl_attr_put(header(), NDA_DST, sizeof *address, address);
    }
    ndmsg* neighbour() { return family<ndmsg>(); }
};

using Hardware = std::array<std::uint8_t, 6>;

// One entry of the table for the wanted address.
struct FoundEntry {
    int interfaceIndex = 0;
    std::uint16_t state = 0;
    std::optional<Hardware> hardware;
    int protocol = -1;  // NDA_PROTOCOL, -1 where none
};

// What the dump looks for, and what it found: the entries of the wanted
// address, and every tagged entry of the table on the way.
struct EntrySearch {
    in_addr wanted{};
    std::vector<FoundEntry> entries;
    std::vector<TaggedEntry> tagged;
};

struct EntryAttributes {
    const void* destination = nullptr;
    const void* hardware = nullptr;
    int protocol = -1;
    std::optional<std::uint32_t> updatedTicks;  // NDA_CACHEINFO's ndm_updated
};

// The kernel's ages are in clock ticks of the user interface (USER_HZ).
std::int64_t TicksToMs(std::uint32_t ticks)
{
    static const long perSecond = std::max(1L, ::sysconf(_SC_CLK_TCK));
    return static_cast<std::int64_t>(ticks) * 1000 / perSecond;
}

int OnAttribute(const nlattr* attribute, void* data)
{
    auto* found = static_cast<EntryAttributes*>(data);
    const auto size = mnl_attr_get_payload_len(attribute);
    if (mnl_attr_get_type(attribute) == NDA_DST && size == sizeof(in_addr))
        found->destination = mnl_attr_get_payload(attribute);
    if (mnl_attr_get_type(attribute) == NDA_LLADDR && size == sizeof(Hardware))
        found->hardware = mnl_attr_get_payload(attribute);
    if (mnl_attr_get_type(attribute) == NDA_PROTOCOL && size == 1) found->protocol = mnl_attr_get_u8(attribute);
    if (mnl_attr_get_type(attribute) == NDA_CACHEINFO && size >= sizeof(nda_cacheinfo))
        found->updatedTicks = static_cast<const nda_cacheinfo*>(mnl_attr_get_payload(attribute))->ndm_updated;
    return MNL_CB_OK;
}

int OnNeighbour(const nlmsghdr* message, void* data)
{
    auto* search = static_cast<EntrySearch*>(data);
    if (message->nlmsg_type != RTM_NEWNEIGH || mnl_nlmsg_get_payload_len(message) < sizeof(ndmsg)) return MNL_CB_OK;
    const auto* neighbour = static_cast<const ndmsg*>(mnl_nlmsg_get_payload(message));
    if (neighbour->ndm_family != AF_INET) return MNL_CB_OK;
    EntryAttributes attributes;
    if (mnl_attr_parse(message, sizeof(ndmsg), OnAttribute, &attributes) < 0) return MNL_CB_OK;
    if (attributes.destination == nullptr) return MNL_CB_OK;
    // An administrator's permanent entry keeps the number of the entry it
    // replaced, but it is not one of ours.
    if (attributes.protocol == kNeighbourProtocol && (neighbour->ndm_state & NUD_PERMANENT) == 0) {
        in_addr address{};
        std::memcpy(&address, attributes.destination, sizeof address);
        // Without its age (never seen) an entry counts as new: kept, and counted.
        search->tagged.push_back(TaggedEntry{ntohl(address.s_addr), neighbour->ndm_ifindex,
                                             attributes.updatedTicks ? TicksToMs(*attributes.updatedTicks) : 0});
    }
    if (std::memcmp(attributes.destination, &search->wanted, sizeof(in_addr)) != 0) return MNL_CB_OK;
    FoundEntry entry;
    entry.interfaceIndex = neighbour->ndm_ifindex;
    entry.state = neighbour->ndm_state;
    entry.protocol = attributes.protocol;
    if (attributes.hardware != nullptr) {
        Hardware hardware{};
        std::memcpy(hardware.data(), attributes.hardware, hardware.size());
        entry.hardware = hardware;
    }
    search->entries.push_back(entry);
    return MNL_CB_OK;
}

// The table's entries for `search.wanted`; 0 or the error. Reading the
// table needs no privilege.
int FindEntries(RouteSocket& socket, EntrySearch& search)
{
    int error = EINTR;
    for (int attempt = 0; attempt < kDumpAttempts && error == EINTR; ++attempt) {
        search.entries.clear();
        search.tagged.clear();
        NeighbourRequest dump(RTM_GETNEIGH, NLM_F_DUMP, 0, nullptr);
        error = socket.Exchange(dump.header(), OnNeighbour, &search);
    }
    return error;
}

const FoundEntry* EntryOn(const EntrySearch& search, int interfaceIndex)
{
    for (const auto& entry : search.entries)
        if (entry.interfaceIndex == interfaceIndex) return &entry;
    return nullptr;
}

// The states in which an entry holds a hardware address someone relies on
// (the kernel's NUD_VALID, which its user headers do not carry).
constexpr std::uint16_t kKnowsHardware = NUD_PERMANENT | NUD_NOARP | NUD_REACHABLE | NUD_PROBE | NUD_STALE | NUD_DELAY;

// An entry this program made.
struct OwnEntry {
    in_addr address{};
    int interfaceIndex = 0;
    Hardware hardware{};
    std::chrono::steady_clock::time_point made;
};

// The entries made and not yet removed, for the whole process: the window's
// commands and the network thread share one table.
std::mutex g_ownLock;
std::vector<OwnEntry> g_own;
void (*g_afterNeighbourRead)() = nullptr;
// The helper's socket, opened at its start and kept: a limit on its
// descriptors set later (its user may) cannot keep it from removing its
// entries. Used under g_ownLock.
std::unique_ptr<RouteSocket> g_kept;

// `work` with the kept socket, or with one of its own. Called with
// g_ownLock held.
template <typename Work>
NeighbourResult WithSocket(Work work)
{
    if (g_kept) return work(*g_kept);
    RouteSocket socket;
    if (socket.OpenError() != 0) return FromError(socket.OpenError());
    return work(socket);
}

bool SameAddress(const in_addr& a, const in_addr& b)
{
    return a.s_addr == b.s_addr;
}

// The entry is still the one we wrote: nobody replaced it meanwhile. The
// kernel keeps the originator's number when another program or an
// administrator replaces the entry; ours are never permanent. One that the
// kernel found unanswered (FAILED) shows no hardware address and holds
// nothing anyone relies on: still ours to remove.
bool IsStillOurs(const FoundEntry* entry, const Hardware& hardware)
{
    return entry != nullptr && entry->protocol == kNeighbourProtocol && (entry->state & NUD_PERMANENT) == 0 &&
           (entry->hardware == hardware || (!entry->hardware && (entry->state & NUD_FAILED) != 0));
}

// The request itself, with cap_net_admin effective for it alone.
int ChangeTable(RouteSocket& socket, NeighbourRequest& request)
{
    const RaisedRight right(NetworkRight::NeighbourTable);
    return socket.Exchange(request.header(), nullptr, nullptr);
}

// The kernel's table as the host-wide bounds see it: each reading is the
// dump that also finds the entries of `search.wanted`, so that the bounds
// cost no reading of their own.
class KernelTaggedTable {
public:
    KernelTaggedTable(RouteSocket& socket, EntrySearch& search) : m_socket(socket), m_search(search) {}

    bool Read(std::vector<TaggedEntry>& entries)
    {
        m_error = FindEntries(m_socket, m_search);
        entries = m_search.tagged;
        return m_error == 0;
    }

    bool Remove(const TaggedEntry& entry)
    {
        const in_addr address{htonl(entry.address)};
        NeighbourRequest remove(RTM_DELNEIGH, NLM_F_ACK, entry.interfaceIndex, &address);
        const int error = ChangeTable(m_socket, remove);
        m_removed = m_removed || error == 0;
        return error == 0 || error == ENOENT;
    }

    int Error() const { return m_error; }
    // Whether an entry went since the last reading (so `search` is out of date).
    bool RemovedAny() const { return m_removed; }

private:
    RouteSocket& m_socket;
    EntrySearch& m_search;
    int m_error = 0;
    bool m_removed = false;
};

// Reading the facts of NeighbourRefusal: three dumps (links, addresses,
// routes) and the next-hop objects, none of which needs a privilege.
struct FactsSearch {
    std::string device;
    int interfaceIndex = 0;
    NeighbourFacts facts;
};

// Each attribute of `message` after its family header of `offset` bytes.
template <typename Each>
void ForEachAttribute(const nlmsghdr* message, std::size_t offset, Each each)
{
    const auto* tail = static_cast<const char*>(mnl_nlmsg_get_payload_tail(message));
    for (auto* attribute = static_cast<const nlattr*>(mnl_nlmsg_get_payload_offset(message, offset));
         mnl_attr_ok(attribute, static_cast<int>(tail - reinterpret_cast<const char*>(attribute)));
         attribute = mnl_attr_next(attribute))
        each(attribute);
}

std::uint32_t HostOrder(const void* payload)
{
    std::uint32_t value = 0;
    std::memcpy(&value, payload, sizeof value);
    return ntohl(value);
}

int OnLink(const nlmsghdr* message, void* data)
{
    auto* search = static_cast<FactsSearch*>(data);
    if (message->nlmsg_type != RTM_NEWLINK || mnl_nlmsg_get_payload_len(message) < sizeof(ifinfomsg)) return MNL_CB_OK;
    const auto* link = static_cast<const ifinfomsg*>(mnl_nlmsg_get_payload(message));
    ForEachAttribute(message, sizeof(ifinfomsg), [&](const nlattr* attribute) {
        if (mnl_attr_get_type(attribute) != IFLA_IFNAME || mnl_attr_validate(attribute, MNL_TYPE_STRING) < 0) return;
        if (search->device != mnl_attr_get_str(attribute)) return;
        search->interfaceIndex = link->ifi_index;
        search->facts.found = true;
        search->facts.type = link->ifi_type;
        search->facts.flags = link->ifi_flags;
    });
    return MNL_CB_OK;
}

int OnAddress(const nlmsghdr* message, void* data)
{
    auto* search = static_cast<FactsSearch*>(data);
    if (message->nlmsg_type != RTM_NEWADDR || mnl_nlmsg_get_payload_len(message) < sizeof(ifaddrmsg)) return MNL_CB_OK;
    const auto* address = static_cast<const ifaddrmsg*>(mnl_nlmsg_get_payload(message));
    if (address->ifa_family != AF_INET) return MNL_CB_OK;
    NeighbourFacts::Network network;
    network.prefix = address->ifa_prefixlen;
    bool local = false;
    ForEachAttribute(message, sizeof(ifaddrmsg), [&](const nlattr* attribute) {
        if (mnl_attr_get_payload_len(attribute) != sizeof(in_addr)) return;
        const auto type = mnl_attr_get_type(attribute);
        // IFA_LOCAL is the interface's own address; IFA_ADDRESS is the
        // peer's on a point-to-point link and the same elsewhere.
        if (type == IFA_LOCAL || (type == IFA_ADDRESS && !local)) {
            network.address = HostOrder(mnl_attr_get_payload(attribute));
            local = local || type == IFA_LOCAL;
        }
        if (type == IFA_BROADCAST) network.broadcast = HostOrder(mnl_attr_get_payload(attribute));
    });
    search->facts.hostAddresses.push_back(network.address);
    if (static_cast<int>(address->ifa_index) == search->interfaceIndex) search->facts.networks.push_back(network);
    return MNL_CB_OK;
}

int OnRoute(const nlmsghdr* message, void* data)
{
    auto* search = static_cast<FactsSearch*>(data);
    if (message->nlmsg_type != RTM_NEWROUTE || mnl_nlmsg_get_payload_len(message) < sizeof(rtmsg)) return MNL_CB_OK;
    if (static_cast<const rtmsg*>(mnl_nlmsg_get_payload(message))->rtm_family != AF_INET) return MNL_CB_OK;
    ForEachAttribute(message, sizeof(rtmsg), [&](const nlattr* attribute) {
        const auto type = mnl_attr_get_type(attribute);
        if (type == RTA_GATEWAY && mnl_attr_get_payload_len(attribute) == sizeof(in_addr))
            search->facts.gateways.push_back(HostOrder(mnl_attr_get_payload(attribute)));
        if (type != RTA_MULTIPATH) return;
        // Each next hop of a multipath route: rtnexthop, then its attributes.
        const auto* bytes = static_cast<const char*>(mnl_attr_get_payload(attribute));
        std::size_t left = mnl_attr_get_payload_len(attribute);
        while (left >= sizeof(rtnexthop)) {
            const auto* hop = reinterpret_cast<const rtnexthop*>(bytes);
            if (hop->rtnh_len < sizeof(rtnexthop) || hop->rtnh_len > left) break;
            std::size_t inner = hop->rtnh_len - RTNH_ALIGN(sizeof(rtnexthop));
            const auto* nested = reinterpret_cast<const nlattr*>(bytes + RTNH_ALIGN(sizeof(rtnexthop)));
            while (mnl_attr_ok(nested, static_cast<int>(inner))) {
                if (mnl_attr_get_type(nested) == RTA_GATEWAY && mnl_attr_get_payload_len(nested) == sizeof(in_addr))
                    search->facts.gateways.push_back(HostOrder(mnl_attr_get_payload(nested)));
                inner -= MNL_ALIGN(nested->nla_len);
                nested = mnl_attr_next(nested);
            }
            const std::size_t step = RTNH_ALIGN(hop->rtnh_len);
            if (step >= left) break;
            bytes += step;
            left -= step;
        }
    });
    return MNL_CB_OK;
}

int OnNextHop(const nlmsghdr* message, void* data)
{
    auto* search = static_cast<FactsSearch*>(data);
    if (message->nlmsg_type != RTM_NEWNEXTHOP || mnl_nlmsg_get_payload_len(message) < sizeof(nhmsg)) return MNL_CB_OK;
    ForEachAttribute(message, sizeof(nhmsg), [&](const nlattr* attribute) {
        if (mnl_attr_get_type(attribute) == NHA_GATEWAY && mnl_attr_get_payload_len(attribute) == sizeof(in_addr))
            search->facts.gateways.push_back(HostOrder(mnl_attr_get_payload(attribute)));
    });
    return MNL_CB_OK;
}

template <typename FamilyHeader>
int Dump(RouteSocket& socket, std::uint16_t type, std::uint8_t family, mnl_cb_t callback, void* data)
{
    int error = EINTR;
    for (int attempt = 0; attempt < kDumpAttempts && error == EINTR; ++attempt) {
        Request dump(type, NLM_F_DUMP, sizeof(FamilyHeader));
        // The family is the first byte of every family header.
        *reinterpret_cast<std::uint8_t*>(dump.template family<FamilyHeader>()) = family;
        error = socket.Exchange(dump.header(), callback, data);
    }
    return error;
}

int ReadFacts(RouteSocket& socket, FactsSearch& search)
{
    if (const int error = Dump<ifinfomsg>(socket, RTM_GETLINK, AF_UNSPEC, OnLink, &search); error != 0) return error;
    if (!search.facts.found) return 0;
    if (const int error = Dump<ifaddrmsg>(socket, RTM_GETADDR, AF_INET, OnAddress, &search); error != 0) return error;
    // Every table: the kernel dumps them all when none is named.
    if (const int error = Dump<rtmsg>(socket, RTM_GETROUTE, AF_INET, OnRoute, &search); error != 0) return error;
    // Next-hop objects (a kernel without them answers EOPNOTSUPP or EINVAL).
    const int error = Dump<nhmsg>(socket, RTM_GETNEXTHOP, AF_INET, OnNextHop, &search);
    return error == EOPNOTSUPP || error == EINVAL ? 0 : error;
}

using Clock = std::chrono::steady_clock;

bool Expired(const OwnEntry& own, Clock::time_point now)
{
    return now - own.made >= std::chrono::milliseconds(kOwnNeighbourLifetimeMs);
}

NeighbourResult RemoveExpiredLocked(Clock::time_point now);
NeighbourResult AddLocked(RouteSocket& socket, EntrySearch& search, const Hardware& hardware, const std::string& device,
                          std::string* why);

NeighbourResult Refuse(std::string reason, std::string* why)
{
    if (why != nullptr) *why = std::move(reason);
    return NeighbourResult::Refused;
}

std::string HostFullReason()
{
    return "too many entries on this computer (" + std::to_string(kMaxTaggedNeighbours) + ")";
}

}  // namespace

}  // namespace tessel::here

namespace tessel {

std::string NeighbourRefusal(const NeighbourFacts& facts, std::uint32_t address)
{
    if (!facts.found) return "no such interface";
    if ((facts.flags & IFF_LOOPBACK) != 0) return "loopback interface";
    if ((facts.flags & IFF_POINTOPOINT) != 0) return "point-to-point interface";
    if ((facts.flags & IFF_NOARP) != 0) return "interface without ARP";
    if (facts.type != ARPHRD_ETHER) return "not an Ethernet interface";
    if ((facts.flags & IFF_UP) == 0) return "interface down";
    bool inside = false;
    for (const auto& network : facts.networks) {
        if (network.prefix < 0 || network.prefix > 30) continue;  // no host but this computer's
        const std::uint32_t mask = network.prefix == 0 ? 0 : ~0U << (32 - network.prefix);
        if ((address & mask) != (network.address & mask)) continue;
        if (address == (network.address & mask)) return "the network's own address";
        if (address == ((network.address & mask) | ~mask)) return "the network's broadcast address";
        inside = true;
    }
    for (const auto& network : facts.networks)
        if (network.broadcast != 0 && address == network.broadcast) return "the network's broadcast address";
    if (!inside) return "not in a network of the interface";
    if (std::find(facts.hostAddresses.begin(), facts.hostAddresses.end(), address) != facts.hostAddresses.end())
        return "an address of this computer";
    if (std::find(facts.gateways.begin(), facts.gateways.end(), address) != facts.gateways.end())
        return "a gateway of a route";
    return "";
}

}  // namespace tessel

namespace tessel::here {

NeighbourResult AddOwnNeighbour(const std::string& address, const Hardware& hardware, const std::string& device,
                                std::string* why)
{
    EntrySearch search;
    if (::inet_pton(AF_INET, address.c_str(), &search.wanted) != 1) return NeighbourResult::Failed;
    // The table is read and changed under the one lock, so that no other
    // call of this process changes the entry or our record in between.
    std::lock_guard lock(g_ownLock);
    RemoveExpiredLocked(Clock::now());
    return WithSocket([&](RouteSocket& socket) { return AddLocked(socket, search, hardware, device, why); });
}

namespace {

NeighbourResult AddLocked(RouteSocket& socket, EntrySearch& search, const Hardware& hardware, const std::string& device,
                          std::string* why)
{
    FactsSearch facts;
    facts.device = device;
    if (const int error = ReadFacts(socket, facts); error != 0) return FromError(error);
    if (std::string reason = NeighbourRefusal(facts.facts, ntohl(search.wanted.s_addr)); !reason.empty())
        return Refuse(std::move(reason), why);
    const int interfaceIndex = facts.interfaceIndex;
    const std::uint32_t wanted = ntohl(search.wanted.s_addr);
    // The bounds for the whole table, whoever made its entries: the expired
    // go, and a full table takes no more.
    KernelTaggedTable table(socket, search);
    const std::optional<bool> room = RoomForTaggedEntry(table, wanted, interfaceIndex);
    if (!room) return FromError(table.Error());
    if (table.RemovedAny())
        if (const int error = FindEntries(socket, search); error != 0) return FromError(error);
    if (g_afterNeighbourRead != nullptr) g_afterNeighbourRead();
    const auto own = std::find_if(g_own.begin(), g_own.end(), [&](const OwnEntry& e) {
        return SameAddress(e.address, search.wanted) && e.interfaceIndex == interfaceIndex;
    });
    const FoundEntry* present = EntryOn(search, interfaceIndex);
    const bool ours = own != g_own.end() && IsStillOurs(present, own->hardware);
    // An entry that knows a hardware address (static, or learned and not
    // yet failed) belongs to an administrator or to the kernel; an
    // incomplete or failed one says only that nobody answered. A tagged one
    // of another helper is its maker's, whatever its state: written again
    // here, its lifetime would start again.
    if (present != nullptr && !ours &&
        ((present->state & kKnowsHardware) != 0 || present->protocol == kNeighbourProtocol))
        return present->hardware == hardware ? NeighbourResult::Done : NeighbourResult::Kept;
    if (own == g_own.end() && g_own.size() >= kMaxOwnNeighbours)
        return Refuse("too many entries at once (" + std::to_string(kMaxOwnNeighbours) + ")", why);
    if (!*room) return Refuse(HostFullReason(), why);

    // Where the table held no entry, the kernel is asked to create one
    // only if there still is none: another program's entry made since the
    // reading is then kept, never overwritten and later removed as ours.
    // STALE, never permanent: once its probes of our hardware address go
    // unanswered the kernel asks the whole network, and the owner's answer
    // replaces ours.
    const auto flags =
        static_cast<std::uint16_t>(NLM_F_ACK | NLM_F_CREATE | (present == nullptr ? NLM_F_EXCL : NLM_F_REPLACE));
    NeighbourRequest add(RTM_NEWNEIGH, flags, interfaceIndex, &search.wanted);
    add.neighbour()->ndm_state = NUD_STALE;
    add.neighbour()->ndm_type = RTN_UNICAST;
    mnl_attr_put(add.header(), NDA_LLADDR, hardware.size(), hardware.data());
    mnl_attr_put_u8(add.header(), NDA_PROTOCOL, kNeighbourProtocol);
    if (const int error = ChangeTable(socket, add); error != 0)
        return error == EEXIST ? NeighbourResult::Kept : FromError(error);

    // Read back: the kernel may file an entry elsewhere than asked (a
    // device that shares one entry for every address). Anything but the
    // entry asked for is undone, unless another's has taken its place.
    // Counted again with the entry in the table: of helpers that found
    // room at once, the ones that find the table over its bound now undo
    // theirs, so that the last of them to count never leaves more.
    EntrySearch back;
    back.wanted = search.wanted;
    KernelTaggedTable after(socket, back);
    std::optional<bool> roomAfter = RoomForTaggedEntry(after, wanted, interfaceIndex);
    if (roomAfter && after.RemovedAny() && FindEntries(socket, back) != 0) roomAfter.reset();
    const FoundEntry* made = EntryOn(back, interfaceIndex);
    const bool full = roomAfter == false;
    if (!roomAfter || full || made == nullptr || !IsStillOurs(made, hardware) || made->hardware != hardware) {
        if (made == nullptr || made->protocol == kNeighbourProtocol) {
            NeighbourRequest undo(RTM_DELNEIGH, NLM_F_ACK, interfaceIndex, &search.wanted);
            ChangeTable(socket, undo);
        }
        if (own != g_own.end()) g_own.erase(own);
        return Refuse(full ? HostFullReason() : "the table did not keep the entry as asked", why);
    }
    // Written again, an entry keeps its first time: its lifetime does not
    // start over.
    if (own != g_own.end()) {
        own->hardware = hardware;
    } else {
        g_own.push_back(OwnEntry{search.wanted, interfaceIndex, hardware, Clock::now()});
    }
    return NeighbourResult::Done;
}

// Removes the recorded entries that `chosen` selects, each only where it
// is still as it was made. Called with g_ownLock held.
template <typename Chosen>
NeighbourResult RemoveRecorded(RouteSocket& socket, Chosen chosen)
{
    NeighbourResult result = NeighbourResult::Done;
    EntrySearch search;  // the table's entries for search.wanted, once read
    bool read = false;
    for (auto it = g_own.begin(); it != g_own.end();) {
        if (!chosen(*it)) {
            ++it;
            continue;
        }
        if (!read || !SameAddress(search.wanted, it->address)) {
            search.wanted = it->address;
            const int error = FindEntries(socket, search);
            read = error == 0;
            if (!read) {
                result = FromError(error);
                ++it;
                continue;
            }
        }
        if (IsStillOurs(EntryOn(search, it->interfaceIndex), it->hardware)) {
            NeighbourRequest remove(RTM_DELNEIGH, NLM_F_ACK, it->interfaceIndex, &it->address);
            const int error = ChangeTable(socket, remove);
            // Gone meanwhile is as good as removed; a refusal keeps the
            // record, so that a later "arp -d" can try again.
            if (error != 0 && error != ENOENT) {
                result = FromError(error);
                ++it;
                continue;
            }
        }
        // Removed, or no longer ours to remove.
        it = g_own.erase(it);
    }
    return result;
}

NeighbourResult RemoveExpiredLocked(Clock::time_point now)
{
    const auto expired = [now](const OwnEntry& e) { return Expired(e, now); };
    if (std::none_of(g_own.begin(), g_own.end(), expired)) return NeighbourResult::Done;
    return WithSocket([&](RouteSocket& socket) { return RemoveRecorded(socket, expired); });
}

}  // namespace

NeighbourResult RemoveOwnNeighbours(const std::string& address)
{
    in_addr wanted{};
    if (::inet_pton(AF_INET, address.c_str(), &wanted) != 1) return NeighbourResult::Failed;
    std::lock_guard lock(g_ownLock);
    RemoveExpiredLocked(Clock::now());
    const auto ours = [&](const OwnEntry& e) { return SameAddress(e.address, wanted); };
    // Nothing of ours for the address: nothing to ask the kernel.
    if (std::none_of(g_own.begin(), g_own.end(), ours)) return NeighbourResult::Done;
    return WithSocket([&](RouteSocket& socket) { return RemoveRecorded(socket, ours); });
}

NeighbourResult RemoveEveryOwnNeighbour()
{
    std::lock_guard lock(g_ownLock);
    if (g_own.empty()) return NeighbourResult::Done;
    return WithSocket([](RouteSocket& socket) { return RemoveRecorded(socket, [](const OwnEntry&) { return true; }); });
}

void KeepNeighbourSocket()
{
    std::lock_guard lock(g_ownLock);
    auto socket = std::make_unique<RouteSocket>();
    if (!g_kept && socket->OpenError() == 0) g_kept = std::move(socket);
}

void RemoveExpiredOwnNeighbours()
{
    std::lock_guard lock(g_ownLock);
    RemoveExpiredLocked(Clock::now());
}

int MsUntilOwnNeighbourExpires()
{
    std::lock_guard lock(g_ownLock);
    if (g_own.empty()) return -1;
    auto oldest = g_own.front().made;
    for (const auto& own : g_own) oldest = std::min(oldest, own.made);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        oldest + std::chrono::milliseconds(kOwnNeighbourLifetimeMs) - Clock::now());
    return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

void SetAfterNeighbourReadForTest(void (*hook)())
{
    g_afterNeighbourRead = hook;
}

}  // namespace tessel::here
