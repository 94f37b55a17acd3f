// The simulated unit's log against the program's pacing: whether the unit took
// an upload pass in time (it gives a command up when its value byte comes more
// than 30 ms after the byte before it, so what it holds follows the pass only
// when every value byte came sooner), and whether a gap the log shows short was
// short at the sender or only stamped late.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "expected.h"

namespace ku::test {

constexpr std::int64_t kUnitValueWaitMicros = 30000;

// The longest time, as the unit logged it, between a value byte of the pass that
// starts at log position from and the byte before it. log is a sequence of
// entries with a micros member (the unit's arrival times).
template <typename Log>
std::int64_t longestValueWait(const Log& log, std::size_t from) {
  std::int64_t wait = 0;
  std::size_t k = from;
  for (int s = 0; s < 30 && k < log.size(); ++s) {
    const std::size_t n = isPairSlot(s) ? 2 : 1;
    for (std::size_t j = 1; j <= n && k + j < log.size(); ++j)
      wait = std::max(wait, log[k + j].micros - log[k + j - 1].micros);
    k += 1 + n;
  }
  return wait;
}

// The unit stamps a byte when its thread reads it. A byte read late (its thread
// or the terminal waited for a processor) makes the gap before it longer and the
// gap after it shorter by as much, and bytes read together share one stamp. So a
// gap that looks short counts as what was sent when the span from one of the few
// bytes before it is at least the pauses of that span; only a pause missing at
// the sender leaves every such span short. A millisecond is left for the timer.
// The log's first byte has nothing before it to show that it was stamped late,
// so a span from it is allowed 5 ms of such lateness.
inline constexpr std::size_t kLookBack = 5;
inline constexpr std::int64_t kTimerMicros = 1000;
inline constexpr std::int64_t kFirstStampMicros = 5000;

// Where the gap after byte i (pause pauses[i] ms) is short beyond any late stamp:
// "" when it is not.
// log is a sequence of entries with a micros member (the unit's arrival times).
template <typename Log>
std::string shortGap(const Log& log, const std::vector<int>& pauses, std::size_t i) {
  std::int64_t planned = 0;
  std::string spans;
  for (std::size_t back = 0; back < kLookBack && back <= i; ++back) {
    planned += pauses[i - back] * 1000LL;
    const std::int64_t span = log[i + 1].micros - log[i - back].micros;
    const std::int64_t allowed = kTimerMicros + (i - back == 0 ? kFirstStampMicros : 0);
    if (span + allowed >= planned) return {};
    spans += " " + std::to_string(span) + "/" + std::to_string(planned);
  }
  return "after byte " + std::to_string(i) + ", spans (us) against their pauses:" + spans;
}

}  // namespace ku::test
