// Window geometry is laid out in twips (1/1440 inch); 15 twips make one pixel
// at 96 dots per inch.
#pragma once

#include <QColor>
#include <QFont>
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

// Paints the widget's background with the window colour and uses it for buttons.
void applyWindowColours(QWidget* w);

// Moves a top-level window so that its frame sits in the middle of its screen.
void centreOnScreen(QWidget* w);

}  // namespace ku::ui
