#include "platform/interrupt.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>

namespace tessel {

namespace {

std::atomic<int> g_signal{0};
// Written by the handler, polled by waits: a signal wakes them at once.
int g_wake[2] = {-1, -1};

extern "C" void OnInterrupt(int number)
{
    const int saved = errno;
    int expected = 0;
    g_signal.compare_exchange_strong(expected, number);
    const char byte = 1;
    if (g_wake[1] >= 0) (void)!::write(g_wake[1], &byte, 1);
    errno = saved;
}

}  // namespace

void WatchInterrupts()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (::pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0) g_wake[0] = g_wake[1] = -1;
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        // Interrupted system calls go on: only the places that look at the
        // flag decide what a request does.
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
        sigset_t both;
        sigemptyset(&both);
        sigaddset(&both, SIGINT);
        sigaddset(&both, SIGTERM);
        ::pthread_sigmask(SIG_UNBLOCK, &both, nullptr);
    });
}

int InterruptRequested()
{
    return g_signal.load();
}

bool WaitForInterrupt(int timeoutMs)
{
    if (InterruptRequested() != 0) return true;
    if (g_wake[0] < 0) {
        ::usleep(static_cast<useconds_t>(timeoutMs) * 1000);
        return InterruptRequested() != 0;
    }
    pollfd p{};
    p.fd = g_wake[0];
    p.events = POLLIN;
    ::poll(&p, 1, timeoutMs);  // the byte stays: every later wait returns at once too
    return InterruptRequested() != 0;
}

int InterruptExitStatus()
{
    const int number = InterruptRequested();
    return number != 0 ? 128 + number : 0;
}

}  // namespace tessel
