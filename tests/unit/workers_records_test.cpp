// The hand-over record between a starter and its worker: a result that
// arrives after the starter's decision is never taken, and the starter's
// fixed wait in 140 ms steps.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/clock.h"
#include "workers/hand_over.h"
#include "tests/test_clocks.h"

using tessel::testing::VirtualClock;

namespace tessel {
namespace {

TEST(ProbeRequest, AResultAfterAbandonIsNotWritten)
{
    ProbeRequest early("10.0.0.5");
    EXPECT_TRUE(early.Report(1));
    EXPECT_EQ(early.Abandon(), 1);
    EXPECT_EQ(early.result.load(), 1);

    ProbeRequest late("10.0.0.5");
    EXPECT_EQ(late.Abandon(), 0);
    EXPECT_FALSE(late.Report(1));
    EXPECT_EQ(late.result.load(), 0);
    EXPECT_TRUE(late.abandoned.load());
}

TEST(ProbeRequest, TheStartersOutcomeAgreesWithTheRecordWhenBothActAtOnce)
{
    // A worker reporting and a starter abandoning at the same moment: either
    // the report came first and the outcome is 1, or it is refused and the
    // record stays 0. Never a stored result that the starter did not see.
    int reportedFirst = 0;
    for (int round = 0; round < 300; ++round) {
        auto request = std::make_shared<ProbeRequest>("10.0.0.5");
        std::atomic<int> ready{0};
        bool stored = false;
        std::thread worker([&] {
            ++ready;
            while (ready.load() < 2) std::this_thread::yield();
            stored = request->Report(1);
        });
        ++ready;
        while (ready.load() < 2) std::this_thread::yield();
        const std::int32_t outcome = request->Abandon();
        worker.join();
        ASSERT_EQ(outcome, request->result.load()) << "round " << round;
        ASSERT_EQ(stored, outcome == 1) << "round " << round;
        reportedFirst += outcome;
    }
    RecordProperty("reports_before_abandon", reportedFirst);
}

// A clock whose sleeps take no time and on whose n-th sleep a "worker"
// reports: the report lands while the starter sleeps, as in the program.
class ReportingClock final : public Clock {
public:
    ReportingClock(ProbeRequest& request, int reportOnSleep) : m_request(request), m_reportOnSleep(reportOnSleep) {}
    std::int64_t NowMs() override { return m_sleptMs; }
    void SleepMs(std::int64_t ms) override
    {
        m_sleptMs += ms;
        if (++m_sleeps == m_reportOnSleep) m_request.Report(1);
    }
    std::int64_t SleptMs() const { return m_sleptMs; }

private:
    ProbeRequest& m_request;
    int m_reportOnSleep;
    int m_sleeps = 0;
    std::int64_t m_sleptMs = 0;
};

TEST(AwaitOutcome, StopsAtTheFirstLookAfterTheReportOrAfterAllSteps)
{
    ProbeRequest answered("10.0.0.5");
    ReportingClock fifth(answered, 5);
    EXPECT_EQ(AwaitOutcome(answered, fifth, 60), 1);
    EXPECT_EQ(fifth.SleptMs(), 5 * kPollStepMs);
    EXPECT_TRUE(answered.abandoned.load());

    // Already answered before the wait: still one full step first.
    ProbeRequest atOnce("10.0.0.5");
    atOnce.Report(1);
    VirtualClock clock;
    EXPECT_EQ(AwaitOutcome(atOnce, clock, 60), 1);
    EXPECT_EQ(clock.SleptMs(), kPollStepMs);

    // No answer: the whole 60 x 140 ms = 8.4 s, then abandoned.
    ProbeRequest silent("10.0.0.5");
    VirtualClock full;
    EXPECT_EQ(AwaitOutcome(silent, full, 60), 0);
    EXPECT_EQ(full.SleptMs(), 8400);
    EXPECT_TRUE(silent.abandoned.load());

    // A report during the last sleep still counts; one after it does not.
    ProbeRequest last("10.0.0.5");
    ReportingClock twentieth(last, 20);
    EXPECT_EQ(AwaitOutcome(last, twentieth, 20), 1);
    ProbeRequest tooLate("10.0.0.5");
    ReportingClock twentyFirst(tooLate, 21);
    EXPECT_EQ(AwaitOutcome(tooLate, twentyFirst, 20), 0);
    EXPECT_FALSE(tooLate.Report(1));

    // A check reported as not made ends the wait too, with no answer, and
    // stays readable; a later report of either kind is refused.
    ProbeRequest unchecked("10.0.0.5");
    unchecked.ReportUnchecked(2);
    VirtualClock once;
    EXPECT_EQ(AwaitOutcome(unchecked, once, 60), 0);
    EXPECT_EQ(once.SleptMs(), kPollStepMs);
    EXPECT_EQ(unchecked.unchecked.load(), 2);
    EXPECT_FALSE(unchecked.ReportUnchecked(3));
    EXPECT_FALSE(unchecked.Report(1));
}

}  // namespace
}  // namespace tessel
