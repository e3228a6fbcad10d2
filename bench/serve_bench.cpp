// The engine as tessel-cli serve runs it, for months, under a flood: one
// million requests from 100,000 made-up serial numbers of the maker (each
// a new server to the table) with the planned server asking among them,
// sent over loopback to the engine host's real socket channel by a child
// process as fast as the kernel takes them.
//
// The engine host runs with the serve bounds (ServeTableBounds(), the
// planned server kept) on a clock of its own: its waits (the start-up note,
// the 140 ms listing pauses) take no real time and only move it on, and
// besides it runs 3600 times faster than real time, so an hour unheard
// passes in one real second and a run of a few seconds goes through many
// rounds of forgetting and of the cap. So the CPU time is the loop's work
// (receiving, logging, listing, forgetting) and none of it is sleeping;
// the pauses themselves are fixed behaviour, not cost. The serve command
// itself is not part of the engine: the bench drives the engine host with
// the options serve gives it (no jobs are started; the planned server is
// listed).
//
// Printed: the resident memory of the process at start (engine listening),
// in the middle (half the requests sent) and at the end, the table's rows,
// and the receive loop's CPU time per handled datagram against a bare
// receive loop (recv() into a 2048-byte buffer, nothing else) on the same
// flood, with the logfile on and off, once with the bounds off for
// comparison, and once as serve runs it (the requests of servers not in
// the plan passed over: EngineSetup::answeredServers; logfile on).
// Handled = sent - dropped by the full socket (its drops column in
// /proc/net/udp).
//
// Usage: bench_serve [--requests N] [--serials S] [--rounds R] [--foreign yes|no] [--only TEXT]
// --foreign yes: the made-up serials are another maker's (each request
// dropped, as in bench/receive_throughput.py); --only: the variants whose
// name holds TEXT, besides the bare loop.
// Needs no privileges: the port is a free one on loopback.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_host.h"
#include "engine/server_table.h"
#include "log/logfile.h"
#include "platform/clock.h"

using namespace tessel;

namespace {

constexpr std::size_t kLength = 300;
constexpr double kClockFactor = 3600.0;
constexpr std::uint8_t kPlanned[6] = {0x0A, 0x1B, 0x2D, 0x00, 0x00, 0x01};
constexpr const char* kPlannedSerial = "0A-1B-2D-00-00-01";

class BenchClock final : public Clock {
public:
    std::int64_t NowMs() override
    {
        const auto real = std::chrono::steady_clock::now() - m_origin;
        return m_slept.load() +
               static_cast<std::int64_t>(std::chrono::duration<double, std::milli>(real).count() * kClockFactor);
    }
    void SleepMs(std::int64_t ms) override
    {
        if (ms > 0) m_slept.fetch_add(ms);
    }

private:
    std::chrono::steady_clock::time_point m_origin = std::chrono::steady_clock::now();
    std::atomic<std::int64_t> m_slept{0};
};

struct Options {
    long requests = 1000000;
    long serials = 100000;
    int rounds = 1;
    bool foreign = false;  // made-up serials of another maker: each dropped, never listed
    std::string only;      // run only the variants whose name contains this
};

long ResidentKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// (queued bytes, drops) of the UDP socket on this port, from /proc/net/udp.
std::pair<long, long> SocketState(std::uint16_t port)
{
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::vector<std::string> parts;
        for (std::string part; fields >> part;) parts.push_back(part);
        if (parts.size() < 13) continue;
        const auto colon = parts[1].find(':');
        if (std::strtol(parts[1].c_str() + colon + 1, nullptr, 16) != port) continue;
        const auto queue = parts[4].find(':');
        return {std::strtol(parts[4].c_str() + queue + 1, nullptr, 16), std::strtol(parts.back().c_str(), nullptr, 10)};
    }
    return {-1, -1};
}

std::uint16_t FreePort()
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    close(fd);
    return ntohs(a.sin_port);
}

