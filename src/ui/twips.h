// Window geometry is laid out in twips (1/1440 inch); 15 twips make one pixel
// at 96 dots per inch. Labels placed in twips size themselves to their text.
#pragma once

#include <QRect>
#include <QString>

class QLabel;

namespace ku::ui {

constexpr int kTwipsPerPixel = 15;

// Twips to pixels, to the nearest pixel.
constexpr int px(int twips) {
  return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}
inline QRect twipRect(int left, int top, int width, int height) {
  return QRect(px(left), px(top), px(width), px(height));
}

// A label at (left, top) in twips that sizes its width to its text; height 195.
void placeAutoSizeLabel(QLabel* label, int leftTwips, int topTwips);
// Sets the caption and sizes the label to it again.
void setAutoSizeText(QLabel* label, const QString& text);

}  // namespace ku::ui
