// The references for the receive-loop throughput: a socket bound to
// 0.0.0.0:67 that only takes datagrams, with the same buffer size and socket
// settings as the program's channel, and no work per datagram beyond
// telling an end marker (a request from the maker prefix) from the flood.
//
// Two ways to take them:
//   (default)  recv() of one datagram at a time, nothing else asked: the
//              most any receive loop can handle on the same bed;
//   --batch    what the program's loop cannot do without: recvmmsg in
//              batches of the channel's size (MSG_WAITFORONE), each datagram
//              with its sender and its arrival interface (IP_PKTINFO), which
//              the reply must go out of. The floor of the program's loop.
//
// Output, flushed: "READY", then per marker
//   MARKER mac=0A-1B-2C-00-00-05 flood=<flood datagrams received before it>
// and on SIGINT/SIGTERM
//   "DONE flood=<n> markers=<m> errors=<e> nointerface=<datagrams without
//   an arrival interface (--batch only)>".
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_namespace.h"
#include "engine/bootp.h"
#include "engine/bootp_channel.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnStop(int)
{
    g_stop = 1;
}

struct Counts {
    unsigned long long flood = 0, markers = 0, errors = 0, noInterface = 0;
};

void Take(const std::uint8_t* data, ssize_t n, const std::uint8_t markerPrefix[3], Counts& counts)
{
    if (n >= 34 && data[0] == 1 && std::memcmp(data + 28, markerPrefix, 3) == 0) {
        ++counts.markers;
        std::printf("MARKER mac=%02X-%02X-%02X-%02X-%02X-%02X flood=%llu\n", data[28], data[29], data[30], data[31],
                    data[32], data[33], counts.flood);
        std::fflush(stdout);
    } else {
        ++counts.flood;
    }
}

void ReceiveOneByOne(int fd, const std::uint8_t markerPrefix[3], Counts& counts)
{
    static std::uint8_t buffer[tessel::kBootpBufferSize];
    while (g_stop == 0) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n < 0) {
            if (errno != EINTR) ++counts.errors;
            continue;
        }
        Take(buffer, n, markerPrefix, counts);
    }
}

void ReceiveInBatches(int fd, const std::uint8_t markerPrefix[3], Counts& counts)
{
    struct Slot {
        std::uint8_t data[tessel::kBootpBufferSize];
        sockaddr_in from;
        iovec io;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    };
    std::vector<Slot> slots(tessel::kReceiveBatch);
    std::vector<mmsghdr> headers(tessel::kReceiveBatch);
    while (g_stop == 0) {
        for (unsigned i = 0; i < tessel::kReceiveBatch; ++i) {
            slots[i].io = {slots[i].data, sizeof slots[i].data};
            msghdr& h = headers[i].msg_hdr;
            h = msghdr{};
            h.msg_name = &slots[i].from;
            h.msg_namelen = sizeof slots[i].from;
            h.msg_iov = &slots[i].io;
            h.msg_iovlen = 1;
            h.msg_control = slots[i].control;
            h.msg_controllen = sizeof slots[i].control;
        }
        const int n = recvmmsg(fd, headers.data(), tessel::kReceiveBatch, MSG_WAITFORONE, nullptr);
        if (n < 0) {
            if (errno != EINTR) ++counts.errors;
            continue;
        }
        for (int i = 0; i < n; ++i) {
            msghdr& h = headers[static_cast<unsigned>(i)].msg_hdr;
            int interfaceIndex = 0;
            for (cmsghdr* c = CMSG_FIRSTHDR(&h); c != nullptr; c = CMSG_NXTHDR(&h, c)) {
                if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                    in_pktinfo info{};
                    std::memcpy(&info, CMSG_DATA(c), sizeof info);
                    interfaceIndex = info.ipi_ifindex;
                }
            }
            if (interfaceIndex == 0) ++counts.noInterface;
            Take(slots[static_cast<unsigned>(i)].data, headers[static_cast<unsigned>(i)].msg_len, markerPrefix, counts);
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::uint8_t markerPrefix[3] = {0x0A, 0x1B, 0x2C};
    bool batch = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--marker-prefix" && i + 1 < argc && bench::ParsePrefix(argv[i + 1], markerPrefix)) {
            ++i;
        } else if (a == "--batch") {
            batch = true;
        } else {
            std::fprintf(stderr, "usage: bench_bare_receiver [--batch] [--marker-prefix XX-XX-XX]\n");
            return 64;
        }
    }
    if (!bench::InNamedNetworkNamespace()) {
        std::fprintf(stderr, "bench_bare_receiver: run inside a named network namespace (ip netns exec)\n");
        return 69;
    }

    // No SA_RESTART: a stop signal must end the blocking receive.
    struct sigaction action {};
    action.sa_handler = OnStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        (batch && setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0)) {
        std::perror("bench_bare_receiver: socket");
        return 69;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(67);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        std::perror("bench_bare_receiver: bind 0.0.0.0:67");
        return 69;
    }
    std::printf("READY\n");
    std::fflush(stdout);

    Counts counts;
    if (batch)
        ReceiveInBatches(fd, markerPrefix, counts);
    else
        ReceiveOneByOne(fd, markerPrefix, counts);
    std::printf("DONE flood=%llu markers=%llu errors=%llu nointerface=%llu\n", counts.flood, counts.markers,
                counts.errors, counts.noInterface);
    std::fflush(stdout);
    close(fd);
    return 0;
}
