#include "ui/classic_look.h"

#include <QPalette>
#include <QWidget>
#include <initializer_list>

namespace ku::ui {

namespace {

// The classic colours that go with the grey: text, disabled text and the 3D shading.
const QColor kText(0x00, 0x00, 0x00);
const QColor kDisabledText(0x60, 0x60, 0x60);  // greyed, still readable on the grey
const QColor kLight(0xFF, 0xFF, 0xFF);
const QColor kMidlight(0xDF, 0xDF, 0xDF);
const QColor kMid(0xA0, 0xA0, 0xA0);
const QColor kDark(0x80, 0x80, 0x80);
const QColor kShadow(0x00, 0x00, 0x00);

constexpr QPalette::ColorGroup kGroups[] = {QPalette::Active, QPalette::Inactive,
                                            QPalette::Disabled};

void setTextColours(QPalette& pal, std::initializer_list<QPalette::ColorRole> roles) {
  for (QPalette::ColorGroup g : kGroups)
    for (QPalette::ColorRole r : roles)
      pal.setColor(g, r, g == QPalette::Disabled ? kDisabledText : kText);
}

}  // namespace

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

void applyWindowColours(QWidget* w) {
  QPalette pal = w->palette();
  for (QPalette::ColorGroup g : kGroups) {
    pal.setColor(g, QPalette::Window, backgroundColour());
    pal.setColor(g, QPalette::Button, backgroundColour());
    pal.setColor(g, QPalette::Light, kLight);
    pal.setColor(g, QPalette::Midlight, kMidlight);
    pal.setColor(g, QPalette::Mid, kMid);
    pal.setColor(g, QPalette::Dark, kDark);
    pal.setColor(g, QPalette::Shadow, kShadow);
  }
  setTextColours(pal, {QPalette::WindowText, QPalette::ButtonText});
  w->setPalette(pal);
  w->setAutoFillBackground(true);
}

void applyGreyBoxColours(QWidget* box) {
  QPalette pal = box->palette();
  for (QPalette::ColorGroup g : kGroups) pal.setColor(g, QPalette::Base, backgroundColour());
  setTextColours(pal, {QPalette::Text});
  box->setPalette(pal);
}

}  // namespace ku::ui
