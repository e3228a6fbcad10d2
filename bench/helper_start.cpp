// The start cost of the network helper per program run: the time from
// starting tessel-net (as the programs do, over a socket pair) to its first
// answer, and to its end after the socket closes. Prints the median, the
// 10th and 90th percentile of RUNS starts (default 200).
//
//   bench_helper_start PATH_OF_TESSEL_NET [RUNS]
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "netd/channel.h"

namespace {

namespace nh = tessel::nethelper;
using Clock = std::chrono::steady_clock;

double Micros(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

// One start: spawn to first answer, and to the end after the socket closed;
// false when the helper did not answer.
bool OneStart(const char* path, double& answered, double& ended)
{
    int error = 0;
    pid_t pid = -1;
    const auto start = Clock::now();
    const int socket = nh::StartHelper(path, nh::Role::Table, pid, error);
    if (socket < 0) {
        std::fprintf(stderr, "bench_helper_start: %s: %s\n", path, std::strerror(error));
        return false;
    }
    // A request that changes nothing: no entry of its own to remove.
    char reply[256];
    const bool ok = nh::SendMessage(socket, "remove-neighbour 192.0.2.1") &&
                    nh::ReceiveMessage(socket, reply, sizeof reply).size == 2 && std::memcmp(reply, "ok", 2) == 0;
    answered = Micros(Clock::now() - start);
    ::close(socket);
    ::waitpid(pid, nullptr, 0);
    ended = Micros(Clock::now() - start);
    return ok;
}

double Percentile(std::vector<double> values, double share)
{
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(share * static_cast<double>(values.size() - 1))];
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_helper_start PATH_OF_TESSEL_NET [RUNS]\n");
        return 64;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;
    std::vector<double> answered, ended;
    for (int i = 0; i < runs; ++i) {
        double a = 0, e = 0;
        if (!OneStart(argv[1], a, e)) return 1;
        answered.push_back(a);
        ended.push_back(e);
    }
    struct stat file {};
    ::stat(argv[1], &file);
    std::printf("tessel-net %s: %lld bytes\n", argv[1], static_cast<long long>(file.st_size));
    std::printf("start to first answer over %d runs: median %.0f us (10%% %.0f, 90%% %.0f)\n", runs,
                Percentile(answered, 0.5), Percentile(answered, 0.1), Percentile(answered, 0.9));
    std::printf("start to end after the socket closed: median %.0f us (90%% %.0f)\n", Percentile(ended, 0.5),
                Percentile(ended, 0.9));
    return 0;
}
