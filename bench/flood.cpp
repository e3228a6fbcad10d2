// Flood sender for the receive-loop throughput measurement.
//
// Broadcasts COUNT BOOTREQUESTs (300 bytes, op 1, DHCP cookie, end option)
// from 0.0.0.0:68 through one interface to 255.255.255.255:67, as fast as
// sendmmsg() takes them, each with its own foreign MAC address so that the
// receiver drops every one of them. Then it sends end markers: requests from
// a maker MAC (a new one each), one at a time, until one is not dropped by
// the receiver's full socket buffer. Whether a marker was dropped is read
// from the drops column of the receiver's socket (--watch, the receiver's
// /proc/PID/net/udp), so the driver knows which marker to wait for.
//
// Output, one line each, flushed:
//   FLOOD sent=N start=T0 end=T1           (CLOCK_MONOTONIC seconds)
//   MARKER mac=0A-1B-2C-00-00-05 at=T dropped=0|1
//   DONE markers=M
// Exit status: 0 done, 64 bad arguments, 69 socket or interface unusable.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench_namespace.h"

namespace {

constexpr std::size_t kLength = 300;
constexpr std::size_t kChaddr = 28;
constexpr std::size_t kXid = 4;
constexpr std::size_t kCookie = 236;
constexpr int kExitUsage = 64;
constexpr int kExitUnavailable = 69;

struct Options {
    std::string interface = "eth0";
    long count = 100000;
    std::uint8_t floodPrefix[3] = {0x11, 0x22, 0x33};
    std::uint8_t markerPrefix[3] = {0x0A, 0x1B, 0x2C};
    long markerBase = 1;
    long maxMarkers = 200;
    long markerWaitUs = 300;
    std::string watch;
    unsigned batch = 64;
};

int Usage(const char* complaint)
{
    std::fprintf(stderr,
                 "bench_flood: %s\n"
                 "usage: bench_flood [--interface IF] [--count N] [--prefix XX-XX-XX]\n"
                 "                   [--marker-prefix XX-XX-XX] [--marker-base K] [--max-markers M]\n"
                 "                   [--marker-wait-us US] [--watch /proc/PID/net/udp] [--batch B]\n"
                 "Without --watch one marker is sent and not checked.\n",
                 complaint);
    return kExitUsage;
}

bool ParseLong(const char* text, long low, long high, long& out)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return false;
    out = value;
    return true;
}

void BuildRequest(std::uint8_t* packet)
{
    std::memset(packet, 0, kLength);
    packet[0] = 1;  // BOOTREQUEST
    packet[1] = 1;  // Ethernet
    packet[2] = 6;  // MAC length
    const std::uint8_t cookie[] = {99, 130, 83, 99};
    std::memcpy(packet + kCookie, cookie, sizeof cookie);
    packet[kCookie + 4] = 255;  // end option; zeros after it are padding
}

void SetMac(std::uint8_t* packet, const std::uint8_t prefix[3], std::uint32_t low24)
{
    packet[kChaddr + 0] = prefix[0];
    packet[kChaddr + 1] = prefix[1];
    packet[kChaddr + 2] = prefix[2];
    packet[kChaddr + 3] = static_cast<std::uint8_t>(low24 >> 16);
    packet[kChaddr + 4] = static_cast<std::uint8_t>(low24 >> 8);
    packet[kChaddr + 5] = static_cast<std::uint8_t>(low24);
    const std::uint32_t xid = htonl(low24 ^ 0x5A000000u);
    std::memcpy(packet + kXid, &xid, 4);
}

std::string MacText(const std::uint8_t* packet)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", packet[kChaddr], packet[kChaddr + 1],
                  packet[kChaddr + 2], packet[kChaddr + 3], packet[kChaddr + 4], packet[kChaddr + 5]);
    return text;
}

