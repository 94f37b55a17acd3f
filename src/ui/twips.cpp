#include "ui/twips.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPalette>
#include <QScreen>
#include <QWidget>

namespace ku::ui {

namespace {
constexpr int kLabelHeightTwips = 195;
}

QColor backgroundColour() {
  return QColor(0xC0, 0xC0, 0xC0);
}

QFont namedFont(const QString& family, double points) {
  QFont f(family);
  f.setStyleHint(QFont::SansSerif);
  f.setPointSizeF(points);
  return f;
}

QFont defaultFont(bool bold) {
  QFont f = namedFont(QStringLiteral("MS Sans Serif"), 8.25);
  f.setBold(bold);
  return f;
}

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

void applyWindowColours(QWidget* w) {
  QPalette pal = w->palette();
  pal.setColor(QPalette::Window, backgroundColour());
  pal.setColor(QPalette::Button, backgroundColour());
  w->setPalette(pal);
  w->setAutoFillBackground(true);
}

void centreOnScreen(QWidget* w) {
  QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  QRect frame = w->frameGeometry();
  if (!w->isVisible()) frame = QRect(w->pos(), w->size());
  frame.moveCenter(area.center());
  w->move(frame.topLeft());
}

}  // namespace ku::ui
