// The clock the Set-IP command waits on in tessel-cli: real time, in short
// slices, so that Ctrl+C ends a wait at once. The command's waits are all
// safe places to stop; the network thread is stopped apart from them.
#pragma once

#include <atomic>

#include "platform/clock.h"

namespace tessel {
struct SharedState;
}

namespace tessel::cli {

// Thrown out of a wait when Ctrl+C or termination arrived.
struct RunInterrupted {};

class InterruptibleClock final : public Clock {
public:
    // Notes the highest stage of `shared` at every slice, so that the state
    // of the server can be told after an interrupt.
    explicit InterruptibleClock(SharedState& shared) : m_shared(shared) {}
    std::int64_t NowMs() override;
    void SleepMs(std::int64_t ms) override;
    int HighestStage() const { return m_highest.load(); }

private:
    void Note();
    SharedState& m_shared;
    std::atomic<int> m_highest{-1};
};

// The clock of serve's engine: the procedure's fixed waits keep their
// length until the run stops its jobs (EndWaits, after each job's stage was
// taken back); from then on every wait ends at its next slice. The procedure
// looks at its stage after every wait and leaves, so a stop after a reply
// does not sit out the rest of the restart's 8.4 s, and the stage it tells
// is the one it had reached.
class StopShortenedClock final : public Clock {
public:
    std::int64_t NowMs() override;
    void SleepMs(std::int64_t ms) override;
    void EndWaits() { m_ended.store(true); }

private:
    std::atomic<bool> m_ended{false};
};

}  // namespace tessel::cli
