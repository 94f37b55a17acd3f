// Error codes of the unit link and the step-by-step "last error" discipline
// (ErrorTrail): an operation goes on after a failed step and decides on the last
// code. UnitLink keeps one per exchange; UnitController carries the read-back's
// on through its display steps.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace ku {

// Codes recorded and tested by the link's operations; the others only replace an
// earlier code (or end a refresh) and carry a text for the operator and kuctl.
enum ErrorCode : int {
  kNoError = 0,
  kInvalidArgument = 5,  // position past the end of a reply; byte value outside 0..255
  kOverflow = 6,  // 16-bit overflow: Pause over 3276, a pair's high byte >= 128, port > 32767
  kDivisionByZero = 11,    // a refresh divides by zero
  kTypeMismatch = 13,      // text that is not a number
  kFileNotFound = 53,      // comms.ini does not exist
  kInvalidUseOfNull = 94,  // a Null database value shown as text
  kInputPastEnd = 62,      // comms.ini ends inside a pair
  kDeviceIo = 57,          // a read or write on the port failed
  kPortNotOpen = 8018,     // the port is not open (writes and reads fail)
  kInvalidPortNumber = 8002,
  kPortAlreadyOpen = 8005,
  // Reference-database failures, numbered as the Access engine numbers them.
  kDbFileNotFound = 3024,
  kDbNotValidPassword = 3031,
  kDbTableNotFound = 3078,
  kDbItemNotFound = 3265,
  kDbTypeMismatch = 3464,
  kDbUnrecognised = 3343,  // not a database file the engine can read
};

// A failing step: its code and a readable reason.
class KuError : public std::runtime_error {
 public:
  KuError(int code, std::string what) : std::runtime_error(std::move(what)), code_(code) {}
  int code() const noexcept { return code_; }

 private:
  int code_;
};

// The last-error discipline: a failing step records its code, replacing any
// earlier one, and the next step runs anyway. Decisions test last() only.
class ErrorTrail {
 public:
  template <typename F>
  bool step(F&& f) {
    try {
      std::forward<F>(f)();
      return true;
    } catch (const KuError& e) {
      record(e.code(), e.what());
      return false;
    }
  }
  void record(int code, std::string text = {}) {
    last_ = code;
    text_ = std::move(text);
  }
  int last() const noexcept { return last_; }
  const std::string& lastText() const noexcept { return text_; }

 private:
  int last_ = kNoError;
  std::string text_;
};

}  // namespace ku
