// The reference for the receive-loop throughput: a socket bound to
// 0.0.0.0:67 that only takes datagrams, with the same buffer size and socket
// settings as the program's channel, and no work per datagram beyond
// telling an end marker (a request from the maker prefix) from the flood.
// What it reaches is the most any receive loop can handle on the same bed.
//
// Output, flushed: "READY", then per marker
//   MARKER mac=0A-1B-2C-00-00-05 flood=<flood datagrams received before it>
// and on SIGINT/SIGTERM "DONE flood=<n> markers=<m> errors=<e>".
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench_namespace.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnStop(int)
{
    g_stop = 1;
}

}  // namespace

int main(int argc, char** argv)
{
    std::uint8_t markerPrefix[3] = {0x0A, 0x1B, 0x2C};
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--marker-prefix" && i + 1 < argc && bench::ParsePrefix(argv[i + 1], markerPrefix)) {
            ++i;
        } else {
            std::fprintf(stderr, "usage: bench_bare_receiver [--marker-prefix XX-XX-XX]\n");
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
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
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

    // The program's buffer size, so a datagram costs the same copy here.
    static std::uint8_t buffer[2048];
    unsigned long long flood = 0, markers = 0, errors = 0;
    while (g_stop == 0) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n < 0) {
            if (errno != EINTR) ++errors;
            continue;
        }
        if (n >= 34 && buffer[0] == 1 && std::memcmp(buffer + 28, markerPrefix, 3) == 0) {
            ++markers;
            std::printf("MARKER mac=%02X-%02X-%02X-%02X-%02X-%02X flood=%llu\n", buffer[28], buffer[29], buffer[30],
                        buffer[31], buffer[32], buffer[33], flood);
            std::fflush(stdout);
        } else {
            ++flood;
        }
    }
    std::printf("DONE flood=%llu markers=%llu errors=%llu\n", flood, markers, errors);
    std::fflush(stdout);
    close(fd);
    return 0;
}
