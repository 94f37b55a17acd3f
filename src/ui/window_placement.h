// Where a top-level window goes: centred on its screen's available area, frame
// included, and cut to the area on a screen too small for it.
#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace ku::ui {

// Where a window goes: its frame's top-left corner and its client size.
struct WindowPlacement {
  QPoint frameTopLeft;
  QSize clientSize;
};
// Centres a window's frame (client plus frame margins) in the screen's available
// area. A client that does not fit is cut to the area, and widened by
// scrollBarExtent where the cut takes a scroll bar and the width allows it.
WindowPlacement placeInArea(const QRect& available, const QMargins& frame, const QSize& client,
                            int scrollBarExtent = 0);

// Sizes and moves a top-level window so that its frame sits in the middle of the
// available area of its screen, wanting clientSize (the current size when
// empty). Until the window system reports the real frame, the frame of the
// program's last window stands in; once the real one is known the window is
// centred again.
void centreOnScreen(QWidget* w, QSize clientSize = QSize(), int scrollBarExtent = 0);

}  // namespace ku::ui
