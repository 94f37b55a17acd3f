#include "ui/pictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include "app/operator_texts.h"

namespace ku::ui {

namespace {
const QColor kNavy(0x10, 0x2A, 0x5C);
const QColor kSea(0x1E, 0x6F, 0xA8);
const QColor kFoam(0xE8, 0xF1, 0xF8);

QFont pictureFont(int pixels, bool bold) {
  QFont f(QStringLiteral("Verdana"));
  f.setStyleHint(QFont::SansSerif);
  f.setPixelSize(pixels);
  f.setBold(bold);
  return f;
}

void paintBanner(QPainter& p) {
  QLinearGradient sky(0, 0, 320, 0);
  sky.setColorAt(0.0, kNavy);
  sky.setColorAt(1.0, kSea);
  p.fillRect(QRect(0, 0, 320, 38), sky);
  // A swell along the bottom edge.
  QPainterPath wave;
  wave.moveTo(0, 31);
  for (int x = 0; x < 320; x += 40) {
    wave.quadTo(x + 10, 27, x + 20, 31);
    wave.quadTo(x + 30, 35, x + 40, 31);
  }
  wave.lineTo(320, 38);
  wave.lineTo(0, 38);
  wave.closeSubpath();
  p.fillPath(wave, QColor(0x5F, 0xA8, 0xD8));
  p.setPen(kFoam);
  p.setFont(pictureFont(22, true));
  p.drawText(QRect(0, 0, 320, 30), Qt::AlignCenter, QString::fromLatin1(kAppTitle));
}

void paintTransducer(QPainter& p) {
  QLinearGradient water(0, 0, 0, 77);
  water.setColorAt(0.0, QColor(0x9C, 0xC9, 0xE6));
  water.setColorAt(1.0, kNavy);
  p.fillRect(QRect(0, 0, 125, 77), water);
  // The sea bed.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xB8, 0x9B, 0x6A));
  QPainterPath bed;
  bed.moveTo(0, 70);
  bed.cubicTo(35, 62, 80, 76, 125, 66);
  bed.lineTo(125, 77);
  bed.lineTo(0, 77);
  bed.closeSubpath();
  p.drawPath(bed);
  // The transducer housing under the hull.
  p.setBrush(QColor(0x30, 0x30, 0x38));
  p.drawRect(QRect(0, 0, 125, 6));
  p.setBrush(QColor(0xD0, 0xD4, 0xDA));
  p.drawRoundedRect(QRectF(52, 5, 21, 9), 3, 3);
  // The beam and its echo rings.
  QRadialGradient beam(62.5, 14, 60);
  beam.setColorAt(0.0, QColor(255, 255, 255, 170));
  beam.setColorAt(1.0, QColor(255, 255, 255, 0));
  p.setBrush(beam);
  QPainterPath cone;
  cone.moveTo(62.5, 14);
  cone.lineTo(38, 68);
  cone.lineTo(87, 68);
  cone.closeSubpath();
  p.drawPath(cone);
  p.setBrush(Qt::NoBrush);
  for (int r = 14; r <= 54; r += 10) {
    p.setPen(QPen(QColor(255, 255, 255, 220 - r * 3), 1.5));
    p.drawArc(QRectF(62.5 - r, 14 - r, 2.0 * r, 2.0 * r), -65 * 16, -50 * 16);
  }
}

void paintMark(QPainter& p) {
  p.fillRect(QRect(0, 0, 100, 30), QColor(0xC0, 0xC0, 0xC0));
  // A ring crossed by a wave: the maker's mark.
  p.setPen(QPen(kNavy, 2.5));
  p.setBrush(kFoam);
  p.drawEllipse(QRectF(3, 3, 24, 24));
  QPainterPath wave;
  wave.moveTo(6, 16);
  wave.quadTo(10.5, 10, 15, 16);
  wave.quadTo(19.5, 22, 24, 16);
  p.setPen(QPen(kSea, 2.0));
  p.setBrush(Qt::NoBrush);
  p.drawPath(wave);
  p.setPen(kNavy);
  p.setFont(pictureFont(13, true));
  p.drawText(QRect(32, 0, 68, 30), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("TOLVEK"));
}

}  // namespace

QSize pictureSize(Picture which) {
  switch (which) {
    case Picture::Banner:
      return QSize(320, 38);
    case Picture::Transducer:
      return QSize(125, 77);
    case Picture::Mark:
      return QSize(100, 30);
  }
  return QSize();
}

QPixmap renderPicture(Picture which, qreal devicePixelRatio) {
  const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
  const QSize size = pictureSize(which);
  QPixmap pm(QSize(qRound(size.width() * ratio), qRound(size.height() * ratio)));
  pm.setDevicePixelRatio(ratio);
  pm.fill(Qt::transparent);
  QPainter p(&pm);  // draws in the picture's own pixels, scaled to the device's
  p.setRenderHint(QPainter::Antialiasing);
  switch (which) {
    case Picture::Banner:
      paintBanner(p);
      break;
    case Picture::Transducer:
      paintTransducer(p);
      break;
    case Picture::Mark:
      paintMark(p);
      break;
  }
  return pm;
}

PictureView::PictureView(Picture which, QWidget* parent) : QWidget(parent), which_(which) {
  setFixedSize(pictureSize(which));
}

void PictureView::paintEvent(QPaintEvent*) {
  const qreal ratio = devicePixelRatioF();
  if (cache_.isNull() || cache_.devicePixelRatio() != ratio) cache_ = renderPicture(which_, ratio);
  QPainter p(this);
  p.drawPixmap(0, 0, cache_);
}

}  // namespace ku::ui
