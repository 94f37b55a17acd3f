#include "model/slot_table.h"

#include <stdexcept>

namespace ku {

const SlotInfo& slotInfo(int slot) {
  if (slot < 0 || slot >= kSlotCount) throw std::out_of_range("slot out of range");
  return kSlotTable[static_cast<std::size_t>(slot)];
}

const FixedTexts& fixedTexts(int row) {
  if (row == kPulseWidthRow) return kPulseWidthTexts;
  if (row < 0 || row >= kRowSlots) throw std::out_of_range("row out of range");
  return kSlotTable[static_cast<std::size_t>(row)].texts;
}

}  // namespace ku
