// Where the window opens: its saved position, kept inside the available area of the nearest
// screen.
#pragma once

#include <QList>
#include <QPoint>
#include <QRect>

namespace velorin::ui {

// The top-left corner that keeps frame inside area: an edge left of (or above) the area moves to
// the area's edge; otherwise the frame moves left (up) as far as needed to end inside it.
QPoint keepInside(const QRect& frame, const QRect& area);

// The index of the area nearest to frame: the one it overlaps most, else the one whose centre is
// closest; -1 for no areas.
int nearestArea(const QRect& frame, const QList<QRect>& areas);

// The position for a frame of the given size saved at savedTopLeft, against the screens' available
// areas (the saved position itself when there are none).
QPoint placeOnScreens(QPoint savedTopLeft, QSize frameSize, const QList<QRect>& areas);

}  // namespace velorin::ui
