// The neighbour table over rtnetlink, with libmnl for the message framing,
// attribute parsing and the check that each answer belongs to our request
// (docs/privileges.md says why this library).
#include "platform/neighbour_table.h"
#include "platform/net_steps.h"

#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
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

// A request with its neighbour header filled for IPv4 and `address`.
class NeighbourRequest {
public:
    NeighbourRequest(std::uint16_t type, std::uint16_t flags, int ifindex, const in_addr* address)
        : m_buffer(MNL_SOCKET_BUFFER_SIZE)
    {
        m_header = mnl_nlmsg_put_header(m_buffer.data());
        m_header->nlmsg_type = type;
        m_header->nlmsg_flags = static_cast<std::uint16_t>(NLM_F_REQUEST | flags);
        m_neighbour = static_cast<ndmsg*>(mnl_nlmsg_put_extra_header(m_header, sizeof(ndmsg)));
        m_neighbour->ndm_family = AF_INET;
        m_neighbour->ndm_ifindex = ifindex;
        if (address != nullptr) mnl_attr_put(m_header, NDA_DST, sizeof *address, address);
    }
    nlmsghdr* header() { return m_header; }
    ndmsg* neighbour() { return m_neighbour; }

private:
    std::vector<char> m_buffer;
    nlmsghdr* m_header;
    ndmsg* m_neighbour;
};

using Hardware = std::array<std::uint8_t, 6>;

// One entry of the table for the wanted address.
struct FoundEntry {
    int interfaceIndex = 0;
    std::uint16_t state = 0;
    std::optional<Hardware> hardware;
};

// What the dump looks for, and what it found.
struct EntrySearch {
    in_addr wanted{};
    std::vector<FoundEntry> entries;
};

struct EntryAttributes {
    const void* destination = nullptr;
    const void* hardware = nullptr;
};

int OnAttribute(const nlattr* attribute, void* data)
{
    auto* found = static_cast<EntryAttributes*>(data);
    const auto size = mnl_attr_get_payload_len(attribute);
    if (mnl_attr_get_type(attribute) == NDA_DST && size == sizeof(in_addr))
        found->destination = mnl_attr_get_payload(attribute);
    if (mnl_attr_get_type(attribute) == NDA_LLADDR && size == sizeof(Hardware))
        found->hardware = mnl_attr_get_payload(attribute);
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
    if (attributes.destination == nullptr || std::memcmp(attributes.destination, &search->wanted, sizeof(in_addr)) != 0)
        return MNL_CB_OK;
    FoundEntry entry;
    entry.interfaceIndex = neighbour->ndm_ifindex;
    entry.state = neighbour->ndm_state;
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
};

// The entries made and not yet removed, for the whole process: the window's
// commands and the network thread share one table.
std::mutex g_ownLock;
std::vector<OwnEntry> g_own;
void (*g_afterNeighbourRead)() = nullptr;

bool SameAddress(const in_addr& a, const in_addr& b)
{
    return a.s_addr == b.s_addr;
}

// The entry is still the one we wrote: nobody replaced it meanwhile.
bool IsStillOurs(const FoundEntry* entry, const OwnEntry& own)
{
    return entry != nullptr && (entry->state & NUD_PERMANENT) != 0 && entry->hardware == own.hardware;
}

// The request itself, with cap_net_admin effective for it alone.
int ChangeTable(RouteSocket& socket, NeighbourRequest& request)
{
    const RaisedRight right(NetworkRight::NeighbourTable);
    return socket.Exchange(request.header(), nullptr, nullptr);
}

}  // namespace

NeighbourResult AddOwnNeighbour(const std::string& address, const Hardware& hardware, const std::string& device)
{
    EntrySearch search;
    if (::inet_pton(AF_INET, address.c_str(), &search.wanted) != 1) return NeighbourResult::Failed;
    const int interfaceIndex = static_cast<int>(::if_nametoindex(device.c_str()));
    if (interfaceIndex == 0) return NeighbourResult::Failed;
    RouteSocket socket;
    if (socket.OpenError() != 0) return FromError(socket.OpenError());

    // The table is read and changed under the one lock, so that no other
    // call of this process changes the entry or our record in between.
    std::lock_guard lock(g_ownLock);
    if (const int error = FindEntries(socket, search); error != 0) return FromError(error);
    if (g_afterNeighbourRead != nullptr) g_afterNeighbourRead();
    const auto own = std::find_if(g_own.begin(), g_own.end(), [&](const OwnEntry& e) {
        return SameAddress(e.address, search.wanted) && e.interfaceIndex == interfaceIndex;
    });
    const FoundEntry* present = EntryOn(search, interfaceIndex);
    // An entry that knows a hardware address (static, or learned and not
    // yet failed) belongs to an administrator or to the kernel; an
    // incomplete or failed one says only that nobody answered.
    if (present != nullptr && (present->state & kKnowsHardware) != 0 &&
        !(own != g_own.end() && IsStillOurs(present, *own)))
        return present->hardware == hardware ? NeighbourResult::Done : NeighbourResult::Kept;

    // Where the table held no entry, the kernel is asked to create one
    // only if there still is none: another program's entry made since the
    // reading is then kept, never overwritten and later removed as ours.
    const auto flags =
        static_cast<std::uint16_t>(NLM_F_ACK | NLM_F_CREATE | (present == nullptr ? NLM_F_EXCL : NLM_F_REPLACE));
    NeighbourRequest add(RTM_NEWNEIGH, flags, interfaceIndex, &search.wanted);
    add.neighbour()->ndm_state = NUD_PERMANENT;
    add.neighbour()->ndm_type = RTN_UNICAST;
    mnl_attr_put(add.header(), NDA_LLADDR, hardware.size(), hardware.data());
    if (const int error = ChangeTable(socket, add); error != 0)
        return error == EEXIST ? NeighbourResult::Kept : FromError(error);
    if (own != g_own.end())
        own->hardware = hardware;
    else
        g_own.push_back(OwnEntry{search.wanted, interfaceIndex, hardware});
    return NeighbourResult::Done;
}

namespace {

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
        if (IsStillOurs(EntryOn(search, it->interfaceIndex), *it)) {
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

}  // namespace

NeighbourResult RemoveOwnNeighbours(const std::string& address)
{
    in_addr wanted{};
    if (::inet_pton(AF_INET, address.c_str(), &wanted) != 1) return NeighbourResult::Failed;
    std::lock_guard lock(g_ownLock);
    const auto ours = [&](const OwnEntry& e) { return SameAddress(e.address, wanted); };
    // Nothing of ours for the address: nothing to ask the kernel.
    if (std::none_of(g_own.begin(), g_own.end(), ours)) return NeighbourResult::Done;
    RouteSocket socket;
    if (socket.OpenError() != 0) return FromError(socket.OpenError());
    return RemoveRecorded(socket, ours);
}

NeighbourResult RemoveEveryOwnNeighbour()
{
    std::lock_guard lock(g_ownLock);
    if (g_own.empty()) return NeighbourResult::Done;
    RouteSocket socket;
    if (socket.OpenError() != 0) return FromError(socket.OpenError());
    return RemoveRecorded(socket, [](const OwnEntry&) { return true; });
}

void SetAfterNeighbourReadForTest(void (*hook)())
{
    g_afterNeighbourRead = hook;
}

}  // namespace tessel::here
