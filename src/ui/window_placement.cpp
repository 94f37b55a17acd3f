#include "ui/window_placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>

namespace ku::ui {

namespace {

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
