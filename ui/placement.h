#ifndef PLACEMENT_H
#define PLACEMENT_H

#include <QPoint>
#include <QSize>

// Top-left position that centres a window of size `window` on a screen of
// size `screen`, relative to (0, 0): each coordinate is (screen - window) / 2,
// truncated toward zero. A window larger than the screen gets a negative
// coordinate, so its middle still meets the screen's middle.
inline QPoint centredPosition(const QSize& screen, const QSize& window)
{
    return QPoint((screen.width() - window.width()) / 2, (screen.height() - window.height()) / 2);
}

#endif
