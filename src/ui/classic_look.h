// The classic look of the forms: the light grey of the windows, labels and
// buttons with the text and shading colours that go with it, and the fonts.
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>

class QStyle;
class QWidget;

namespace ku::ui {

// Background of every window, label and button: the classic light grey of
// system colour 19 (inactive caption text).
QColor backgroundColour();

// "MS Sans Serif" 8.25 pt, or the nearest installed sans-serif face.
QFont defaultFont(bool bold = false);
// A named face at a size, falling back to the nearest sans-serif face.
QFont namedFont(const QString& family, double points);

// The forms' own colours, whatever the desktop's scheme: the grey with black
// text (dark grey when disabled), white boxes, the classic 3D shading and a
// navy selection.
QPalette formPalette();
// The style that draws the forms' controls: one that paints with the palette it
// is given (some desktop styles keep their own colours for buttons and boxes).
QStyle* formStyle();

// Gives root and every control on it the forms' palette and style, and paints
// root's background with the grey, so that no desktop colour scheme or style
// can put light text on the grey or dark boxes on the form. Menus and dialogs
// opened from it keep the desktop's look. Call it once the controls are built.
void applyFormLook(QWidget* root);
// The grey background, with the form's text colours, for a box whose
// background is the window colour.
void applyGreyBoxColours(QWidget* box);

}  // namespace ku::ui
