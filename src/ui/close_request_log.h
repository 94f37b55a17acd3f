// The ku.ui log of every request to close a window, whoever makes it: the
// Close button or File > Quit, the window manager, a stop signal, the log-out.
// kuutil installs it on the application.
#pragma once

#include <QObject>

namespace ku::ui {

class CloseRequestLog : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace ku::ui
