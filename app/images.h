// The program's pictures by their fixed numbers: the icon, the bitmaps of
// the main window and the animation clip. They are drawn from sources in
// resources/art and built into the program.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace tessel {

// A clip of equal frames side by side in one strip.
struct AnimationClip {
    QImage strip;
    int frameCount = 0;
    int frameMicroseconds = 0;
    QSize frameSize() const;
    QImage frame(int index) const;  // null outside 0 .. frameCount-1
    bool isNull() const { return strip.isNull() || frameCount <= 0; }
};

// Null when the program has no picture of that number.
QPixmap LoadBitmap(int id);
// The icon in all its sizes (32 x 32 and 16 x 16); null when there is none.
QIcon LoadIcon(int id);
QPixmap LoadIconPixmap(int id, int size);
AnimationClip LoadAnimation(int id);

}  // namespace tessel
