#include "app/animatectrl.h"

#include <QElapsedTimer>
#include <QPainter>

namespace tessel {
namespace {

std::int64_t NowMicroseconds()
{
    static QElapsedTimer clock;
    if (!clock.isValid()) clock.start();
    return clock.nsecsElapsed() / 1000;
}

}  // namespace

CAnimateCtrl::CAnimateCtrl(QWidget* parent) : QWidget(parent)
{
    // No background of its own: the window shows through round the frame.
    setAutoFillBackground(false);
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &CAnimateCtrl::Advance);
}

bool CAnimateCtrl::Open(int id)
{
    return Open(LoadAnimation(id));
}

bool CAnimateCtrl::Open(AnimationClip clip)
{
    Close();
    if (clip.isNull()) return false;
    m_clip = std::move(clip);
    m_frame = 0;
    update();
    return true;
}

bool CAnimateCtrl::Play(int from, int to, int repeat)
{
    if (m_clip.isNull() || from < 0 || to < from || to >= m_clip.frameCount || repeat == 0) return false;
    m_from = from;
    m_to = to;
    m_repeatsLeft = repeat;
    m_frame = from;
    m_started = NowMicroseconds();
    m_shown = 0;
    update();
    // Frames keep the clip's rate on average: each is timed from the start,
    // not from the frame before, so the rounding to milliseconds never adds up.
    m_timer.start(static_cast<int>(m_clip.frameMicroseconds / 1000));
    return true;
}

void CAnimateCtrl::Stop()
{
    m_timer.stop();
}

void CAnimateCtrl::Close()
{
    Stop();
    m_clip = {};
    m_frame = 0;
    update();
}

void CAnimateCtrl::Advance()
{
    if (m_frame == m_to) {
        if (m_repeatsLeft > 0 && --m_repeatsLeft == 0) return;
        m_frame = m_from;
    } else {
        ++m_frame;
    }
    ++m_shown;
    update();
    const std::int64_t due = m_started + (m_shown + 1) * m_clip.frameMicroseconds;
    const std::int64_t wait = (due - NowMicroseconds()) / 1000;
    m_timer.start(static_cast<int>(wait > 0 ? wait : 0));
}

void CAnimateCtrl::paintEvent(QPaintEvent*)
{
    const QImage image = m_clip.frame(m_frame);
    if (image.isNull()) return;
    QPainter painter(this);
    const QSize size = image.size();
    painter.drawImage(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), image);
}

}  // namespace tessel
