// The parameter table: one row per slot 0..33 with everything that is fixed about
// it (command byte, row texts, default, entry limit, how its value travels on the
// line and where it sits in the unit's 38-byte record, and the fixed texts of its
// reference and description cells), the constants of the reference conversions,
// and the per-slot value arrays. The upload frame, the record decoder, ku-sim's
// record and the window's fixed texts all read this one table.
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

// Constants of the reference conversions.
constexpr double kPiTenDigits = 3.141592654;           // the ten-digit value, not full pi
constexpr std::int32_t kFrequencyBaseKHz = 80000;      // clock counts to kHz
constexpr std::int32_t kTimeBaseKHz = 12288;           // clock counts to ms
constexpr std::int32_t kResistanceBaseOhms = 8000000;  // integration constants to ohms

// How a value travels: not at all, as one byte, or as a pair of bytes in an order.
enum class ValueForm : std::uint8_t { None, Byte, HighFirst, LowFirst };

// The window's fixed texts of a row: the reference cell (where it never changes),
// the reference unit, and the name and unit of the description figure.
struct FixedTexts {
  const char* reference;
  const char* referenceUnit;
  const char* descriptionName;
  const char* descriptionUnit;
};

// Fixed facts of one slot.
struct SlotInfo {
  std::uint8_t commandByte;     // below 128, one byte on the line
  const char* rowLabel;         // nullptr for slots 32, 33 (no row)
  const char* tooltip;          // nullptr for slots 32, 33
  std::int16_t builtInDefault;  // slots 0..29; -1 where there is none
  bool takesEntry;              // whether the operator can type into the slot's box
  int entryLimit;               // highest value the slot's box accepts (from 0)
  ValueForm upload;             // the value bytes that follow the command byte on upload
  int recordPosition;           // first character in the record, from 1; 0: not in it
  ValueForm record;             // its form in the record
  FixedTexts texts;
};

namespace detail {
constexpr FixedTexts kNoTexts{"", "", "", ""};
constexpr FixedTexts kNotApplicable{"N/A", "", "", ""};
constexpr FixedTexts unit(const char* referenceUnit) {
  return {"", referenceUnit, "", ""};
}
constexpr FixedTexts described(const char* referenceUnit, const char* name,
                               const char* descriptionUnit) {
  return {"", referenceUnit, name, descriptionUnit};
}
constexpr ValueForm kByte = ValueForm::Byte;
constexpr ValueForm kHigh = ValueForm::HighFirst;
constexpr ValueForm kLow = ValueForm::LowFirst;
constexpr ValueForm kNone = ValueForm::None;
}  // namespace detail

