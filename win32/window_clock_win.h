// The clock of the Win32 window's own waits: on the window's thread a
// sleep is a message loop that paints and runs the posted calls but drops
// the user's input, so the window stays drawn and nobody can use it until
// the command is over. Other threads sleep on the base clock.
#pragma once

#include <windows.h>

#include "platform/clock.h"

namespace tessel {

// How long one slice of a window sleep lasts at most.
inline constexpr std::int64_t kWin32PaintSliceMs = 15;

class Win32WindowClock final : public Clock {
public:
    explicit Win32WindowClock(Clock& base);

    std::int64_t NowMs() override { return m_base.NowMs(); }
    void SleepMs(std::int64_t ms) override;

    // Runs the waiting messages once: paint, timers, posted calls; input dropped.
    void PumpWithoutInput();

private:
    Clock& m_base;
    DWORD m_thread;
};

// Whether the message is one the user caused (keys, mouse buttons, the
// wheel, clicks on a frame).
bool IsUserInputMessage(UINT message);

}  // namespace tessel
