// The clock of the window's own waits. A command or the close routine that
// sleeps on the user-interface thread keeps the window alive meanwhile:
// the sleep runs a local event loop that paints and delivers queued calls
// but lets no user input through, so the window repaints and nobody can
// use it until the command is over. The main window is locked for the
// whole command, waits and boxes alike.
#pragma once

#include <QObject>

class QWidget;

#include "platform/clock.h"

namespace tessel {

// How long one slice of a window sleep lasts at most: the window repaints
// at least this often.
inline constexpr std::int64_t kWindowPaintSliceMs = 15;

class WindowClock final : public Clock {
public:
    // Time and the slices' sleeps come from `base` (the steady clock in the
    // program, virtual time in tests).
    explicit WindowClock(Clock& base);
    ~WindowClock() override;
    WindowClock(const WindowClock&) = delete;
    WindowClock& operator=(const WindowClock&) = delete;

    std::int64_t NowMs() override { return m_base.NowMs(); }
    // On the user-interface thread: waits with the window painting and its
    // input dropped. Any other thread simply sleeps on the base clock.
    void SleepMs(std::int64_t ms) override;

    Clock& Base() { return m_base; }

    // While set, `window` (the main window) takes no input at all, in a
    // sleep or out of one, whatever its modality: the way the system
    // disables a dialog's owner while a command runs. Windows opened
    // meanwhile (the boxes) take theirs. Null lifts the lock.
    void LockWindow(QWidget* window);

private:
    class InputGate;
    Clock& m_base;
    InputGate* m_gate;
};

// Whether the event is one the user caused (a key, a mouse button, the
// wheel, a touch, a close asked for by the window manager).
bool IsUserInput(const QEvent* event);

}  // namespace tessel