// Drops of the socket bound to port 67 in the receiver's table; -1 when the
// table or the socket cannot be found (the receiver has gone).
long long ReadDrops(const std::string& path)
{
    std::ifstream table(path);
    std::string line;
    if (!std::getline(table, line)) return -1;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::vector<std::string> parts;
        for (std::string part; fields >> part;) parts.push_back(part);
        if (parts.size() < 13) continue;
        const std::string& local = parts[1];
        const auto colon = local.find(':');
        if (colon == std::string::npos || std::strtol(local.c_str() + colon + 1, nullptr, 16) != 67) continue;
        return std::strtoll(parts.back().c_str(), nullptr, 10);
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        long value = 0;
        if (a == "--interface" && hasValue) {
            options.interface = argv[++i];
        } else if (a == "--count" && hasValue) {
            if (!ParseLong(argv[++i], 0, 100000000, options.count)) return Usage("--count needs 0 to 100000000");
        } else if (a == "--prefix" && hasValue) {
            if (!bench::ParsePrefix(argv[++i], options.floodPrefix)) return Usage("--prefix needs XX-XX-XX");
        } else if (a == "--marker-prefix" && hasValue) {
            if (!bench::ParsePrefix(argv[++i], options.markerPrefix)) return Usage("--marker-prefix needs XX-XX-XX");
        } else if (a == "--marker-base" && hasValue) {
            if (!ParseLong(argv[++i], 0, 0xFF0000, options.markerBase))
                return Usage("--marker-base needs 0 to 16711680");
        } else if (a == "--max-markers" && hasValue) {
            if (!ParseLong(argv[++i], 1, 0xFFFF, options.maxMarkers)) return Usage("--max-markers needs 1 to 65535");
        } else if (a == "--marker-wait-us" && hasValue) {
            if (!ParseLong(argv[++i], 0, 1000000, options.markerWaitUs))
                return Usage("--marker-wait-us needs 0 to 1000000");
        } else if (a == "--watch" && hasValue) {
            options.watch = argv[++i];
        } else if (a == "--batch" && hasValue) {
            if (!ParseLong(argv[++i], 1, 1024, value)) return Usage("--batch needs 1 to 1024");
            options.batch = static_cast<unsigned>(value);
        } else {
            return Usage(("unknown or incomplete argument " + a).c_str());
        }
    }
    if (std::memcmp(options.floodPrefix, options.markerPrefix, 3) == 0)
        return Usage("the flood and the markers need different prefixes");

    if (!bench::InNamedNetworkNamespace()) {
        std::fprintf(stderr,
                     "bench_flood: refusing to broadcast from the machine's own network; "
                     "run inside a named network namespace (ip netns exec)\n");
        return kExitUnavailable;
    }

    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        std::perror("bench_flood: socket");
        return kExitUnavailable;
    }
    const int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, options.interface.c_str(),
                   static_cast<socklen_t>(options.interface.size())) != 0) {
        std::perror("bench_flood: SO_BROADCAST/SO_BINDTODEVICE");
        return kExitUnavailable;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(68);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        std::perror("bench_flood: bind 0.0.0.0:68");
        return kExitUnavailable;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(67);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);

    const unsigned batch = options.batch;
    std::vector<std::uint8_t> packets(static_cast<std::size_t>(batch) * kLength);
    std::vector<iovec> vectors(batch);
    std::vector<mmsghdr> messages(batch);
    for (unsigned k = 0; k < batch; ++k) {
        std::uint8_t* packet = packets.data() + static_cast<std::size_t>(k) * kLength;
        BuildRequest(packet);
        vectors[k] = {packet, kLength};
        messages[k] = {};
        messages[k].msg_hdr.msg_name = &to;
        messages[k].msg_hdr.msg_namelen = sizeof to;
        messages[k].msg_hdr.msg_iov = &vectors[k];
        messages[k].msg_hdr.msg_iovlen = 1;
    }

    long sent = 0;
    const double start = bench::MonotonicSeconds();
    while (sent < options.count) {
        const unsigned want = static_cast<unsigned>(std::min<long>(batch, options.count - sent));
        for (unsigned k = 0; k < want; ++k)
            SetMac(packets.data() + static_cast<std::size_t>(k) * kLength, options.floodPrefix,
                   static_cast<std::uint32_t>(sent + k) & 0xFFFFFFu);
        unsigned done = 0;
        while (done < want) {
            const int n = sendmmsg(fd, messages.data() + done, want - done, 0);
            if (n < 0) {
                if (errno == EINTR) continue;
                // Counted only what the kernel took; the driver sees the
                // shortfall in "sent" and does not count it as handled.
                std::fprintf(stderr, "bench_flood: sendmmsg after %ld: %s\n", sent + done, std::strerror(errno));
                std::printf("FLOOD sent=%ld start=%.9f end=%.9f\n", sent + done, start, bench::MonotonicSeconds());
                std::fflush(stdout);
                return kExitUnavailable;
            }
            done += static_cast<unsigned>(n);
        }
        sent += want;
    }
    const double end = bench::MonotonicSeconds();
    std::printf("FLOOD sent=%ld start=%.9f end=%.9f\n", sent, start, end);
    std::fflush(stdout);

    std::uint8_t marker[kLength];
    BuildRequest(marker);
    long markers = 0;
    for (long j = 0; j < options.maxMarkers; ++j) {
        SetMac(marker, options.markerPrefix, static_cast<std::uint32_t>(options.markerBase + j));
        const long long before = options.watch.empty() ? 0 : ReadDrops(options.watch);
        if (before < 0) {
            std::fprintf(stderr, "bench_flood: no socket on port 67 in %s\n", options.watch.c_str());
            return kExitUnavailable;
        }
        const double at = bench::MonotonicSeconds();
        if (sendto(fd, marker, kLength, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) !=
            static_cast<ssize_t>(kLength)) {
            std::perror("bench_flood: sendto marker");
            return kExitUnavailable;
        }
        ++markers;
        if (options.watch.empty()) {
            std::printf("MARKER mac=%s at=%.9f dropped=0\n", MacText(marker).c_str(), at);
            break;
        }
        usleep(static_cast<useconds_t>(options.markerWaitUs));
        const long long after = ReadDrops(options.watch);
        const bool dropped = after != before;
        std::printf("MARKER mac=%s at=%.9f dropped=%d\n", MacText(marker).c_str(), at, dropped ? 1 : 0);
        if (!dropped) break;
    }
    std::printf("DONE markers=%ld\n", markers);
    std::fflush(stdout);
    close(fd);
    return 0;
}