// The child: every request a BOOTREQUEST of a made-up maker serial, every
// thousandth the planned server's. Writes 'h' to `report` at half, 'e' at
// the end.
[[noreturn]] void Send(std::uint16_t port, const Options& options, int report)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    constexpr unsigned kBatch = 64;
    std::vector<std::uint8_t> packets(kBatch * kLength, 0);
    std::vector<iovec> vectors(kBatch);
    std::vector<mmsghdr> messages(kBatch);
    for (unsigned k = 0; k < kBatch; ++k) {
        std::uint8_t* p = packets.data() + k * kLength;
        p[0] = 1;
        p[1] = 1;
        p[2] = 6;
        const std::uint8_t cookie[] = {99, 130, 83, 99};
        std::memcpy(p + 236, cookie, 4);
        p[240] = 255;
        vectors[k] = {p, kLength};
        messages[k].msg_hdr.msg_name = &to;
        messages[k].msg_hdr.msg_namelen = sizeof to;
        messages[k].msg_hdr.msg_iov = &vectors[k];
        messages[k].msg_hdr.msg_iovlen = 1;
    }
    long sent = 0;
    bool half = false;
    while (sent < options.requests) {
        const unsigned want = static_cast<unsigned>(std::min<long>(kBatch, options.requests - sent));
        for (unsigned k = 0; k < want; ++k) {
            std::uint8_t* mac = packets.data() + k * kLength + 28;
            const long n = sent + k;
            if (n % 1000 == 999) {
                std::memcpy(mac, kPlanned, 6);
            } else {
                const auto low = static_cast<std::uint32_t>(n % options.serials);
                const std::uint8_t first = options.foreign ? 0x11 : 0x0A;
                const std::uint8_t made[6] = {first,
                                              0x1B,
                                              0x2C,
                                              static_cast<std::uint8_t>(low >> 16),
                                              static_cast<std::uint8_t>(low >> 8),
                                              static_cast<std::uint8_t>(low)};
                std::memcpy(mac, made, 6);
            }
        }
        const int n = sendmmsg(fd, messages.data(), want, 0);
        if (n < 0) _exit(1);
        sent += n;
        if (!half && sent >= options.requests / 2) {
            half = true;
            if (write(report, "h", 1) != 1) _exit(1);
        }
    }
    if (write(report, "e", 1) != 1) _exit(1);
    _exit(0);
}

struct Figures {
    long handled = 0;
    double cpu = 0;
    long rssStart = 0, rssMiddle = 0, rssEnd = 0;
    int rows = 0;
    bool plannedListed = false;
};

// Floods the port while `receiving` runs; returns the figures.
template <typename Rows>
Figures Flood(std::uint16_t port, const Options& options, Rows rows)
{
    Figures f;
    const auto [queue0, drops0] = SocketState(port);
    (void)queue0;
    f.rssStart = ResidentKb();
    const double cpu0 = CpuSeconds();
    int pipeFds[2];
    if (pipe(pipeFds) != 0) std::exit(1);
    const pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        Send(port, options, pipeFds[1]);
    }
    close(pipeFds[1]);
    char mark = 0;
    while (read(pipeFds[0], &mark, 1) == 1)
        if (mark == 'h') f.rssMiddle = ResidentKb();
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    // Until the loop has taken everything that is queued.
    for (int i = 0; i < 2000 && SocketState(port).first != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    f.cpu = CpuSeconds() - cpu0;
    f.rssEnd = ResidentKb();
    f.handled = options.requests - (SocketState(port).second - drops0);
    rows(f);
    return f;
}

Figures Bare(const Options& options)
{
    const std::uint16_t port = FreePort();
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    std::atomic<bool> stop{false};
    std::thread loop([fd, &stop] {
        static std::uint8_t buffer[2048];
        while (!stop.load())
            if (recv(fd, buffer, sizeof buffer, 0) < 0) break;
    });
    Figures f = Flood(port, options, [](Figures&) {});
    stop.store(true);
    shutdown(fd, SHUT_RDWR);
    loop.join();
    close(fd);
    return f;
}

