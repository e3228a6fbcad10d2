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

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

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

// Each in a child of its own, since watching starts once per process: what
// the child's exit status says is how the request ended it.
TEST(Interrupt, HangUpAndAClosedPipeEndNothingByThemselves)
{
    struct Case {
        const char* what;
        void (*run)();
        int status;  // the child's exit status; a signal that killed it fails
    };
    const Case cases[] = {
        {"hang-up as a request",
         [] {
             WatchInterrupts();
             ::raise(SIGHUP);
             ::_exit(InterruptExitStatus());
         },
         128 + SIGHUP},
        {"hang-up counted for a reload",
         [] {
             WatchInterrupts(HangUp::Counted);
             ::raise(SIGHUP);
             const bool woken = !WaitForInterrupt(0) && HangUpsReceived() == 1 && InterruptRequested() == 0;
             // The hang-up's wake-up is taken: a later wait waits.
             const auto start = std::chrono::steady_clock::now();
             WaitForInterrupt(200);
             const bool waited = std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(150);
             ::raise(SIGTERM);
             ::_exit(woken && waited && WaitForInterrupt(0) ? InterruptExitStatus() : 1);
         },
         128 + SIGTERM},
        {"closed pipe",
         [] {
             KeepRunningWithoutReader();
             int ends[2];
             if (::pipe(ends) != 0) ::_exit(2);
             ::close(ends[0]);
             const bool failed = ::write(ends[1], "x", 1) < 0 && errno == EPIPE;
             ::_exit(failed ? 0 : 1);
         },
         0},
    };
    // The test above starts watching in this process (ctest runs each test
    // in one of its own); a child would inherit that watch.
    if (InterruptRequested() != 0) GTEST_SKIP() << "watching started already in this process";
    for (const Case& c : cases) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) c.run();
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status)) << c.what << ": ended by signal " << WTERMSIG(status);
        if (WIFEXITED(status)) {
            EXPECT_EQ(WEXITSTATUS(status), c.status) << c.what;
        }
    }
}
