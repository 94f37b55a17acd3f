// The blocking wait that paces every exchange with the unit (pauseHundredths:
// n x 10 ms), and the monotonic clock the link measures its waits against; tests
// swap in a fake that records the waits and keeps virtual time instead.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace ku {

using MonotonicClock = std::chrono::steady_clock;

class Sleeper {
 public:
  virtual ~Sleeper() = default;
  // Blocks for at least ms milliseconds; never returns early.
  virtual void sleepMs(int ms) = 0;
  // The same wait, given up once stopDue() says so: it is looked at when the
  // wait starts, when a signal interrupts it and when it ends. Returns false
  // when a stop was due; otherwise the whole wait has passed.
  virtual bool sleepMsUnless(int ms, const std::function<bool()>& stopDue) {
    if (stopDue()) return false;
    sleepMs(ms);
    return !stopDue();
  }
  // The time on a clock that never goes back; a wait of ms milliseconds moves it
  // on by at least ms.
  virtual MonotonicClock::time_point now() const = 0;
};

// Deadline-based wait on a monotonic clock, on the thread that runs the
// exchange (never the window's).
class RealSleeper : public Sleeper {
 public:
  void sleepMs(int ms) override;
  bool sleepMsUnless(int ms, const std::function<bool()>& stopDue) override;
  MonotonicClock::time_point now() const override { return MonotonicClock::now(); }
};

// n x 10 ms, computed in signed 16-bit arithmetic: n over 3276 overflows and
// throws code 6.
int hundredthsToMs(std::int16_t n);

// Blocks for n x 10 ms, computed in signed 16-bit arithmetic: n over 3276
// overflows and throws code 6 without waiting.
void pauseHundredths(Sleeper& sleeper, std::int16_t n);

// Whole milliseconds from now until deadline, rounded up; 0 once it has passed.
int millisecondsUntil(const Sleeper& sleeper, MonotonicClock::time_point deadline);

}  // namespace ku
