// Test doubles for the link's boundaries: a scriptable port, a recording sleeper
// and notifier, and an event log that puts them on one time line.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "link/notifier.h"
#include "link/serial_port.h"
#include "link/sleeper.h"
#include "model/errors.h"

namespace ku::test {

// One timeline of what happened: "out:<hex byte>", "sleep:<ms>", "msg:<text>",
// "open", "close", "in".
struct EventLog {
  std::vector<std::string> events;
  void add(std::string e) { events.push_back(std::move(e)); }
};

class FakeSleeper : public Sleeper {
 public:
  explicit FakeSleeper(EventLog* log = nullptr) : log_(log) {}
  void sleepMs(int ms) override {
    waits.push_back(ms);
    if (log_) log_->add("sleep:" + std::to_string(ms));
    if (onSleep) onSleep(ms);
  }
  std::vector<int> waits;
  std::function<void(int)> onSleep;

 private:
  EventLog* log_;
};

class RecordingNotifier : public Notifier {
 public:
  explicit RecordingNotifier(EventLog* log = nullptr) : log_(log) {}
  void show(const std::string& text) override {
    messages.push_back(text);
    if (log_) log_->add("msg:" + text);
  }
  std::vector<std::string> messages;

 private:
  EventLog* log_;
};

// A port whose writes are recorded and whose reads return scripted replies.
// Every operation can be made to fail with a code.
class FakeSerialPort : public SerialPort {
 public:
  explicit FakeSerialPort(EventLog* log = nullptr) : log_(log) {}

  // Configuration of the fake.
  std::map<std::string, int> failures;  // operation name -> code it throws
  std::deque<std::string> replies;      // each input() pops one ("" when none left)
  // Called after each written byte; may queue replies (a scripted unit).
  std::function<void(unsigned char)> onByte;
  int maxPortNumber = 16;  // setCommPort rejects 0 and above this with 8002

  // What happened.
  std::string written;  // every byte that went out, in order
  int commPort = 1;
  std::int32_t handshaking = -1;
  std::int16_t inputLen = -1, rThreshold = -1, sThreshold = -1;
  bool rts = false;
  std::string settings;
  bool open = false;
  int openCalls = 0, closeCalls = 0, inputCalls = 0;
  std::vector<std::string> calls;  // operation names in order

  void setCommPort(std::int16_t number) override {
    hit("CommPort");
    if (number < 1 || number > maxPortNumber) throw KuError(8002, "invalid port number");
    commPort = number;
  }
  void setHandshaking(std::int32_t mode) override {
    hit("Handshaking");
    handshaking = mode;
  }
  void setInputLen(std::int16_t len) override {
    hit("InputLen");
    inputLen = len;
  }
  void setRThreshold(std::int16_t n) override {
    hit("RThreshold");
    rThreshold = n;
  }
  void setRTSEnable(bool on) override {
    hit("RTSEnable");
    rts = on;
  }
  void setSettings(const std::string& s) override {
    hit("Settings");
    settings = s;
  }
  void setSThreshold(std::int16_t n) override {
    hit("SThreshold");
    sThreshold = n;
  }
  bool portOpen() const override { return open; }
  void setPortOpen(bool o) override {
    hit(o ? "Open" : "Close");
    if (o) {
      ++openCalls;
      open = true;
      if (log_) log_->add("open");
    } else {
      ++closeCalls;
      open = false;
      if (log_) log_->add("close");
    }
  }
  void output(const std::string& bytes) override {
    hit("Output");
    if (!open) throw KuError(8018, "port not open");
    for (unsigned char c : bytes) {
      written.push_back(static_cast<char>(c));
      if (log_) log_->add("out:" + hex(c));
      if (onByte) onByte(c);
    }
  }
  std::string input() override {
    hit("Input");
    ++inputCalls;
    if (!open) throw KuError(8018, "port not open");
    if (log_) log_->add("in");
    if (replies.empty()) return {};
    std::string r = replies.front();
    replies.pop_front();
    return r;
  }

  static std::string hex(unsigned char c) {
    static const char* d = "0123456789ABCDEF";
    return std::string{d[c >> 4], d[c & 15]};
  }

 private:
  void hit(const std::string& op) {
    calls.push_back(op);
    auto it = failures.find(op);
    if (it != failures.end()) throw KuError(it->second, op + " failed");
  }
  EventLog* log_;
};

}  // namespace ku::test
