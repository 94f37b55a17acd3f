// The thread the window's exchanges with the unit run on, so that the window's
// own thread never waits on the line: one exchange at a time runs there from
// start to end, its pauses included. What an exchange shows the operator (the
// boxes, the columns, a message box, a question) is run on the window's thread
// while the exchange waits for it, so the controller behind the window is only
// ever run by one thread at a time.
#pragma once

#include <QObject>
#include <QThread>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>

namespace ku::ui {

// Thrown on the exchange thread when the window went away while the exchange
// waited for it: the exchange ends there.
struct WindowGone : std::exception {
  const char* what() const noexcept override { return "the window was closed"; }
};

class ExchangeThread : public QObject {
  Q_OBJECT

 public:
  explicit ExchangeThread(QObject* parent = nullptr);
  ~ExchangeThread() override { finish(); }

  // Whether an exchange has been started and its end not yet reported.
  bool running() const { return running_; }
  // Runs work on the exchange thread; then done on this object's thread with
  // what escaped work (null when nothing did). One at a time: false, and
  // nothing run, while another is running.
  bool start(std::function<void()> work, std::function<void(std::exception_ptr)> done);
  // Runs fn on this object's thread (the window's) and returns once it has:
  // directly when called there, else while the exchange thread waits. What fn
  // throws is thrown here.
  void onWindowThread(const std::function<void()>& fn);
  // Queues fn for this object's thread without waiting (progress reports).
  void post(std::function<void()> fn);
  // Ends the thread: a running exchange is waited for (its waits for the
  // window end at once, in WindowGone), then lastly runs there (what the window
  // tears down on that thread) and the thread stops. Later calls do nothing.
  void finish(const std::function<void()>& lastly = {});
  // Whether the window's thread is running a call of the exchange thread's
  // right now (onWindowThread): the controller is the exchange's meanwhile.
  bool inWindowCall() const { return windowCalls_ > 0; }

 private:
  QThread thread_;
  QObject* worker_ = nullptr;  // lives on thread_: the exchanges are queued to it
  bool running_ = false;
  int windowCalls_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool gone_ = false;         // the window is being destroyed
  bool workRunning_ = false;  // work has not returned yet
};

}  // namespace ku::ui
