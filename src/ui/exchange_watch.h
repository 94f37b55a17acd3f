// Watchers the main window puts around its port and its pauses, so that its
// status bar can follow an exchange: bytes sent, and the pauses as they start
// and end. They pass every call on unchanged.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "link/serial_port.h"
#include "link/sleeper.h"

namespace ku::ui {

class WatchedPort : public ForwardingSerialPort {
 public:
  WatchedPort(std::unique_ptr<SerialPort> inner, std::function<void(std::size_t)> onSent)
      : ForwardingSerialPort(*inner), inner_(std::move(inner)), onSent_(std::move(onSent)) {}

  void write(const std::string& bytes) override {
    inner_->write(bytes);  // counted only once sent
    if (onSent_) onSent_(bytes.size());
  }

 private:
  std::unique_ptr<SerialPort> inner_;
  std::function<void(std::size_t)> onSent_;
};

class WatchedSleeper : public Sleeper {
 public:
  WatchedSleeper(Sleeper& inner, std::function<void(int)> onStart, std::function<void(int)> onEnd)
      : inner_(inner), onStart_(std::move(onStart)), onEnd_(std::move(onEnd)) {}
  void sleepMs(int ms) override {
    if (onStart_) onStart_(ms);
    inner_.sleepMs(ms);
    if (onEnd_) onEnd_(ms);
  }
  bool sleepMsUnless(int ms, const std::function<bool()>& stopDue) override {
    if (onStart_) onStart_(ms);
    const bool slept = inner_.sleepMsUnless(ms, stopDue);
    if (onEnd_) onEnd_(ms);
    return slept;
  }
  MonotonicClock::time_point now() const override { return inner_.now(); }

 private:
  Sleeper& inner_;
  std::function<void(int)> onStart_, onEnd_;
};

}  // namespace ku::ui
