// The neighbour table over rtnetlink, with libmnl for the message framing,
// attribute parsing and the check that each answer belongs to our request
// (docs/privileges.md says why this library).
#include "platform/neighbour_table.h"

#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

namespace tessel {

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
            const int rc = mnl_cb_run(buffer.data(), static_cast<size_t>(got), request->nlmsg_seq, m_portId,
                                      callback, data);
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

// What the dump looks for, and the interfaces where it found it.
struct EntrySearch {
    in_addr wanted{};
    std::vector<int> interfaces;
};

struct DestinationAttribute {
    const void* address = nullptr;
};

int OnAttribute(const nlattr* attribute, void* data)
{
    if (mnl_attr_get_type(attribute) == NDA_DST && mnl_attr_get_payload_len(attribute) == sizeof(in_addr))
        static_cast<DestinationAttribute*>(data)->address = mnl_attr_get_payload(attribute);
    return MNL_CB_OK;
}

int OnNeighbour(const nlmsghdr* message, void* data)
{
    auto* search = static_cast<EntrySearch*>(data);
    if (message->nlmsg_type != RTM_NEWNEIGH || mnl_nlmsg_get_payload_len(message) < sizeof(ndmsg))
        return MNL_CB_OK;
    const auto* neighbour = static_cast<const ndmsg*>(mnl_nlmsg_get_payload(message));
    if (neighbour->ndm_family != AF_INET) return MNL_CB_OK;
    DestinationAttribute destination;
    if (mnl_attr_parse(message, sizeof(ndmsg), OnAttribute, &destination) < 0) return MNL_CB_OK;
    if (destination.address != nullptr && std::memcmp(destination.address, &search->wanted, sizeof(in_addr)) == 0)
        search->interfaces.push_back(neighbour->ndm_ifindex);
    return MNL_CB_OK;
}

}  // namespace

NeighbourResult DeleteNeighbourEntries(const std::string& address)
{
    EntrySearch search;
    if (::inet_pton(AF_INET, address.c_str(), &search.wanted) != 1) return NeighbourResult::Failed;
    RouteSocket socket;
    if (socket.OpenError() != 0) return FromError(socket.OpenError());

    // Reading the table needs no privilege; only entries that exist are
    // deleted, so an address without entry is done without one.
    int error = EINTR;
    for (int attempt = 0; attempt < kDumpAttempts && error == EINTR; ++attempt) {
        search.interfaces.clear();
        NeighbourRequest dump(RTM_GETNEIGH, NLM_F_DUMP, 0, nullptr);
        error = socket.Exchange(dump.header(), OnNeighbour, &search);
    }
    if (error != 0) return FromError(error);

    for (const int interfaceIndex : search.interfaces) {
        NeighbourRequest remove(RTM_DELNEIGH, NLM_F_ACK, interfaceIndex, &search.wanted);
        error = socket.Exchange(remove.header(), nullptr, nullptr);
        // Gone meanwhile (the kernel let it expire) is as good as deleted.
        if (error != 0 && error != ENOENT) return FromError(error);
    }
    return NeighbourResult::Done;
}

NeighbourResult SetPermanentNeighbour(const std::string& address, const std::array<std::uint8_t, 6>& hardware,
                                      const std::string& device)
{
    in_addr target{};
    if (::inet_pton(AF_INET, address.c_str(), &target) != 1) return NeighbourResult::Failed;
    const unsigned interfaceIndex = ::if_nametoindex(device.c_str());
    if (interfaceIndex == 0) return NeighbourResult::Failed;
    RouteSocket socket;
    if (socket.OpenError() != 0) return FromError(socket.OpenError());

    NeighbourRequest add(RTM_NEWNEIGH, NLM_F_ACK | NLM_F_CREATE | NLM_F_REPLACE, static_cast<int>(interfaceIndex),
                         &target);
    add.neighbour()->ndm_state = NUD_PERMANENT;
    add.neighbour()->ndm_type = RTN_UNICAST;
    mnl_attr_put(add.header(), NDA_LLADDR, hardware.size(), hardware.data());
    const int error = socket.Exchange(add.header(), nullptr, nullptr);
    return error == 0 ? NeighbourResult::Done : FromError(error);
}

}  // namespace tessel
