#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/clock.h"
#include "tests/test_clocks.h"

using tessel::testing::ScaledClock;
using tessel::testing::VirtualClock;

using namespace tessel;

TEST(VirtualClock, SleepsAdvanceTimeAtOnceFromAnyThread)
{
    VirtualClock clock(1000);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&clock] {
            for (int i = 0; i < 60; ++i) clock.SleepMs(140);
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(clock.NowMs(), 1000 + 4 * 60 * 140);
    EXPECT_EQ(clock.SleptMs(), 4 * 60 * 140);
    clock.SleepMs(-5);
    EXPECT_EQ(clock.NowMs(), 1000 + 4 * 60 * 140);
}

TEST(ScaledClock, ReportsProgramTimeWhileSleepingLess)
{
    ScaledClock clock(100.0);
    const auto startProgram = clock.NowMs();
    const auto startReal = RealClock().NowMs();
    clock.SleepMs(2000);  // 20 ms of wall time
    const auto real = RealClock().NowMs() - startReal;
    EXPECT_GE(clock.NowMs() - startProgram, 2000);
    EXPECT_LT(real, 1000) << "a scaled sleep must not take the full time";
}
