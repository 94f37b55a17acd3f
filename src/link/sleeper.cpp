#include "link/sleeper.h"

#include <algorithm>
#include <chrono>
#include <ctime>

#include "model/errors.h"

namespace ku {

void RealSleeper::sleepMs(int ms) {
  sleepMsUnless(ms, {});
}

bool RealSleeper::sleepMsUnless(int ms, const std::function<bool()>& stopDue) {
  using Clock = std::chrono::steady_clock;
  const auto due = [&] { return stopDue && stopDue(); };
  if (ms <= 0) return !due();
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
  // A signal ends the sleep early (EINTR): the loop then looks at the stop and
  // sleeps on to the deadline.
  for (;;) {
    if (due()) return false;
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return true;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now).count();
    timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    ::nanosleep(&ts, nullptr);
  }
}

int hundredthsToMs(std::int16_t n) {
  // n x 10 in 16-bit arithmetic: outside -32768..32767 it overflows before any wait.
  const int product = static_cast<int>(n) * 10;
  if (product > 32767 || product < -32768) throw KuError(kOverflow, "Overflow");
  return product;
}

void pauseHundredths(Sleeper& sleeper, std::int16_t n) {
  const int ms = hundredthsToMs(n);
  if (ms > 0) sleeper.sleepMs(ms);
}

int millisecondsUntil(const Sleeper& sleeper, MonotonicClock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - sleeper.now()).count();
  if (left <= 0) return 0;
  return static_cast<int>(std::min<std::chrono::milliseconds::rep>(left, 1 << 30));
}

}  // namespace ku
