// The animation control: plays a run of frames of a clip over and over,
// drawn centred on a transparent background.
#pragma once

#include <QTimer>
#include <QWidget>

#include <cstdint>

#include "app/images.h"

namespace tessel {

class CAnimateCtrl final : public QWidget {
    Q_OBJECT
public:
    explicit CAnimateCtrl(QWidget* parent = nullptr);

    // Opens clip `id` of the program; false (and the control empty) when it
    // cannot be had.
    bool Open(int id);
    bool Open(AnimationClip clip);
    // Plays frames `from` to `to` (inclusive), `repeat` times or without end
    // (-1). False when no clip is open or the frames are not in it.
    bool Play(int from, int to, int repeat);
    static constexpr int kRepeatWithoutEnd = -1;
    void Stop();
    void Close();  // stops and empties the control

    bool IsOpen() const { return !m_clip.isNull(); }
    bool IsPlaying() const { return m_timer.isActive(); }
    int CurrentFrame() const { return m_frame; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Advance();

    AnimationClip m_clip;
    QTimer m_timer;
    int m_frame = 0;
    int m_from = 0;
    int m_to = 0;
    int m_repeatsLeft = 0;       // -1: without end
    std::int64_t m_started = 0;  // microseconds, of the first frame shown
    std::int64_t m_shown = 0;    // frames shown since then
};

}  // namespace tessel
