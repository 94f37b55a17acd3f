// A request to stop, made by a signal handler (SIGINT, SIGTERM, SIGHUP) and
// looked at by the unit link between bytes and while it waits. Setting it is
// async-signal-safe: a few lock-free atomics and nothing else.
//
// What a stop does depends on where the link is: outside an upload it ends the
// exchange at once (StopRequested is thrown); once an upload's first byte is
// out, the pass goes on to its end and only the read-back after it is skipped;
// a second SIGINT during the pass ends it at the next slot boundary, never
// between a command byte and its value.
#pragma once

#include <atomic>
#include <csignal>
#include <exception>
#include <string>

namespace ku {

class StopRequest {
 public:
  // From a signal handler: remembers the signal (the first one wins for the
  // exit status) and counts SIGINTs.
  void request(int signal) noexcept;
  bool pending() const noexcept { return signal_.load() != 0; }
  // The first signal asked for, 0 when none.
  int signal() const noexcept { return signal_.load(); }
  int interruptCount() const noexcept { return interrupts_.load(); }
  // Whether the running upload pass must end at its next slot boundary.
  bool passMustEnd() const noexcept { return interrupts_.load() >= 2; }
  void clear() noexcept;

 private:
  static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");
  std::atomic<int> signal_{0};
  std::atomic<int> interrupts_{0};
};

// The one the process's signal handlers set.
StopRequest& processStopRequest();

// Installs handlers for SIGINT, SIGTERM and SIGHUP that set processStopRequest()
// and then call wake(signal) (also from the handler: it must be async-signal-
// safe, a write to a pipe, say; may be null). No SA_RESTART: a blocking call
// returns with EINTR so that a wait can look at the request.
void installStopHandlers(void (*wake)(int signal) = nullptr);

// Thrown by the link when a stop ends an exchange. Deliberately not a KuError:
// the last-error trail of an exchange must not take it for a failed step.
class StopRequested : public std::exception {
 public:
  // uploadBytesSent > 0: an upload pass went out (whole, or to a slot boundary
  // after a second SIGINT) and the read-back after it was skipped.
  StopRequested(int signal, int uploadBytesSent, int uploadBytesTotal)
      : signal_(signal), sent_(uploadBytesSent), total_(uploadBytesTotal) {}
  const char* what() const noexcept override { return "stopped by a signal"; }
  int signal() const { return signal_; }
  int uploadBytesSent() const { return sent_; }
  int uploadBytesTotal() const { return total_; }

 private:
  int signal_;
  int sent_;
  int total_;
};

// "SIGINT", "SIGTERM", "SIGHUP", else "signal N".
std::string signalName(int signal);

}  // namespace ku
