// Dialog units: the windows are laid out in units of the dialog font, a
// quarter of its average character width across and an eighth of its
// height down, so that they keep their proportions with any font.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace tessel {

// The dialog font at the given size. The family is the one the windows were
// drawn for; where it is missing the system's sans-serif stands in.
QFont DialogFont(int pointSize);

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int baseX() const { return m_baseX; }  // average character width, pixels
    int baseY() const { return m_baseY; }  // character height, pixels

    int toPixelsX(int units) const;
    int toPixelsY(int units) const;
    QSize toPixels(int width, int height) const;
    QRect toPixels(int x, int y, int width, int height) const;

private:
    int m_baseX;
    int m_baseY;
};

}  // namespace tessel
