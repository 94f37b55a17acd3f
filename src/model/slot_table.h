// The 34 parameter slots of the unit: command bytes, defaults, widths, row texts,
// and the constants filled beside them at start-up.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace ku {

constexpr int kSlotCount = 34;     // slots 0..33 have a command byte
constexpr int kRowSlots = 32;      // slots 0..31 have a row and a place in the record
constexpr int kValueSlots = 30;    // slots 0..29 carry a value on upload
constexpr int kRecordLength = 38;  // the unit's configuration record
constexpr int kUploadLength = 69;  // bytes of one complete upload pass

// Fixed facts of one slot.
struct SlotInfo {
  int commandByte;       // below 128, one byte on the line
  const char* rowLabel;  // nullptr for slots 32, 33
  const char* tooltip;   // nullptr for slots 32, 33
  int builtInDefault;    // slots 0..29; -1 where there is none
};

// The fixed table, indexed by slot 0..33.
const SlotInfo& slotInfo(int slot);

// 16-bit slots: two bytes on upload, a high-first pair in the record.
bool isWideSlot(int slot);
// Entry limit of a slot's box: 32000 for the 16-bit slots, 255 for all others.
int entryLimit(int slot);
// Whether the operator can type into the slot's box (1..29).
bool isEnterable(int slot);

// A working value: empty until first read back or entered.
using SlotValue = std::optional<std::int16_t>;
using SlotValueArray = std::array<SlotValue, 36>;
using ReadBackArray = std::array<std::int16_t, 36>;

// The integer value of a working value: empty counts as 0.
inline std::int16_t valueOf(const SlotValue& v) {
  return v.value_or(0);
}

// Tables and constants owned by the start-up module for the whole run.
struct Tables {
  double Pi = 0;
  std::int32_t FrequencyBase = 0;
  std::int16_t TimeDivisor = 0;
  std::int32_t ResistanceBase = 0;
  std::array<std::optional<std::int16_t>, 37> CommandCodes{};  // 0..33 filled
  std::array<std::int16_t, 31> DefaultValues{};                // 0..29 filled
};

// The start-up fill, in its fixed order.
void fillTables(Tables& t);

}  // namespace ku
