#include "app/images.h"

#include <QFile>

#include "resources/resource.h"

namespace tessel {
namespace {

struct Picture {
    int id;
    const char* path;
};

// Rendered from resources/art at build time and built into the program.
constexpr Picture kBitmaps[] = {
    {IDB_BANNER, ":/tessel/art/banner.png"},
    {IDB_LOGO, ":/tessel/art/logo.png"},
    {IDB_STEP1, ":/tessel/art/step1.png"},
    {IDB_STEP2, ":/tessel/art/step2.png"},
};

constexpr int kAnimationFrames = 29;
constexpr int kAnimationFrameMicroseconds = 166666;

const char* PathOf(int id)
{
    for (const Picture& picture : kBitmaps) {
        if (picture.id == id) return picture.path;
    }
    return nullptr;
}

}  // namespace

QSize AnimationClip::frameSize() const
{
    return frameCount > 0 ? QSize(strip.width() / frameCount, strip.height()) : QSize();
}

QImage AnimationClip::frame(int index) const
{
    if (isNull() || index < 0 || index >= frameCount) return {};
    const QSize size = frameSize();
    return strip.copy(index * size.width(), 0, size.width(), size.height());
}

QPixmap LoadBitmap(int id)
{
    const char* path = PathOf(id);
    return path ? QPixmap(QString::fromLatin1(path)) : QPixmap();
}

QPixmap LoadIconPixmap(int id, int size)
{
    if (id != IDR_MAINFRAME || (size != 16 && size != 32)) return {};
    return QPixmap(QStringLiteral(":/tessel/art/icon%1.png").arg(size));
}

QIcon LoadIcon(int id)
{
    QIcon icon;
    for (int size : {32, 16}) {
        const QPixmap pixmap = LoadIconPixmap(id, size);
        if (!pixmap.isNull()) icon.addPixmap(pixmap);
    }
    return icon;
}

AnimationClip LoadAnimation(int id)
{
    if (id != IDR_ANIMATION) return {};
    AnimationClip clip{QImage(QStringLiteral(":/tessel/art/animation.png")), kAnimationFrames,
                       kAnimationFrameMicroseconds};
    if (clip.strip.isNull() || clip.strip.width() % kAnimationFrames != 0) return {};
    return clip;
}

}  // namespace tessel
