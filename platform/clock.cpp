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

std::int64_t SteadyClock::nowMs()
{
    return SteadyNowMs();
}

void SteadyClock::sleepMs(std::int64_t ms)
{
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

Clock& RealClock()
{
    static SteadyClock clock;
    return clock;
}

void VirtualClock::sleepMs(std::int64_t ms)
{
    if (ms <= 0) return;
    m_nowMs.fetch_add(ms);
    m_sleptMs.fetch_add(ms);
}

ScaledClock::ScaledClock(double factor) : m_factor(factor > 0 ? factor : 1.0), m_originMs(SteadyNowMs())
{}

std::int64_t ScaledClock::nowMs()
{
    return static_cast<std::int64_t>(static_cast<double>(SteadyNowMs() - m_originMs) * m_factor);
}

void ScaledClock::sleepMs(std::int64_t ms)
{
    if (ms <= 0) return;
    std::this_thread::sleep_for(
        std::chrono::microseconds(static_cast<std::int64_t>(static_cast<double>(ms) * 1000.0 / m_factor)));
}

}  // namespace tessel
