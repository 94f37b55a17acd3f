#include "ui/exchange_thread.h"

#include <memory>

namespace ku::ui {

ExchangeThread::ExchangeThread(QObject* parent) : QObject(parent) {
  thread_.setObjectName(QStringLiteral("exchanges"));
  worker_ = new QObject;
  worker_->moveToThread(&thread_);
  connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
  thread_.start();
}

void ExchangeThread::finish(const std::function<void()>& lastly) {
  if (!thread_.isRunning()) return;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    gone_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !workRunning_; });
  }
  if (lastly) QMetaObject::invokeMethod(worker_, lastly, Qt::BlockingQueuedConnection);
  thread_.quit();
  thread_.wait();
}

bool ExchangeThread::start(std::function<void()> work,
                           std::function<void(std::exception_ptr)> done) {
  if (running_ || !thread_.isRunning()) return false;
  running_ = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    workRunning_ = true;
  }
  QMetaObject::invokeMethod(
      worker_,
      [this, work = std::move(work), done = std::move(done)]() mutable {
        std::exception_ptr escaped;
        try {
          work();
        } catch (...) {
          escaped = std::current_exception();
        }
        // The end is reported through this object's queue, after everything
        // the exchange posted before it.
        QMetaObject::invokeMethod(
            this,
            [this, done = std::move(done), escaped] {
              running_ = false;
              if (done) done(escaped);
            },
            Qt::QueuedConnection);
        std::lock_guard<std::mutex> lock(mutex_);
        workRunning_ = false;
        changed_.notify_all();
      },
      Qt::QueuedConnection);
  return true;
}

void ExchangeThread::onWindowThread(const std::function<void()>& fn) {
  if (QThread::currentThread() != &thread_) {
    fn();  // the window's own thread, outside an exchange
    return;
  }
  struct Call {
    bool done = false;
    std::exception_ptr escaped;
  };
  auto call = std::make_shared<Call>();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (gone_) throw WindowGone();
  }
  // fn is only run while this thread waits below: gone_ is set on the window's
  // thread, so it cannot change while fn runs there.
  QMetaObject::invokeMethod(
      this,
      [this, call, &fn] {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          if (gone_) return;
        }
        ++windowCalls_;
        try {
          fn();
        } catch (...) {
          call->escaped = std::current_exception();
        }
        --windowCalls_;
        std::lock_guard<std::mutex> lock(mutex_);
        call->done = true;
        changed_.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return call->done || gone_; });
  if (!call->done) throw WindowGone();
  if (call->escaped) std::rethrow_exception(call->escaped);
}

void ExchangeThread::post(std::function<void()> fn) {
  QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

}  // namespace ku::ui
