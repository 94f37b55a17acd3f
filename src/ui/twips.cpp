#include "ui/twips.h"

#include <QLabel>

namespace ku::ui {

namespace {
constexpr int kLabelHeightTwips = 195;
}  // namespace

void placeAutoSizeLabel(QLabel* label, int leftTwips, int topTwips) {
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setTextFormat(Qt::PlainText);
  label->move(px(leftTwips), px(topTwips));
  setAutoSizeText(label, label->text());
}

void setAutoSizeText(QLabel* label, const QString& text) {
  label->setText(text);
  const int width = label->fontMetrics().horizontalAdvance(text);
  label->resize(width, px(kLabelHeightTwips));
}

}  // namespace ku::ui
