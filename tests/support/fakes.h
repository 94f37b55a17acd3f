// Test doubles for the boundaries: a scriptable port, a recording sleeper and
// notifier, a reference database with no rows, and an event log that puts them
// on one time line.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/operator_texts.h"
#include "link/serial_port.h"
#include "link/sleeper.h"
#include "model/errors.h"
#include "reference/reference_database.h"

namespace ku::test {

// One timeline of what happened: "out:<hex byte>", "sleep:<ms>", "msg:<text>",
// "open", "close", "in".
struct EventLog {
  std::vector<std::string> events;
  void add(std::string e) { events.push_back(std::move(e)); }
};

// Waits take no real time: each moves a virtual clock on by its length, which
// starts at 0 ms.
class FakeSleeper : public Sleeper {
 public:
  explicit FakeSleeper(EventLog* log = nullptr) : log_(log) {}
  void sleepMs(int ms) override {
    waits.push_back(ms);
    elapsedMs += ms;
    if (log_) log_->add("sleep:" + std::to_string(ms));
    if (onSleep) onSleep(ms);
  }
  MonotonicClock::time_point now() const override {
    return MonotonicClock::time_point{} + std::chrono::milliseconds(elapsedMs);
  }
  // Time that passes outside the program's waits (the operator's, say).
  void advance(int ms) { elapsedMs += ms; }
  std::vector<int> waits;
  long long elapsedMs = 0;  // the virtual clock
  // Called at the end of each wait, the clock already moved on.
  std::function<void(int)> onSleep;

 private:
  EventLog* log_;
};

class RecordingNotifier : public Notifier {
 public:
  explicit RecordingNotifier(EventLog* log = nullptr) : log_(log) {}
  void show(const Message& message) override {
    const std::string text = operatorText(message);
    messages.push_back(text);
    kinds.push_back(message.kind);
    if (log_) log_->add("msg:" + text);
  }
  std::vector<std::string> messages;  // as the operator reads them
  std::vector<MessageKind> kinds;

 private:
  EventLog* log_;
};

// A port whose writes are recorded and whose reads return scripted replies: the
// first read after a write takes the next reply (the unit's answer to what was
// written), later reads before the next write only what has come in meanwhile.
// Every operation can be made to fail with a code: "Open", "Close", "Write", "Read".
class FakeSerialPort : public SerialPort {
 public:
  explicit FakeSerialPort(EventLog* log = nullptr) : log_(log) {}

  // Configuration of the fake.
  std::map<std::string, int> failures;  // operation name -> code it throws
  std::deque<std::string> replies;      // the first readAll() after a write pops one
  std::string arriving;                 // characters come in since the last read
  // Called after each written byte; may queue replies (a scripted unit).
  std::function<void(unsigned char)> onByte;
  int maxPortNumber = 16;  // open() refuses 0 and numbers above this with 8002

  // What happened.
  std::string written;                   // every byte that went out, in order
  int portNumber = 0;                    // the number last opened (0: none, or a device path)
  std::string devicePath;                // the device path last opened
  std::optional<LineSettings> settings;  // the line settings of the last open
  bool portIsOpen = false;               // set it to start with an open port
  int openCalls = 0, closeCalls = 0, readCalls = 0;
  std::vector<std::string> calls;  // operation names in order

  void open(std::int16_t number, const LineSettings& s) override {
    hit("Open");
    if (number < 1 || number > maxPortNumber) throw KuError(8002, "invalid port number");
    markOpened(s);
    portNumber = number;
  }
  void openDevice(const std::string& path, const LineSettings& s) override {
    hit("Open");
    markOpened(s);
    devicePath = path;
  }
  void close() override {
    hit("Close");
    ++closeCalls;
    portIsOpen = false;
    if (log_) log_->add("close");
  }
  bool isOpen() const override { return portIsOpen; }
  void write(const std::string& bytes) override {
    hit("Write");
    if (!portIsOpen) throw KuError(8018, "port not open");
    for (unsigned char c : bytes) {
      answerPending_ = true;
      written.push_back(static_cast<char>(c));
      if (log_) log_->add("out:" + hex(c));
      if (onByte) onByte(c);
    }
  }
  std::string readAll() override {
    hit("Read");
    ++readCalls;
    if (!portIsOpen) throw KuError(8018, "port not open");
    if (log_) log_->add("in");
    std::string r;
    if (answerPending_ && !replies.empty()) {
      r = replies.front();
      replies.pop_front();
    }
    answerPending_ = false;
    r += arriving;
    arriving.clear();
    return r;
  }

  static std::string hex(unsigned char c) {
    static const char* d = "0123456789ABCDEF";
    return std::string{d[c >> 4], d[c & 15]};
  }

 private:
  void hit(const std::string& op) {
    for (const auto& f : failures) {
      if (f.first != "Open" && f.first != "Close" && f.first != "Write" && f.first != "Read")
        throw std::logic_error("FakeSerialPort has no operation " + f.first);
    }
    calls.push_back(op);
    auto it = failures.find(op);
    if (it != failures.end()) throw KuError(it->second, op + " failed");
  }
  void markOpened(const LineSettings& s) {
    ++openCalls;
    portIsOpen = true;
    settings = s;
    if (log_) log_->add("open");
  }
  EventLog* log_;
  bool answerPending_ = true;
};

// A reference database whose every query finds no row: a refresh runs to its end
// and leaves the looked-up cells empty. Each open is logged as "lookup".
class EmptyDatabaseOpener : public ReferenceDatabaseOpener {
 public:
  explicit EmptyDatabaseOpener(EventLog* log = nullptr) : log_(log) {}
  std::unique_ptr<ReferenceDatabase> open(const std::string&, const std::string&) override {
    ++opens;
    if (log_) log_->add("lookup");
    return std::make_unique<Empty>();
  }
  int opens = 0;

 private:
  class Empty : public ReferenceDatabase {
   public:
    void query(const std::string&) override {}
    bool atEnd() const override { return true; }
    DbValue field(const std::string&) const override { return {}; }
    void moveNext() override {}
    void close() override {}
  };
  EventLog* log_;
};

}  // namespace ku::test
