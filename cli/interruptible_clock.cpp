#include "cli/interruptible_clock.h"

#include <algorithm>

#include "engine/shared_state.h"
#include "platform/interrupt.h"

namespace tessel::cli {

namespace {
constexpr std::int64_t kSliceMs = 50;

// Sleeps `ms` of real time in slices, `note` after each; false as soon as a
// request to stop is there (at the latest at the end).
template <typename Note>
bool SleptWithoutInterrupt(std::int64_t ms, Note note)
{
    // Whole waits keep their length: the slices end at the same moment.
    const std::int64_t end = RealClock().NowMs() + ms;
    for (std::int64_t left = ms; left > 0; left = end - RealClock().NowMs()) {
        if (WaitForInterrupt(static_cast<int>(std::min(left, kSliceMs)))) return false;
        note();
    }
    return InterruptRequested() == 0;
}
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
    Note();
    if (!SleptWithoutInterrupt(ms, [this] { Note(); })) throw RunInterrupted{};
}

std::int64_t StopShortenedClock::NowMs()
{
    return RealClock().NowMs();
}

void StopShortenedClock::SleepMs(std::int64_t ms)
{
    SleptWithoutInterrupt(ms, [] {});
}

}  // namespace tessel::cli
