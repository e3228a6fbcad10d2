#include "cli/interruptible_clock.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/shared_state.h"
#include "platform/interrupt.h"

namespace tessel::cli {

namespace {
constexpr std::int64_t kSliceMs = 50;
}  // namespace

std::int64_t InterruptibleClock::NowMs()
{
    return RealClock().NowMs();
}

void InterruptibleClock::Note()
{
    m_highest.store(std::max(m_highest.load(), m_shared.stage.load()));
}

void InterruptibleClock::SleepMs(std::int64_t ms)
{
    // Whole waits keep their length: the slices end at the same moment.
    const std::int64_t end = NowMs() + ms;
    Note();
    for (std::int64_t left = ms; left > 0; left = end - NowMs()) {
        if (WaitForInterrupt(static_cast<int>(std::min(left, kSliceMs)))) throw RunInterrupted{};
        Note();
    }
    if (InterruptRequested() != 0) throw RunInterrupted{};
}

std::int64_t StopShortenedClock::NowMs()
{
    return RealClock().NowMs();
}

void StopShortenedClock::SleepMs(std::int64_t ms)
{
    const std::int64_t end = NowMs() + ms;
    for (std::int64_t left = ms; left > 0 && !m_ended.load(); left = end - NowMs())
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, kSliceMs)));
}

}  // namespace tessel::cli
