#include "ui/close_request_log.h"

#include <QEvent>
#include <QWidget>

#include "model/log.h"

namespace ku::ui {

bool CloseRequestLog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Close && watched->isWidgetType() &&
      static_cast<QWidget*>(watched)->isWindow()) {
    const QString name = watched->objectName();
    qCDebug(lcUi, "close requested: %s",
            qPrintable(name.isEmpty() ? QString::fromLatin1(watched->metaObject()->className())
                                      : name));
  }
  return false;  // the window decides
}

}  // namespace ku::ui
