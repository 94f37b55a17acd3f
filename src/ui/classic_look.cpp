#include "ui/classic_look.h"

#include <QApplication>
#include <QPointer>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

namespace ku::ui {

namespace {

// The classic colours that go with the grey: text, disabled text and the 3D shading.
const QColor kText(0x00, 0x00, 0x00);
const QColor kDisabledText(0x50, 0x50, 0x50);  // greyed, still readable on the grey
const QColor kBox(0xFF, 0xFF, 0xFF);
const QColor kLight(0xFF, 0xFF, 0xFF);
const QColor kMidlight(0xDF, 0xDF, 0xDF);
const QColor kMid(0xA0, 0xA0, 0xA0);
const QColor kDark(0x80, 0x80, 0x80);
const QColor kShadow(0x00, 0x00, 0x00);
const QColor kSelection(0x00, 0x00, 0x80);

constexpr QPalette::ColorGroup kGroups[] = {QPalette::Active, QPalette::Inactive,
                                            QPalette::Disabled};

void setTextColour(QPalette& pal, QPalette::ColorRole role) {
  for (QPalette::ColorGroup g : kGroups)
    pal.setColor(g, role, g == QPalette::Disabled ? kDisabledText : kText);
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

QPalette formPalette() {
  QPalette pal;
  const struct {
    QPalette::ColorRole role;
    QColor colour;
  } fixed[] = {{QPalette::Window, backgroundColour()},
               {QPalette::Button, backgroundColour()},
               {QPalette::Base, kBox},
               {QPalette::AlternateBase, kMidlight},
               {QPalette::Light, kLight},
               {QPalette::Midlight, kMidlight},
               {QPalette::Mid, kMid},
               {QPalette::Dark, kDark},
               {QPalette::Shadow, kShadow},
               {QPalette::Highlight, kSelection},
               {QPalette::HighlightedText, kLight},
               {QPalette::BrightText, kLight},
               {QPalette::Link, QColor(0x00, 0x00, 0xFF)},
               {QPalette::LinkVisited, QColor(0x80, 0x00, 0x80)},
               {QPalette::ToolTipBase, QColor(0xFF, 0xFF, 0xE1)},
               {QPalette::ToolTipText, kText},
               {QPalette::PlaceholderText, kDisabledText}};
  for (QPalette::ColorGroup g : kGroups)
    for (const auto& f : fixed) pal.setColor(g, f.role, f.colour);
  for (QPalette::ColorRole r : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
    setTextColour(pal, r);
  return pal;
}

QStyle* formStyle() {
  // One for the whole program, gone with the application object.
  static QPointer<QStyle> style;
  if (!style) {
    style = QStyleFactory::create(QStringLiteral("Fusion"));
    if (style) style->setParent(qApp);
  }
  return style ? style.data() : QApplication::style();
}

void applyFormLook(QWidget* root) {
  QStyle* style = formStyle();
  root->setPalette(formPalette());
  root->setAutoFillBackground(true);
  root->setStyle(style);
  // A style is not passed on to children as the palette is.
  for (QWidget* w : root->findChildren<QWidget*>()) {
    if (w->isWindow()) continue;
    w->setStyle(style);
  }
}

void applyGreyBoxColours(QWidget* box) {
  QPalette pal = formPalette();
  for (QPalette::ColorGroup g : kGroups) pal.setColor(g, QPalette::Base, backgroundColour());
  box->setPalette(pal);
}

}  // namespace ku::ui
