// Where the window goes on the screen.
#pragma once

#include <QPoint>
#include <QRect>

// Where a window of `window`'s size and place shows whole inside `area`: its own place when it fits,
// otherwise moved in just far enough, and to the area's top-left corner when it is larger.
QPoint PlaceInside(const QRect &window, const QRect &area);
