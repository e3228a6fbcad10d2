#include "win32/window_clock_win.h"

#include <algorithm>

namespace tessel {

bool IsUserInputMessage(UINT message)
{
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
           (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST && message != WM_MOUSEMOVE) ||
           (message >= WM_NCLBUTTONDOWN && message <= WM_NCXBUTTONDBLCLK) || message == WM_CONTEXTMENU;
}

Win32WindowClock::Win32WindowClock(Clock& base) : m_base(base), m_thread(GetCurrentThreadId())
{}

void Win32WindowClock::PumpWithoutInput()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Kept for the loop that owns the program's end.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        // Dropped, not kept: a key pressed during a long wait must not
        // answer the box that follows it.
        if (IsUserInputMessage(msg.message)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void Win32WindowClock::SleepMs(std::int64_t ms)
{
    if (GetCurrentThreadId() != m_thread) {
        m_base.SleepMs(ms);
        return;
    }
    const std::int64_t deadline = m_base.NowMs() + std::max<std::int64_t>(ms, 0);
    PumpWithoutInput();
    for (std::int64_t left = deadline - m_base.NowMs(); left > 0; left = deadline - m_base.NowMs()) {
        m_base.SleepMs(std::min(left, kWin32PaintSliceMs));
        PumpWithoutInput();
    }
}

}  // namespace tessel
