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
std::atomic<unsigned> g_hangUps{0};
// Written by the handler, polled by waits: a signal wakes them at once.
int g_wake[2] = {-1, -1};

void Wake()
{
    const char byte = 1;
    if (g_wake[1] >= 0) (void)!::write(g_wake[1], &byte, 1);
}

extern "C" void OnInterrupt(int number)
{
    const int saved = errno;
    int expected = 0;
    g_signal.compare_exchange_strong(expected, number);
    Wake();
    errno = saved;
}

extern "C" void OnCountedHangUp(int)
{
    const int saved = errno;
    g_hangUps.fetch_add(1);
    Wake();
    errno = saved;
}

}  // namespace

void WatchInterrupts(HangUp hangUp)
{
    static std::once_flag once;
    std::call_once(once, [hangUp] {
        if (::pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0) g_wake[0] = g_wake[1] = -1;
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        // Interrupted system calls go on: only the places that look at the
        // flag decide what a request does.
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
        if (hangUp == HangUp::Counted) action.sa_handler = OnCountedHangUp;
        ::sigaction(SIGHUP, &action, nullptr);
        sigset_t watched;
        sigemptyset(&watched);
        sigaddset(&watched, SIGINT);
        sigaddset(&watched, SIGTERM);
        sigaddset(&watched, SIGHUP);
        ::pthread_sigmask(SIG_UNBLOCK, &watched, nullptr);
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
    // A request's byte stays: every later wait returns at once too. Without
    // a request the bytes were a counted hang-up's, and are taken.
    if (::poll(&p, 1, timeoutMs) > 0 && InterruptRequested() == 0) {
        char bytes[16];
        while (::read(g_wake[0], bytes, sizeof bytes) > 0) {}
    }
    return InterruptRequested() != 0;
}

unsigned HangUpsReceived()
{
    return g_hangUps.load();
}

void KeepRunningWithoutReader()
{
    // Ignored, a signal stays ignored across exec: StartHidden and the
    // helper's start set it back to the default for the command.
    ::signal(SIGPIPE, SIG_IGN);
}

int InterruptExitStatus()
{
    const int number = InterruptRequested();
    return number != 0 ? 128 + number : 0;
}

}  // namespace tessel
