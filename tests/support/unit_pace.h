// Whether the simulated unit took an upload pass in time: it gives a command up
// when its value byte comes more than 30 ms after the byte before it, so what it
// holds follows the pass only when every value byte came sooner.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

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

}  // namespace ku::test
