#include "ui/stop_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include "link/stop_request.h"
#include "model/log.h"

namespace ku::ui {

namespace {

int wakePipe[2] = {-1, -1};

// From the signal handler: one byte carrying the signal number.
void wakeEventLoop(int signal) {
  const char byte = static_cast<char>(signal);
  [[maybe_unused]] const ssize_t n = ::write(wakePipe[1], &byte, 1);
}

}  // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
  if (wakePipe[0] < 0 && ::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    installStopHandlers();  // without a pipe the next exchange still sees the stop
    return;
  }
  notifier_ = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &StopSignals::drain);
  installStopHandlers(wakeEventLoop);
}

StopSignals::~StopSignals() {
  installStopHandlers();  // the pipe's reader is gone; the request alone stays
}

void StopSignals::drain() {
  char bytes[16];
  ssize_t n = 0;
  int last = 0;
  while ((n = ::read(wakePipe[0], bytes, sizeof bytes)) > 0) last = bytes[n - 1];
  if (last != 0) Q_EMIT stopRequested(last);
}

void closeAllWindowsOnStop(StopSignals& stopSignals) {
  QObject::connect(&stopSignals, &StopSignals::stopRequested, qApp, [](int signal) {
    qCDebug(lcUi, "%s: every window is asked to close", signalName(signal).c_str());
    QApplication::closeAllWindows();
  });
#if QT_CONFIG(sessionmanager)
  // Log-out: the windows close as Close does, an upload's pass first.
  QObject::connect(qApp, &QGuiApplication::commitDataRequest, qApp, [](QSessionManager&) {
    qCDebug(lcUi, "log-out: every window is asked to close");
    QApplication::closeAllWindows();
  });
#endif
}

}  // namespace ku::ui
