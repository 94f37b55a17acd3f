// The blocking wait that paces every exchange with the unit (pauseHundredths:
// n x 10 ms); tests swap in a fake that records the waits instead.
#pragma once

#include <cstdint>
#include <functional>

namespace ku {

class Sleeper {
 public:
  virtual ~Sleeper() = default;
  // Blocks for at least ms milliseconds; never returns early.
  virtual void sleepMs(int ms) = 0;
};

// Deadline-based wait on a monotonic clock. While it waits it may call a hook
// (the window uses it to repaint); the hook must not take user input, and the
// wait never ends before its deadline whatever the hook does.
class RealSleeper : public Sleeper {
 public:
  RealSleeper() = default;
  explicit RealSleeper(std::function<void()> idleHook) : idle_(std::move(idleHook)) {}
  void setIdleHook(std::function<void()> hook) { idle_ = std::move(hook); }
  void sleepMs(int ms) override;

 private:
  std::function<void()> idle_;
};

// Blocks for n x 10 ms, computed in signed 16-bit arithmetic: n over 3276
// overflows and throws code 6 without waiting.
void pauseHundredths(Sleeper& sleeper, std::int16_t n);

}  // namespace ku
