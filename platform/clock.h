// The one source of time for every fixed wait of the program.
// Production uses the steady clock; tests use a virtual clock that advances
// instantly, or a scaled one when real sockets and threads are involved.
#pragma once

#include <atomic>
#include <cstdint>

namespace tessel {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary, fixed origin; never goes backwards.
    virtual std::int64_t nowMs() = 0;
    // Waits the given number of milliseconds (0 or less returns at once).
    virtual void sleepMs(std::int64_t ms) = 0;
};

// The steady clock of the machine. One instance serves the whole program.
class SteadyClock final : public Clock {
public:
    std::int64_t nowMs() override;
    void sleepMs(std::int64_t ms) override;
};
Clock& RealClock();

// Time that moves only when someone sleeps: a sleep returns at once and
// advances the shared "now". Safe to use from several threads.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(std::int64_t startMs = 0) : m_nowMs(startMs) {}
    std::int64_t nowMs() override { return m_nowMs.load(); }
    void sleepMs(std::int64_t ms) override;
    // Lets a test move time without sleeping.
    void advanceMs(std::int64_t ms) { sleepMs(ms); }
    // Total of all sleeps made so far, for tests that check a wait's length.
    std::int64_t sleptMs() const { return m_sleptMs.load(); }

private:
    std::atomic<std::int64_t> m_nowMs;
    std::atomic<std::int64_t> m_sleptMs{0};
};

// Real time divided by a factor: a 8400 ms wait takes 8400/factor ms of
// wall time, and nowMs() reports the program's own (scaled-up) time.
class ScaledClock final : public Clock {
public:
    explicit ScaledClock(double factor);
    std::int64_t nowMs() override;
    void sleepMs(std::int64_t ms) override;
    double factor() const { return m_factor; }

private:
    double m_factor;
    std::int64_t m_originMs;
};

}  // namespace tessel