Figures Engine(const Options& options, bool logfileOn, bool bounded, bool passOver, const std::string& folder)
{
    const std::uint16_t port = FreePort();
    BenchClock clock;
    EngineSetup setup;
    setup.logfile = std::make_unique<CLogfile>(LogfilePath{folder + "/serve-bench.log"});
    if (!logfileOn) setup.logfile->SetEnabled(false);
    setup.clock = &clock;
    setup.channel = MakeSocketChannel(port);
    setup.hostAddress = "127.0.0.1";
    if (bounded) {
        setup.tableBounds = ServeTableBounds();
        setup.keptServers = {kPlannedSerial};
    }
    if (passOver) setup.answeredServers = std::vector<std::string>{kPlannedSerial};
    EngineHost host(std::move(setup));
    host.Start();
    if (!host.WaitUntilListening()) {
        std::fprintf(stderr, "bench_serve: the engine could not take port %u\n", port);
        std::exit(1);
    }
    // The start-up note passes at once on this clock; the flood comes after.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Figures f = Flood(port, options, [&host](Figures& figures) {
        for (const ServerRow& row : host.Table().Rows()) {
            if (!row.isServer) continue;
            ++figures.rows;
            if (row.serial == kPlannedSerial) figures.plannedListed = true;
        }
    });
    host.Stop();
    host.CloseLogfile();
    std::remove((folder + "/serve-bench.log").c_str());
    return f;
}

void Show(const char* name, const Figures& f, const Figures& bare, const Options& options)
{
    std::printf("  %-26s handled %7ld of %ld; CPU %6.3f s, %5.2f us each, %8.0f/s per CPU second (x%.3f of bare)", name,
                f.handled, options.requests, f.cpu, f.cpu * 1e6 / static_cast<double>(std::max(f.handled, 1L)),
                static_cast<double>(f.handled) / f.cpu,
                (static_cast<double>(f.handled) / f.cpu) / (static_cast<double>(bare.handled) / bare.cpu));
    if (f.rssStart > 0)
        std::printf("; RSS start %ld kB, middle %ld kB, end %ld kB (end - start %+ld kB); %d server rows%s", f.rssStart,
                    f.rssMiddle, f.rssEnd, f.rssEnd - f.rssStart, f.rows,
                    f.plannedListed ? ", planned server listed" : ", planned server NOT listed");
    std::printf("\n");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--requests")
            options.requests = std::atol(argv[i + 1]);
        else if (a == "--serials")
            options.serials = std::atol(argv[i + 1]);
        else if (a == "--rounds")
            options.rounds = std::atoi(argv[i + 1]);
        else if (a == "--foreign")
            options.foreign = std::string(argv[i + 1]) == "yes";
        else if (a == "--only")
            options.only = argv[i + 1];
    }
    if (options.requests < 2 || options.serials < 1 || options.rounds < 1 || argc % 2 == 0) {
        std::fprintf(stderr,
                     "usage: bench_serve [--requests N] [--serials S] [--rounds R] [--foreign yes|no]\n"
                     "                   [--only TEXT]\n");
        return 64;
    }
    char folderTemplate[] = "/tmp/tessel-serve-bench-XXXXXX";
    const char* folder = mkdtemp(folderTemplate);
    if (folder == nullptr) return 1;
    std::printf(
        "serve bench: %ld requests from %ld made-up serials and the planned one, over loopback; "
        "engine clock x%.0f; load average %.2f\n",
        options.requests, options.serials, kClockFactor, [] {
            double load[1] = {0};
            return getloadavg(load, 1) == 1 ? load[0] : -1.0;
        }());
    for (int round = 1; round <= options.rounds; ++round) {
        std::printf("round %d:\n", round);
        const Figures bare = Bare(options);
        Show("bare receive loop", bare, bare, options);
        const struct {
            const char* name;
            bool logfileOn, bounded, passOver;
        } variants[] = {{"engine, logfile on", true, true, false},
                        {"engine, logfile off", false, true, false},
                        {"engine, off, no bounds", false, false, false},
                        {"as serve (passes over), on", true, true, true}};
        for (const auto& v : variants)
            if (std::string(v.name).find(options.only) != std::string::npos)
                Show(v.name, Engine(options, v.logfileOn, v.bounded, v.passOver, folder), bare, options);
    }
    rmdir(folder);
    return 0;
}
