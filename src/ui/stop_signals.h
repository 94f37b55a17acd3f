// SIGINT, SIGTERM and SIGHUP for the window: the handler sets the process's stop
// request (which the exchanges give way to) and wakes the event loop through a
// pipe; the loop then asks every window to close, as the operator's Close does.
// A window in an exchange closes once it is over (an upload's pass is never cut
// short), with the close byte. The desktop's log-out does the same.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace ku::ui {

class StopSignals : public QObject {
  Q_OBJECT

 public:
  // Installs the handlers; one per process.
  explicit StopSignals(QObject* parent = nullptr);
  ~StopSignals() override;

 Q_SIGNALS:
  // A signal came (its number); emitted from the event loop, not the handler.
  void stopRequested(int signal);

 private:
  void drain();
  QSocketNotifier* notifier_ = nullptr;
};

// Closes every top-level window, each as its Close would.
void closeAllWindowsOnStop(StopSignals& stopSignals);

}  // namespace ku::ui
