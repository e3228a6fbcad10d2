#include "app/window_clock.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QThread>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace tessel {

bool IsUserInput(const QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::ContextMenu:
        return true;
    case QEvent::Close:
        // A close the program makes itself is not spontaneous.
        return event->spontaneous();
    default:
        return false;
    }
}

namespace {

// A window opened modally during the wait (a box the start-up check asks
// for) must take its answer; everything else waits it out. The main window
// is modal as well (the program runs it with exec()), which is why it is
// locked by name for a whole command.
bool InModalWindow(QObject* target)
{
    if (auto* widget = qobject_cast<QWidget*>(target)) return widget->window()->isModal();
    if (auto* window = qobject_cast<QWindow*>(target)) return window->modality() != Qt::NonModal;
    return false;
}

bool InLockedWindow(QObject* target, const QWidget* locked)
{
    if (!locked) return false;
    if (auto* widget = qobject_cast<QWidget*>(target)) return widget->window() == locked;
    if (auto* window = qobject_cast<QWindow*>(target)) return window == locked->windowHandle();
    return false;
}

}  // namespace

// Drops the user's input while a window sleep runs. Input is dropped, not
// kept for later: a key pressed during a 44-s wait must not answer the box
// that follows it, nor a click start the command a second time.
class WindowClock::InputGate final : public QObject {
public:
    int depth = 0;
    QPointer<QWidget> locked;

protected:
    bool eventFilter(QObject* target, QEvent* event) override
    {
        // A locked window takes no close at all: the program lifts the lock
        // before it ends the window itself.
        const bool inLocked = InLockedWindow(target, locked);
        if (!IsUserInput(event) && !(inLocked && event->type() == QEvent::Close)) return false;
        if (inLocked || (depth > 0 && !InModalWindow(target))) {
            event->ignore();
            return true;
        }
        return false;
    }
};

WindowClock::WindowClock(Clock& base) : m_base(base), m_gate(new InputGate)
{
    QCoreApplication::instance()->installEventFilter(m_gate);
}

WindowClock::~WindowClock()
{
    delete m_gate;
}

void WindowClock::LockWindow(QWidget* window)
{
    m_gate->locked = window;
}

void WindowClock::SleepMs(std::int64_t ms)
{
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
        m_base.SleepMs(ms);
        return;
    }
    ++m_gate->depth;
    const std::int64_t deadline = m_base.NowMs() + std::max<std::int64_t>(ms, 0);
    QCoreApplication::processEvents();
    for (std::int64_t left = deadline - m_base.NowMs(); left > 0; left = deadline - m_base.NowMs()) {
        m_base.SleepMs(std::min(left, kWindowPaintSliceMs));
        QCoreApplication::processEvents();
    }
    --m_gate->depth;
}

}  // namespace tessel
