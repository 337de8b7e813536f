#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <vector>

// Where a status window of `size` opens the first time: beside the main
// window `main` (frame rectangles), never over it, and over none of the
// windows already open (`taken`), on the screen area `screen`. Tried in
// turn: right of the main window, left of it, below, above, each from the
// main window's edge onwards past what is taken. Where nothing fits, the
// screen's right edge, cascaded past the windows taken.
QPoint PlaceBeside(const QRect& main, const QRect& screen, QSize size,
                   const std::vector<QRect>& taken);
