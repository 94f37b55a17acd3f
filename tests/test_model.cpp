// The parameter table against the unit's documented facts, written out here row
// by row, and the constants of the reference conversions.
#include <gtest/gtest.h>

#include <string>

#include "model/slot_table.h"

namespace ku {
namespace {

struct Row {
  int commandByte;
  const char* label;
  const char* tooltip;
  int builtInDefault;
  bool entry;
  int limit;
  int uploadBytes;
  int position;          // first character in the record, 0: not in it
  const char* form;      // in the record: "byte", "high-first", "low-first", ""
  const char* fixed[4];  // reference, its unit, description name, its unit
};

// clang-format off
const Row kExpected[34] = {
    {0x72, "Channel No.(1-4)", "Channel No (No need to enter)", 0, false, 255, 1, 1, "byte", {"N/A", "", "", ""}},
    {0x74, "Frequency Flag", "Frequency Flag(Either 0 or 1)", 0, true, 255, 1, 2, "byte", {"", "", "", ""}},
    {0x76, "Calibration Flag", "Calibration Flag(Either 0 or 1)", 0, true, 255, 1, 3, "byte", {"", "", "", ""}},
    {0x40, "RFCONT Byte", "RF control Byte", 2, true, 255, 1, 4, "byte", {"", "Band", "Test Signal", ""}},
    {0x41, "Test Frequency", "Test Frequency", 799, true, 32000, 2, 5, "high-first", {"", "kHz", "", ""}},
    {0x42, "Local Osc Frequency", "Local Osc Frequency", 614, true, 32000, 2, 7, "high-first", {"", "kHz", "IF Frequency", "kHz"}},
    {0x43, "CONFIG Byte", "Control Config Byte", 10, true, 255, 1, 9, "byte", {"", "Slope", "NB Toggles", ""}},
    {0x44, "TVG Clock", "TVG clock", 14, true, 255, 1, 10, "byte", {"", "ms", "NB Enab/Disb", ""}},
    {0x45, "Ramp Start", "Ramp Start", 205, true, 255, 1, 11, "byte", {"", "Volt", "", ""}},
    {0x46, "Ramp Clock", "Ramp Clock", 18, true, 255, 1, 12, "byte", {"", "Volt", "", ""}},
    {0x47, "Depth Clock", "Depth Clock", 19, true, 255, 1, 13, "byte", {"", "kHz", "", ""}},
    {0x48, "Blanking", "Blanking", 14, true, 255, 1, 14, "byte", {"", "ms", "", ""}},
    {0x50, "Jam Prescale", "Jam Prescale", 63, true, 255, 1, 15, "byte", {"NA", "", "", ""}},
    {0x51, "PHI-1 Clock", "PHI-1 Clock", 24, true, 255, 1, 16, "byte", {"", "kHz", "PHI-2 Angle", "Deg"}},
    {0x52, "PHI-2 Clock", "PHI-2 Clock", 95, true, 255, 1, 17, "byte", {"", "kHz", "PHI-1 Angle", "Deg"}},
    {0x53, "E2PHI-1 Clock", "E2PHI-1 Clock", 59, true, 255, 1, 18, "byte", {"", "kHz", "Min Depth", "m"}},
    {0x54, "E2PHI-2 Clock", "E2PHI-2 Clock", 48, true, 255, 1, 19, "byte", {"", "kHz", "Max Depth", "m"}},
    {0x55, "Ref Clock", "Ref Clock", 62, true, 255, 1, 20, "byte", {"", "kHz", "", ""}},
    {0x60, "E/S Gain", "Echo Sounder Gain", 0, true, 255, 1, 21, "byte", {"", "%", "", ""}},
    {0x61, "Gimble Gain", "Gimble Gain", 36, true, 255, 1, 22, "byte", {"", "%", "", ""}},
    {0x62, "RF Gain", "RF Gain", 64, true, 255, 1, 23, "byte", {"", "%", "VR1 Resistor", "kohm"}},
    {0x63, "RF1 Q Pot", "RF1 Q pot", 0, true, 255, 1, 24, "byte", {"N/A", "", "", ""}},
    {0x64, "RF1 Tune 1 Pot", "RF1 Tune1 Pot", 100, true, 255, 1, 25, "byte", {"N/A", "", "", ""}},
    {0x65, "RF1 Tune 2 Pot", "RF1 Tune 2 Pot", 100, true, 255, 1, 26, "byte", {"N/A", "", "", ""}},
    {0x66, "RF2 Q Pot", "RF2 Q Pot", 0, true, 255, 1, 27, "byte", {"N/A", "", "", ""}},
    {0x67, "RF2 Tune1 Pot", "RF2 Tune1 Pot", 100, true, 255, 1, 28, "byte", {"N/A", "", "", ""}},
    {0x68, "RF2 Tune 2 Pot", "RF2 Tune2  Pot", 100, true, 255, 1, 29, "byte", {"N/A", "", "", ""}},
    {0x27, "E1 Int Constant", "E1 Integration Constant", 267, true, 32000, 2, 30, "high-first", {"", "kohm", "", ""}},
    {0x28, "E2 Int Constant", "E2 Integration Constant", 267, true, 32000, 2, 32, "high-first", {"", "kohm", "", ""}},
    {0x29, "Tx Int Const", "Tx Integration Constant", 0, true, 32000, 2, 34, "high-first", {"", "", "", ""}},
    {0x4F, "Tx Pulse Integral", "Tx Pulse Integral", -1, false, 255, 0, 36, "low-first", {"", "", "", ""}},
    {0x5F, "Tolvek String", "Tolvek String (No need to change)", -1, false, 255, 0, 38, "byte", {"", "", "", ""}},
    {0x0B, nullptr, nullptr, -1, false, 255, 0, 0, "", {"", "", "", ""}},
    {0x70, nullptr, nullptr, -1, false, 255, 0, 0, "", {"", "", "", ""}},
};
// clang-format on

std::string formName(ValueForm f) {
  switch (f) {
    case ValueForm::Byte:
      return "byte";
    case ValueForm::HighFirst:
      return "high-first";
    case ValueForm::LowFirst:
      return "low-first";
    case ValueForm::None:
      break;
  }
  return "";
}

std::string text(const char* s) {
  return s ? s : "(none)";
}

TEST(SlotTable, EveryRowAsTheUnitDocumentsIt) {
  for (int s = 0; s < kSlotCount; ++s) {
    SCOPED_TRACE("slot " + std::to_string(s));
    const Row& want = kExpected[s];
    const SlotInfo& got = slotInfo(s);
    EXPECT_EQ(got.commandByte, want.commandByte);
    EXPECT_EQ(text(got.rowLabel), text(want.label));
    EXPECT_EQ(text(got.tooltip), text(want.tooltip));
    EXPECT_EQ(got.builtInDefault, want.builtInDefault);
    EXPECT_EQ(isEnterable(s), want.entry);
    EXPECT_EQ(entryLimit(s), want.limit);
    EXPECT_EQ(byteCount(got.upload), want.uploadBytes);
    EXPECT_EQ(isWideSlot(s), want.uploadBytes == 2);
    EXPECT_EQ(got.recordPosition, want.position);
    EXPECT_EQ(formName(got.record), want.form);
    EXPECT_EQ(std::string(got.texts.reference), want.fixed[0]);
    EXPECT_EQ(std::string(got.texts.referenceUnit), want.fixed[1]);
    EXPECT_EQ(std::string(got.texts.descriptionName), want.fixed[2]);
    EXPECT_EQ(std::string(got.texts.descriptionUnit), want.fixed[3]);
  }
  EXPECT_THROW(slotInfo(34), std::out_of_range);
  EXPECT_THROW(slotInfo(-1), std::out_of_range);
}

TEST(SlotTable, CommandBytesAsCharactersAndTheSums) {
  // As characters: r t v, @ A..H, P..U, ` a..h, ' ( ), O _ \x0B p.
  const std::string expected = "rtv@ABCDEFGHPQRSTU`abcdefgh'()O_\x0Bp";
  std::string got;
  int uploadBytes = 0;
  int recordEnd = 0;
  for (int s = 0; s < kSlotCount; ++s) {
    got.push_back(static_cast<char>(slotInfo(s).commandByte));
    uploadBytes += 1 + byteCount(slotInfo(s).upload);
    const SlotInfo& row = slotInfo(s);
    if (row.recordPosition > 0) recordEnd = row.recordPosition + byteCount(row.record) - 1;
  }
  EXPECT_EQ(got, expected);
  EXPECT_EQ(uploadBytes, 69);  // 34 command bytes, 25 single values, 5 pairs
  EXPECT_EQ(recordEnd, 38);
}

TEST(SlotTable, ThePulseWidthRowAndTheConstants) {
  EXPECT_STREQ(kPulseWidthLabel, "E/S Min Pulse width");
  EXPECT_STREQ(fixedTexts(32).referenceUnit, "milli sec");
  EXPECT_STREQ(fixedTexts(32).reference, "");
  EXPECT_STREQ(fixedTexts(12).reference, "NA");
  EXPECT_THROW(fixedTexts(33), std::out_of_range);
  EXPECT_EQ(kPiTenDigits, 3.141592654);
  EXPECT_EQ(kFrequencyBaseKHz, 80000);
  EXPECT_EQ(kTimeBaseKHz, 12288);
  EXPECT_EQ(kResistanceBaseOhms, 8000000);
}

}  // namespace
}  // namespace ku
