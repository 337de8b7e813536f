#include "viewer/shell/window_placement.h"

#include <algorithm>

namespace {

bool Free(const QRect& candidate, const QRect& main, const QRect& screen,
          const std::vector<QRect>& taken) {
  if (!screen.contains(candidate) || candidate.intersects(main)) return false;
  return std::none_of(taken.begin(), taken.end(),
                      [&](const QRect& other) { return candidate.intersects(other); });
}

}  // namespace

QPoint PlaceBeside(const QRect& main, const QRect& screen, QSize size,
                   const std::vector<QRect>& taken) {
  // Each side is searched from the main window's corner onwards, stepping
  // past the windows already there.
  std::vector<int> downs{main.top()};
  std::vector<int> acrosses{main.left()};
  for (const QRect& other : taken) {
    downs.push_back(other.bottom() + 1);
    acrosses.push_back(other.right() + 1);
  }
  std::sort(downs.begin(), downs.end());
  std::sort(acrosses.begin(), acrosses.end());

  const int rightX = main.right() + 1;
  const int leftX = main.left() - size.width();
  for (int x : {rightX, leftX}) {
    for (int y : downs) {
      const QRect candidate(QPoint(x, y), size);
      if (Free(candidate, main, screen, taken)) return candidate.topLeft();
    }
  }
  const int belowY = main.bottom() + 1;
  const int aboveY = main.top() - size.height();
  for (int y : {belowY, aboveY}) {
    for (int x : acrosses) {
      const QRect candidate(QPoint(x, y), size);
      if (Free(candidate, main, screen, taken)) return candidate.topLeft();
    }
  }
  // No room anywhere: on the screen, at its right edge where the video
  // ends, each further window a step down and left of the last.
  const int step = 24 * static_cast<int>(taken.size());
  const int x = std::max(screen.left(), screen.right() + 1 - size.width() - step);
  const int y = std::clamp(main.top() + step, screen.top(),
                           std::max(screen.top(), screen.bottom() + 1 - size.height()));
  return {x, y};
}
