#include "model/slot_table.h"

#include <stdexcept>

namespace ku {
namespace {

const std::array<SlotInfo, kSlotCount> kSlots = {{
    {0x72, "Channel No.(1-4)", "Channel No (No need to enter)", 0},
    {0x74, "Frequency Flag", "Frequency Flag(Either 0 or 1)", 0},
    {0x76, "Calibration Flag", "Calibration Flag(Either 0 or 1)", 0},
    {0x40, "RFCONT Byte", "RF control Byte", 2},
    {0x41, "Test Frequency", "Test Frequency", 799},
    {0x42, "Local Osc Frequency", "Local Osc Frequency", 614},
    {0x43, "CONFIG Byte", "Control Config Byte", 10},
    {0x44, "TVG Clock", "TVG clock", 14},
    {0x45, "Ramp Start", "Ramp Start", 205},
    {0x46, "Ramp Clock", "Ramp Clock", 18},
    {0x47, "Depth Clock", "Depth Clock", 19},
    {0x48, "Blanking", "Blanking", 14},
    {0x50, "Jam Prescale", "Jam Prescale", 63},
    {0x51, "PHI-1 Clock", "PHI-1 Clock", 24},
    {0x52, "PHI-2 Clock", "PHI-2 Clock", 95},
    {0x53, "E2PHI-1 Clock", "E2PHI-1 Clock", 59},
    {0x54, "E2PHI-2 Clock", "E2PHI-2 Clock", 48},
    {0x55, "Ref Clock", "Ref Clock", 62},
    {0x60, "E/S Gain", "Echo Sounder Gain", 0},
    {0x61, "Gimble Gain", "Gimble Gain", 36},
    {0x62, "RF Gain", "RF Gain", 64},
    {0x63, "RF1 Q Pot", "RF1 Q pot", 0},
    {0x64, "RF1 Tune 1 Pot", "RF1 Tune1 Pot", 100},
    {0x65, "RF1 Tune 2 Pot", "RF1 Tune 2 Pot", 100},
    {0x66, "RF2 Q Pot", "RF2 Q Pot", 0},
    {0x67, "RF2 Tune1 Pot", "RF2 Tune1 Pot", 100},
    {0x68, "RF2 Tune 2 Pot", "RF2 Tune2  Pot", 100},
    {0x27, "E1 Int Constant", "E1 Integration Constant", 267},
    {0x28, "E2 Int Constant", "E2 Integration Constant", 267},
    {0x29, "Tx Int Const", "Tx Integration Constant", 0},
    {0x4F, "Tx Pulse Integral", "Tx Pulse Integral", -1},
    {0x5F, "Tolvek String", "Tolvek String (No need to change)", -1},
    {0x0B, nullptr, nullptr, -1},
    {0x70, nullptr, nullptr, -1},
}};

}  // namespace

const SlotInfo& slotInfo(int slot) {
  if (slot < 0 || slot >= kSlotCount) throw std::out_of_range("slot out of range");
  return kSlots[static_cast<std::size_t>(slot)];
}

bool isWideSlot(int slot) {
  return slot == 4 || slot == 5 || slot == 27 || slot == 28 || slot == 29;
}

int entryLimit(int slot) {
  return isWideSlot(slot) ? 32000 : 255;
}

bool isEnterable(int slot) {
  return slot >= 1 && slot <= 29;
}

void fillTables(Tables& t) {
  t.Pi = 3.141592654;
  t.FrequencyBase = 80000;
  t.TimeDivisor = 12288;
  t.ResistanceBase = 8000000;
  for (int s = 0; s < kSlotCount; ++s) {
    t.CommandCodes[static_cast<std::size_t>(s)] = static_cast<std::int16_t>(kSlots[s].commandByte);
  }
  for (int s = 0; s < kValueSlots; ++s) {
    t.DefaultValues[static_cast<std::size_t>(s)] =
        static_cast<std::int16_t>(kSlots[s].builtInDefault);
  }
}

}  // namespace ku
