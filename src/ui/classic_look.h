// The classic look of the forms: the light grey of the windows, labels and
// buttons with the text and shading colours that go with it, and the fonts.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QWidget;

namespace ku::ui {

// Background of every window, label and button: the classic light grey of
// system colour 19 (inactive caption text).
QColor backgroundColour();

// "MS Sans Serif" 8.25 pt, or the nearest installed sans-serif face.
QFont defaultFont(bool bold = false);
// A named face at a size, falling back to the nearest sans-serif face.
QFont namedFont(const QString& family, double points);

// Paints the widget's background with the window colour and uses it for buttons,
// with the text and shading colours that go with it (black text, grey when
// disabled), so that no desktop colour scheme can put light text on the grey.
void applyWindowColours(QWidget* w);
// The same text colours for a box whose background is the window colour.
void applyGreyBoxColours(QWidget* box);

}  // namespace ku::ui
