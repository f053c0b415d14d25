#include "app/screen_place.h"

#include <algorithm>

QPoint PlaceInside(const QRect &window, const QRect &area) {
  auto along = [](int at, int size, int from, int length) {
    return std::max(from, std::min(at, from + length - size));
  };
  return {along(window.x(), window.width(), area.x(), area.width()),
          along(window.y(), window.height(), area.y(), area.height())};
}
