// Ctrl+C and termination once watched: kept as a request instead of ending
// the process, a wait woken at once, and commands started afterwards with
// the normal signal mask.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <unistd.h>

#include "platform/clock.h"
#include "platform/interrupt.h"
#include "platform/system_commands.h"

using namespace tessel;

TEST(Interrupt, ARequestIsKeptAndWakesAWait)
{
    WatchInterrupts();
    EXPECT_EQ(InterruptRequested(), 0);
    EXPECT_FALSE(WaitForInterrupt(20));
    std::thread later([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::kill(::getpid(), SIGTERM);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(WaitForInterrupt(10000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    later.join();
    ::raise(SIGINT);  // the first request stays the one told
    EXPECT_EQ(InterruptRequested(), SIGTERM);
    EXPECT_EQ(InterruptExitStatus(), 128 + SIGTERM);
    EXPECT_TRUE(WaitForInterrupt(0));

    // A command started now has no signal blocked, whatever this thread blocks.
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &block, nullptr);
    const auto file = std::filesystem::temp_directory_path() / ("tessel-mask-" + std::to_string(::getpid()));
    ASSERT_TRUE(StartHidden({"/bin/sh", "-c",
                             "grep SigBlk /proc/self/status > " + file.string() + ".tmp && mv " + file.string() +
                                 ".tmp " + file.string()}));
    for (int i = 0; i < 500 && !std::filesystem::exists(file); ++i) RealClock().sleepMs(10);
    pthread_sigmask(SIG_UNBLOCK, &block, nullptr);
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    std::filesystem::remove(file);
    EXPECT_EQ(text.str(), "SigBlk:\t0000000000000000\n");
}