// clang-format off
inline constexpr std::array<SlotInfo, kSlotCount> kSlotTable = {{
    // byte, label, tooltip, default, entry, limit, upload, record position and form, texts
    {0x72, "Channel No.(1-4)", "Channel No (No need to enter)", 0, false, 255, detail::kByte, 1, detail::kByte, detail::kNotApplicable},
    {0x74, "Frequency Flag", "Frequency Flag(Either 0 or 1)", 0, true, 255, detail::kByte, 2, detail::kByte, detail::kNoTexts},
    {0x76, "Calibration Flag", "Calibration Flag(Either 0 or 1)", 0, true, 255, detail::kByte, 3, detail::kByte, detail::kNoTexts},
    {0x40, "RFCONT Byte", "RF control Byte", 2, true, 255, detail::kByte, 4, detail::kByte, detail::described("Band", "Test Signal", "")},
    {0x41, "Test Frequency", "Test Frequency", 799, true, 32000, detail::kHigh, 5, detail::kHigh, detail::unit("kHz")},
    {0x42, "Local Osc Frequency", "Local Osc Frequency", 614, true, 32000, detail::kHigh, 7, detail::kHigh, detail::described("kHz", "IF Frequency", "kHz")},
    {0x43, "CONFIG Byte", "Control Config Byte", 10, true, 255, detail::kByte, 9, detail::kByte, detail::described("Slope", "NB Toggles", "")},
    {0x44, "TVG Clock", "TVG clock", 14, true, 255, detail::kByte, 10, detail::kByte, detail::described("ms", "NB Enab/Disb", "")},
    {0x45, "Ramp Start", "Ramp Start", 205, true, 255, detail::kByte, 11, detail::kByte, detail::unit("Volt")},
    {0x46, "Ramp Clock", "Ramp Clock", 18, true, 255, detail::kByte, 12, detail::kByte, detail::unit("Volt")},
    {0x47, "Depth Clock", "Depth Clock", 19, true, 255, detail::kByte, 13, detail::kByte, detail::unit("kHz")},
    {0x48, "Blanking", "Blanking", 14, true, 255, detail::kByte, 14, detail::kByte, detail::unit("ms")},
    {0x50, "Jam Prescale", "Jam Prescale", 63, true, 255, detail::kByte, 15, detail::kByte, {"NA", "", "", ""}},
    {0x51, "PHI-1 Clock", "PHI-1 Clock", 24, true, 255, detail::kByte, 16, detail::kByte, detail::described("kHz", "PHI-2 Angle", "Deg")},
    {0x52, "PHI-2 Clock", "PHI-2 Clock", 95, true, 255, detail::kByte, 17, detail::kByte, detail::described("kHz", "PHI-1 Angle", "Deg")},
    {0x53, "E2PHI-1 Clock", "E2PHI-1 Clock", 59, true, 255, detail::kByte, 18, detail::kByte, detail::described("kHz", "Min Depth", "m")},
    {0x54, "E2PHI-2 Clock", "E2PHI-2 Clock", 48, true, 255, detail::kByte, 19, detail::kByte, detail::described("kHz", "Max Depth", "m")},
    {0x55, "Ref Clock", "Ref Clock", 62, true, 255, detail::kByte, 20, detail::kByte, detail::unit("kHz")},
    {0x60, "E/S Gain", "Echo Sounder Gain", 0, true, 255, detail::kByte, 21, detail::kByte, detail::unit("%")},
    {0x61, "Gimble Gain", "Gimble Gain", 36, true, 255, detail::kByte, 22, detail::kByte, detail::unit("%")},
    {0x62, "RF Gain", "RF Gain", 64, true, 255, detail::kByte, 23, detail::kByte, detail::described("%", "VR1 Resistor", "kohm")},
    {0x63, "RF1 Q Pot", "RF1 Q pot", 0, true, 255, detail::kByte, 24, detail::kByte, detail::kNotApplicable},
    {0x64, "RF1 Tune 1 Pot", "RF1 Tune1 Pot", 100, true, 255, detail::kByte, 25, detail::kByte, detail::kNotApplicable},
    {0x65, "RF1 Tune 2 Pot", "RF1 Tune 2 Pot", 100, true, 255, detail::kByte, 26, detail::kByte, detail::kNotApplicable},
    {0x66, "RF2 Q Pot", "RF2 Q Pot", 0, true, 255, detail::kByte, 27, detail::kByte, detail::kNotApplicable},
    {0x67, "RF2 Tune1 Pot", "RF2 Tune1 Pot", 100, true, 255, detail::kByte, 28, detail::kByte, detail::kNotApplicable},
    {0x68, "RF2 Tune 2 Pot", "RF2 Tune2  Pot", 100, true, 255, detail::kByte, 29, detail::kByte, detail::kNotApplicable},
    {0x27, "E1 Int Constant", "E1 Integration Constant", 267, true, 32000, detail::kHigh, 30, detail::kHigh, detail::unit("kohm")},
    {0x28, "E2 Int Constant", "E2 Integration Constant", 267, true, 32000, detail::kHigh, 32, detail::kHigh, detail::unit("kohm")},
    {0x29, "Tx Int Const", "Tx Integration Constant", 0, true, 32000, detail::kHigh, 34, detail::kHigh, detail::kNoTexts},
    {0x4F, "Tx Pulse Integral", "Tx Pulse Integral", -1, false, 255, detail::kNone, 36, detail::kLow, detail::kNoTexts},
    {0x5F, "Tolvek String", "Tolvek String (No need to change)", -1, false, 255, detail::kNone, 38, detail::kByte, detail::kNoTexts},
    {0x0B, nullptr, nullptr, -1, false, 255, detail::kNone, 0, detail::kNone, detail::kNoTexts},
    {0x70, nullptr, nullptr, -1, false, 255, detail::kNone, 0, detail::kNone, detail::kNoTexts},
}};
// clang-format on

// The row below the slots: the echo sounder's minimum pulse width, typed in ms.
inline constexpr const char* kPulseWidthLabel = "E/S Min Pulse width";
inline constexpr FixedTexts kPulseWidthTexts{"", "milli sec", "", ""};
constexpr int kPulseWidthRow = kRowSlots;
// The window's rows: one per slot 0..31, then the pulse-width row.
constexpr int kWindowRows = kPulseWidthRow + 1;

// The table's row of a slot 0..33; throws std::out_of_range outside.
const SlotInfo& slotInfo(int slot);

// Small readings of the table.
// A value of two bytes on upload (slots 4, 5, 27, 28, 29).
inline bool isWideSlot(int slot) {
  return slotInfo(slot).upload == ValueForm::HighFirst;
}
inline int entryLimit(int slot) {
  return slotInfo(slot).entryLimit;
}
inline bool isEnterable(int slot) {
  return slotInfo(slot).takesEntry;
}
// Bytes that a form takes on the line.
constexpr int byteCount(ValueForm f) {
  return f == ValueForm::None ? 0 : f == ValueForm::Byte ? 1 : 2;
}
// The fixed texts of rows 0..31 and of the pulse-width row 32.
const FixedTexts& fixedTexts(int row);

// A working value: empty until first read back or entered.
using SlotValue = std::optional<std::int16_t>;
using SlotValueArray = std::array<SlotValue, 36>;
// The unit's values as last read back; a slot the unit never reported holds nothing.
using ReadBackArray = std::array<SlotValue, 36>;

// The integer value of a working value: empty counts as 0.
inline std::int16_t valueOf(const SlotValue& v) {
  return v.value_or(0);
}

}  // namespace ku
