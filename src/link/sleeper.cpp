#include "link/sleeper.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "model/errors.h"

namespace ku {

void RealSleeper::sleepMs(int ms) {
  using Clock = std::chrono::steady_clock;
  if (ms <= 0) return;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
  // While a hook is set, call it between short slices so the window can repaint;
  // the slices never reach past the deadline.
  constexpr auto kSlice = std::chrono::milliseconds(5);
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return;
    if (idle_) {
      idle_();
      const Clock::time_point afterHook = Clock::now();
      if (afterHook >= deadline) return;
      std::this_thread::sleep_for(std::min<Clock::duration>(kSlice, deadline - afterHook));
    } else {
      std::this_thread::sleep_until(deadline);
    }
  }
}

void pauseHundredths(Sleeper& sleeper, std::int16_t n) {
  // n x 10 in 16-bit arithmetic: outside -32768..32767 it overflows before any wait.
  const int product = static_cast<int>(n) * 10;
  if (product > 32767 || product < -32768) throw KuError(kOverflow, "Overflow");
  if (product > 0) sleeper.sleepMs(product);
}

int millisecondsUntil(const Sleeper& sleeper, MonotonicClock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - sleeper.now()).count();
  if (left <= 0) return 0;
  return static_cast<int>(std::min<std::chrono::milliseconds::rep>(left, 1 << 30));
}

}  // namespace ku
