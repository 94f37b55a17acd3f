// Window geometry is laid out in twips (1/1440 inch); 15 twips make one pixel
// at 96 dots per inch.
#pragma once

#include <QColor>
#include <QFont>
#include <QMargins>
#include <QRect>
#include <QString>

class QLabel;
class QWidget;

namespace ku::ui {

constexpr int kTwipsPerPixel = 15;

// Twips to pixels, to the nearest pixel.
constexpr int px(int twips) {
  return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}
inline QRect twipRect(int left, int top, int width, int height) {
  return QRect(px(left), px(top), px(width), px(height));
}

// Background of every window, label and button: the classic light grey of
// system colour 19 (inactive caption text).
QColor backgroundColour();

// "MS Sans Serif" 8.25 pt, or the nearest installed sans-serif face.
QFont defaultFont(bool bold = false);
// A named face at a size, falling back to the nearest sans-serif face.
QFont namedFont(const QString& family, double points);

// A label at (left, top) in twips that sizes its width to its text; height 195.
void placeAutoSizeLabel(QLabel* label, int leftTwips, int topTwips);
// Sets the caption and sizes the label to it again.
void setAutoSizeText(QLabel* label, const QString& text);

// Paints the widget's background with the window colour and uses it for buttons,
// with the text and shading colours that go with it (black text, grey when
// disabled), so that no desktop colour scheme can put light text on the grey.
void applyWindowColours(QWidget* w);
// The same text colours for a box whose background is the window colour.
void applyGreyBoxColours(QWidget* box);

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
