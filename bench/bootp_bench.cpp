// The work the network thread does per datagram (clearing the receive
// buffer, taking the datagram, serial number, both scans, the reply) next
// to a plain 512-byte copy of the same buffer, printed as a ratio.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "engine/bootp.h"

using namespace tessel;

namespace {

std::array<std::uint8_t, 548> SampleRequest()
{
    std::array<std::uint8_t, 548> b{};
    b[0] = 1;
    b[1] = 1;
    b[2] = 6;
    const std::uint8_t mac[] = {0x0A, 0x1B, 0x2C, 0x01, 0x02, 0xFE};
    std::memcpy(&b[28], mac, 6);
    const std::uint8_t options[] = {99, 130, 83, 99, 53, 1,   1, 55,  4,   1,  3, 6,  15, 43, 12, 42,
                                    1,  2,   3,  4,  5,  'T', 9, 'P', 'S', 50, 4, 10, 0,  0,  7,  255};
    std::memcpy(&b[236], options, sizeof options);
    return b;
}

void PerDatagram(benchmark::State& state)
{
    const auto request = SampleRequest();
    BootpMessage message;
    for (auto _ : state) {
        message.Clear();
        std::memcpy(message.buffer.data(), request.data(), request.size());
        message.length = request.size();
        std::string serial = FormatSerialNumber(message);
        auto vendorClass = FindVendorClass(message);
        auto requested = FindRequestedAddress(message);
        auto reply = MakeReply(message, "10.0.0.5", "10.77.0.1", "install-pc");
        benchmark::DoNotOptimize(serial);
        benchmark::DoNotOptimize(vendorClass);
        benchmark::DoNotOptimize(requested);
        benchmark::DoNotOptimize(reply.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(PerDatagram);

void Copy512(benchmark::State& state)
{
    const auto request = SampleRequest();
    BootpMessage message;
    std::array<std::uint8_t, kBootpReplyLength> out{};
    std::memcpy(message.buffer.data(), request.data(), request.size());
    for (auto _ : state) {
        std::memcpy(out.data(), message.buffer.data(), out.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(Copy512);

// Keeps each run's time per iteration so the ratio can be printed.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) times[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double work = reporter.times["PerDatagram"], copy = reporter.times["Copy512"];
    if (work > 0 && copy > 0)
        std::printf("per-datagram work: %.1f ns, 512-byte copy: %.1f ns, ratio %.1f\n", work, copy, work / copy);
    benchmark::Shutdown();
    return 0;
}
