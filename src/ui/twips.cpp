#include "ui/twips.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPalette>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>

namespace ku::ui {

namespace {
constexpr int kLabelHeightTwips = 195;

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

// The frame of the last window the window system framed: it stands in for the
// frame of a window not yet shown.
QMargins lastFrame;

QMargins frameOf(const QWidget* w) {
  const QRect f = w->frameGeometry();
  const QRect c = w->geometry();
  return QMargins(c.left() - f.left(), c.top() - f.top(), f.right() - c.right(),
                  f.bottom() - c.bottom());
}

void place(QWidget* w, const QMargins& frame, QSize client, int scrollBarExtent) {
  QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const WindowPlacement p =
      placeInArea(screen->availableGeometry(), frame, client, scrollBarExtent);
  if (w->size() != p.clientSize) w->resize(p.clientSize);
  w->move(p.frameTopLeft);  // a top-level window's position is its frame's
}

// Centres the window again once the window system has put its frame around it,
// then goes; a window whose frame never shows (no window manager) keeps the
// first placement.
class FrameWatcher : public QObject {
 public:
  FrameWatcher(QWidget* w, QMargins assumed, QSize client, int scrollBarExtent)
      : QObject(w), w_(w), assumed_(assumed), client_(client), extent_(scrollBarExtent) {
    w->installEventFilter(this);
    QTimer::singleShot(3000, this, [this] { finish(); });
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    switch (event->type()) {
      case QEvent::Show:
      case QEvent::Move:
      case QEvent::Resize:
      case QEvent::WindowActivate:
      case QEvent::UpdateRequest:
        check();
        break;
      default:
        break;
    }
    return false;
  }

 private:
  void check() {
    if (done_ || !w_->isVisible()) return;
    const QMargins frame = frameOf(w_);
    if (frame.isNull()) return;
    lastFrame = frame;
    done_ = true;
    if (frame != assumed_) place(w_, frame, client_, extent_);
    finish();
  }
  void finish() {
    w_->removeEventFilter(this);
    deleteLater();
  }

  QWidget* w_;
  QMargins assumed_;
  QSize client_;
  int extent_;
  bool done_ = false;
};

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

WindowPlacement placeInArea(const QRect& available, const QMargins& frame, const QSize& client,
                            int scrollBarExtent) {
  const int maxWidth = std::max(1, available.width() - frame.left() - frame.right());
  const int maxHeight = std::max(1, available.height() - frame.top() - frame.bottom());
  const bool cutWidth = client.width() > maxWidth;
  const bool cutHeight = client.height() > maxHeight;
  QSize size = client;
  if (cutHeight) {
    size.setHeight(maxHeight);
    if (!cutWidth) size.setWidth(std::min(client.width() + scrollBarExtent, maxWidth));
  }
  if (cutWidth) {
    size.setWidth(maxWidth);
    if (!cutHeight) size.setHeight(std::min(client.height() + scrollBarExtent, maxHeight));
  }
  const int frameWidth = size.width() + frame.left() + frame.right();
  const int frameHeight = size.height() + frame.top() + frame.bottom();
  const QPoint topLeft(available.left() + std::max(0, (available.width() - frameWidth) / 2),
                       available.top() + std::max(0, (available.height() - frameHeight) / 2));
  return WindowPlacement{topLeft, size};
}

void centreOnScreen(QWidget* w, QSize clientSize, int scrollBarExtent) {
  if (!clientSize.isValid()) clientSize = w->size();
  const QMargins known = w->isVisible() ? frameOf(w) : QMargins();
  const QMargins frame = known.isNull() ? lastFrame : known;
  place(w, frame, clientSize, scrollBarExtent);
  if (known.isNull()) new FrameWatcher(w, frame, clientSize, scrollBarExtent);
}

}  // namespace ku::ui
