// The parameter table against the unit's documented facts, written out by hand
// (here, and in expected.h for the texts, defaults and command bytes), and the
// constants of the reference conversions.
#include <gtest/gtest.h>

#include <string>

#include "expected.h"
#include "model/slot_table.h"

namespace ku {
namespace {

// What the row labels, tooltips, defaults and command bytes leave out; those
// are compared with expected.h.
struct Row {
  bool entry;
  int limit;
  int uploadBytes;
  int position;          // first character in the record, 0: not in it
  const char* form;      // in the record: "byte", "high-first", "low-first", ""
  const char* fixed[4];  // reference, its unit, description name, its unit
};

// clang-format off
const Row kExpected[34] = {
    {false, 255, 1, 1, "byte", {"N/A", "", "", ""}},  // 0
    {true, 255, 1, 2, "byte", {"", "", "", ""}},  // 1
    {true, 255, 1, 3, "byte", {"", "", "", ""}},  // 2
    {true, 255, 1, 4, "byte", {"", "Band", "Test Signal", ""}},  // 3
    {true, 32000, 2, 5, "high-first", {"", "kHz", "", ""}},  // 4
    {true, 32000, 2, 7, "high-first", {"", "kHz", "IF Frequency", "kHz"}},  // 5
    {true, 255, 1, 9, "byte", {"", "Slope", "NB Toggles", ""}},  // 6
    {true, 255, 1, 10, "byte", {"", "ms", "NB Enab/Disb", ""}},  // 7
    {true, 255, 1, 11, "byte", {"", "Volt", "", ""}},  // 8
    {true, 255, 1, 12, "byte", {"", "Volt", "", ""}},  // 9
    {true, 255, 1, 13, "byte", {"", "kHz", "", ""}},  // 10
    {true, 255, 1, 14, "byte", {"", "ms", "", ""}},  // 11
    {true, 255, 1, 15, "byte", {"NA", "", "", ""}},  // 12
    {true, 255, 1, 16, "byte", {"", "kHz", "PHI-2 Angle", "Deg"}},  // 13
    {true, 255, 1, 17, "byte", {"", "kHz", "PHI-1 Angle", "Deg"}},  // 14
    {true, 255, 1, 18, "byte", {"", "kHz", "Min Depth", "m"}},  // 15
    {true, 255, 1, 19, "byte", {"", "kHz", "Max Depth", "m"}},  // 16
    {true, 255, 1, 20, "byte", {"", "kHz", "", ""}},  // 17
    {true, 255, 1, 21, "byte", {"", "%", "", ""}},  // 18
    {true, 255, 1, 22, "byte", {"", "%", "", ""}},  // 19
    {true, 255, 1, 23, "byte", {"", "%", "VR1 Resistor", "kohm"}},  // 20
    {true, 255, 1, 24, "byte", {"N/A", "", "", ""}},  // 21
    {true, 255, 1, 25, "byte", {"N/A", "", "", ""}},  // 22
    {true, 255, 1, 26, "byte", {"N/A", "", "", ""}},  // 23
    {true, 255, 1, 27, "byte", {"N/A", "", "", ""}},  // 24
    {true, 255, 1, 28, "byte", {"N/A", "", "", ""}},  // 25
    {true, 255, 1, 29, "byte", {"N/A", "", "", ""}},  // 26
    {true, 32000, 2, 30, "high-first", {"", "kohm", "", ""}},  // 27
    {true, 32000, 2, 32, "high-first", {"", "kohm", "", ""}},  // 28
    {true, 32000, 2, 34, "high-first", {"", "", "", ""}},  // 29
    {false, 255, 0, 36, "low-first", {"", "", "", ""}},  // 30
    {false, 255, 0, 38, "byte", {"", "", "", ""}},  // 31
    {false, 255, 0, 0, "", {"", "", "", ""}},  // 32
    {false, 255, 0, 0, "", {"", "", "", ""}},  // 33
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
    const auto i = static_cast<std::size_t>(s);
    EXPECT_EQ(got.commandByte, static_cast<unsigned char>(test::kCommandBytes[i]));
    EXPECT_EQ(text(got.rowLabel), s < 32 ? test::kRowNames[i].label : "(none)");
    EXPECT_EQ(text(got.tooltip), s < 32 ? test::kRowNames[i].tooltip : "(none)");
    EXPECT_EQ(got.builtInDefault, s < 30 ? test::kBuiltInDefaults[i] : -1);
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

TEST(SlotTable, ThePassAndTheRecordAddUp) {
  int uploadBytes = 0;
  int recordEnd = 0;
  for (int s = 0; s < kSlotCount; ++s) {
    uploadBytes += 1 + byteCount(slotInfo(s).upload);
    const SlotInfo& row = slotInfo(s);
    if (row.recordPosition > 0) recordEnd = row.recordPosition + byteCount(row.record) - 1;
  }
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
