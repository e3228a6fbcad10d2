#include "platform/interrupt.h"

#include <windows.h>

#include <atomic>
#include <csignal>
#include <mutex>

namespace tessel {

namespace {

std::atomic<int> g_request{0};
// Set by the handler, waited on by waits: a request wakes them at once and
// every later wait returns at once too.
HANDLE g_wake = nullptr;
// When the console window is closed or the user logs off, the system ends
// the process once the handler returns (or after about five seconds): the
// handler holds on this long, so that the program can write its logfile to
// the end first.
constexpr DWORD kCloseGraceMs = 4500;

// The console's events told as the signals a POSIX terminal would send, so
// that the program and its exit statuses are the same on both.
BOOL WINAPI OnConsoleEvent(DWORD event)
{
    int number = 0;
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        number = SIGINT;
        break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        number = SIGTERM;
        break;
    default:
        return FALSE;
    }
    int expected = 0;
    g_request.compare_exchange_strong(expected, number);
    if (g_wake != nullptr) ::SetEvent(g_wake);
    if (number == SIGTERM) ::Sleep(kCloseGraceMs);
    return TRUE;
}

}  // namespace

void WatchInterrupts(HangUp)
{
    static std::once_flag once;
    std::call_once(once, [] {
        g_wake = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        // A program started in a new process group, or from a parent that
        // ignores Ctrl+C, inherits that; and a console whose input is not
        // "processed" hands Ctrl+C over as a key. Both would keep Ctrl+C
        // from ever reaching the handler.
        ::SetConsoleCtrlHandler(nullptr, FALSE);
        const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
        DWORD mode = 0;
        if (input != nullptr && input != INVALID_HANDLE_VALUE && ::GetConsoleMode(input, &mode) &&
            (mode & ENABLE_PROCESSED_INPUT) == 0)
            ::SetConsoleMode(input, mode | ENABLE_PROCESSED_INPUT);
        ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    });
}

int InterruptRequested()
{
    return g_request.load();
}

bool WaitForInterrupt(int timeoutMs)
{
    if (InterruptRequested() != 0) return true;
    if (g_wake == nullptr) {
        ::Sleep(static_cast<DWORD>(timeoutMs > 0 ? timeoutMs : 0));
    } else {
        ::WaitForSingleObject(g_wake, static_cast<DWORD>(timeoutMs > 0 ? timeoutMs : 0));
    }
    return InterruptRequested() != 0;
}

// A console that is closed is told as termination; Windows has no hang-up.
unsigned HangUpsReceived()
{
    return 0;
}

// Windows raises no signal for a closed pipe: the write fails.
void KeepRunningWithoutReader()
{}

int InterruptExitStatus()
{
    const int number = InterruptRequested();
    return number != 0 ? 128 + number : 0;
}

}  // namespace tessel
