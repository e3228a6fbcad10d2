// Virtual time for tests that must act at given moments: every sleep
// advances "now" at once and then calls the hook with the new time, so a
// test can raise a stage, list a server or ask for a stop on schedule.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "platform/clock.h"

namespace tessel::testing {

class HookClock final : public Clock {
public:
    std::int64_t NowMs() override { return m_now.load(); }
    void SleepMs(std::int64_t ms) override
    {
        if (ms > 0) m_now.fetch_add(ms);
        if (afterSleep) afterSleep(m_now.load());
    }
    std::function<void(std::int64_t)> afterSleep;

private:
    std::atomic<std::int64_t> m_now{100000};
};

}  // namespace tessel::testing
