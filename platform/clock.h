// The one source of time for every fixed wait of the program.
// The program uses the steady clock; tests give their own (tests/test_clocks.h)
// where the program takes a Clock.
#pragma once

#include <cstdint>

namespace tessel {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary, fixed origin; never goes backwards.
    virtual std::int64_t NowMs() = 0;
    // Waits the given number of milliseconds (0 or less returns at once).
    virtual void SleepMs(std::int64_t ms) = 0;
};

// The steady clock of the machine. One instance serves the whole program.
class SteadyClock final : public Clock {
public:
    std::int64_t NowMs() override;
    void SleepMs(std::int64_t ms) override;
};
Clock& RealClock();

}  // namespace tessel
