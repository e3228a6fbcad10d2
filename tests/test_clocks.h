// Clocks for tests: virtual time that moves only when someone sleeps, and
// real time sped up by a factor for tests with real threads and sockets.
// The program itself only ever uses the steady clock (platform/clock.h).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/clock.h"

namespace tessel::testing {

// A sleep returns at once and advances the shared "now". Safe to use from
// several threads.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(std::int64_t startMs = 0) : m_nowMs(startMs) {}
    std::int64_t NowMs() override { return m_nowMs.load(); }
    void SleepMs(std::int64_t ms) override
    {
        if (ms <= 0) return;
        m_nowMs.fetch_add(ms);
        m_sleptMs.fetch_add(ms);
    }
    // Lets a test move time without sleeping.
    void AdvanceMs(std::int64_t ms) { SleepMs(ms); }
    // Total of all sleeps made so far, for tests that check a wait's length.
    std::int64_t SleptMs() const { return m_sleptMs.load(); }

private:
    std::atomic<std::int64_t> m_nowMs;
    std::atomic<std::int64_t> m_sleptMs{0};
};

// Real time divided by a factor: a 8400 ms wait takes 8400/factor ms of
// wall time, and NowMs() reports the program's own (scaled-up) time.
class ScaledClock final : public Clock {
public:
    explicit ScaledClock(double factor) : m_factor(factor > 0 ? factor : 1.0), m_originMs(RealClock().NowMs()) {}
    std::int64_t NowMs() override
    {
        return static_cast<std::int64_t>(static_cast<double>(RealClock().NowMs() - m_originMs) * m_factor);
    }
    void SleepMs(std::int64_t ms) override
    {
        if (ms <= 0) return;
        std::this_thread::sleep_for(
            std::chrono::microseconds(static_cast<std::int64_t>(static_cast<double>(ms) * 1000.0 / m_factor)));
    }
    double Factor() const { return m_factor; }

private:
    double m_factor;
    std::int64_t m_originMs;
};

}  // namespace tessel::testing
