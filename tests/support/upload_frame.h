// The bytes of one upload pass, worked out from the slot table alone, for tests
// that compare what reached the unit.
#pragma once

#include <array>
#include <string>

#include "model/slot_table.h"

namespace ku::test {

using UploadValues = std::array<int, kValueSlots>;

// Each slot's command byte, then its value (0..32767 for the 16-bit slots,
// 0..255 for the others) as one byte or as high and low byte.
inline std::string uploadOf(const UploadValues& v) {
  std::string s;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    s += static_cast<char>(slotInfo(slot).commandByte);
    if (slot >= kValueSlots) continue;
    const int x = v[static_cast<std::size_t>(slot)];
    if (isWideSlot(slot)) s += static_cast<char>(x >> 8);
    s += static_cast<char>(x & 0xFF);
  }
  return s;
}

}  // namespace ku::test
