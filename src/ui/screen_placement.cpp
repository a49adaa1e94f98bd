#include "ui/screen_placement.h"

#include <limits>

namespace velorin::ui {

namespace {
int keepSpanInside(int start, int length, int areaStart, int areaLength) {
  if (start < areaStart) return areaStart;
  const int areaEnd = areaStart + areaLength;
  if (start + length > areaEnd) return std::max(areaStart, areaEnd - length);
  return start;
}
}  // namespace

QPoint keepInside(const QRect& frame, const QRect& area) {
  return {keepSpanInside(frame.left(), frame.width(), area.left(), area.width()),
          keepSpanInside(frame.top(), frame.height(), area.top(), area.height())};
}

int nearestArea(const QRect& frame, const QList<QRect>& areas) {
  int best = -1;
  long long bestOverlap = 0;
  for (int i = 0; i < areas.size(); ++i) {
    const QRect overlap = frame.intersected(areas[i]);
    const long long size = overlap.isEmpty() ? 0 : static_cast<long long>(overlap.width()) * overlap.height();
    if (size > bestOverlap) best = i, bestOverlap = size;
  }
  if (best >= 0) return best;
  long long bestDistance = std::numeric_limits<long long>::max();
  for (int i = 0; i < areas.size(); ++i) {
    const QPoint d = areas[i].center() - frame.center();
    const long long distance = static_cast<long long>(d.x()) * d.x() + static_cast<long long>(d.y()) * d.y();
    if (distance < bestDistance) best = i, bestDistance = distance;
  }
  return best;
}

QPoint placeOnScreens(QPoint savedTopLeft, QSize frameSize, const QList<QRect>& areas) {
  const QRect frame(savedTopLeft, frameSize);
  const int index = nearestArea(frame, areas);
  return index < 0 ? savedTopLeft : keepInside(frame, areas[index]);
}

}  // namespace velorin::ui
