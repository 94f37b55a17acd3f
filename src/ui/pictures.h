// The welcome window's three still pictures, drawn at their natural sizes.
#pragma once

#include <QPixmap>

namespace ku::ui {

QPixmap bannerPicture();      // Image1, 320 x 38: the product name
QPixmap transducerPicture();  // Image3, 125 x 77: a transducer sending its beam
QPixmap markPicture();        // Image2, 100 x 30: the maker's mark

}  // namespace ku::ui
