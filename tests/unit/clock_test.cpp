#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/clock.h"

using namespace tessel;

TEST(VirtualClock, SleepsAdvanceTimeAtOnceFromAnyThread)
{
    VirtualClock clock(1000);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&clock] {
            for (int i = 0; i < 60; ++i) clock.sleepMs(140);
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(clock.nowMs(), 1000 + 4 * 60 * 140);
    EXPECT_EQ(clock.sleptMs(), 4 * 60 * 140);
    clock.sleepMs(-5);
    EXPECT_EQ(clock.nowMs(), 1000 + 4 * 60 * 140);
}

TEST(ScaledClock, ReportsProgramTimeWhileSleepingLess)
{
    ScaledClock clock(100.0);
    const auto startProgram = clock.nowMs();
    const auto startReal = RealClock().nowMs();
    clock.sleepMs(2000);  // 20 ms of wall time
    const auto real = RealClock().nowMs() - startReal;
    EXPECT_GE(clock.nowMs() - startProgram, 2000);
    EXPECT_LT(real, 1000) << "a scaled sleep must not take the full time";
}
