// The welcome window's three still pictures. They are drawn, not stored, at the
// device pixel ratio of the screen that shows them, so they stay sharp on any screen.
#pragma once

#include <QPixmap>
#include <QWidget>

namespace ku::ui {

enum class Picture {
  Banner,      // 320 x 38: the product name
  Transducer,  // 125 x 77: a transducer sending its beam
  Mark,        // 100 x 30: the maker's mark
};

// The natural size, in device-independent pixels.
QSize pictureSize(Picture which);
// The picture at a device pixel ratio: natural size times the ratio in pixels.
QPixmap renderPicture(Picture which, qreal devicePixelRatio);

// Shows a picture at its natural size, drawn for the screen it is on.
class PictureView : public QWidget {
 public:
  explicit PictureView(Picture which, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Picture which_;
  QPixmap cache_;
};

}  // namespace ku::ui
