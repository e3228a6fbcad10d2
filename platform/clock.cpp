#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace tessel {

namespace {
std::int64_t SteadyNowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

std::int64_t SteadyClock::NowMs()
{
    return SteadyNowMs();
}

void SteadyClock::SleepMs(std::int64_t ms)
{
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

Clock& RealClock()
{
    static SteadyClock clock;
    return clock;
}

}  // namespace tessel
