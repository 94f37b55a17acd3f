#include <gtest/gtest.h>

#include "model/slot_table.h"

namespace ku {
namespace {

TEST(SlotTable, FillsConstantsAndEveryCommandByteInSlotOrder) {
  Tables t;
  fillTables(t);
  EXPECT_DOUBLE_EQ(t.Pi, 3.141592654);
  EXPECT_NE(t.Pi, 3.14159265358979323846);  // the ten-digit value, not full pi
  EXPECT_EQ(t.FrequencyBase, 80000);
  EXPECT_EQ(t.TimeDivisor, 12288);
  EXPECT_EQ(t.ResistanceBase, 8000000);
  // As characters: r t v, @ A..H, P..U, ` a..h, ' ( ), O _ \x0B p.
  const std::string expected = "rtv@ABCDEFGHPQRSTU`abcdefgh'()O_\x0Bp";
  ASSERT_EQ(expected.size(), 34u);
  for (int s = 0; s < kSlotCount; ++s) {
    ASSERT_TRUE(t.CommandCodes[s].has_value()) << s;
    EXPECT_EQ(*t.CommandCodes[s], static_cast<unsigned char>(expected[s])) << "slot " << s;
    EXPECT_LT(*t.CommandCodes[s], 128);
  }
  for (int s = 34; s < 37; ++s) EXPECT_FALSE(t.CommandCodes[s].has_value());
}

TEST(SlotTable, DefaultsAboveAByteOnlyInWideSlots) {
  Tables t;
  fillTables(t);
  const int expected[30] = {0,  0,  0,  2, 799, 614, 10, 14,  205, 18, 19,  14,  63,  24,  95,
                            59, 48, 62, 0, 36,  64,  0,  100, 100, 0,  100, 100, 267, 267, 0};
  for (int s = 0; s < 30; ++s) {
    EXPECT_EQ(t.DefaultValues[s], expected[s]) << s;
    if (t.DefaultValues[s] > 255) {
      EXPECT_TRUE(isWideSlot(s)) << s;
    }
  }
  EXPECT_EQ(t.DefaultValues[30], 0);
}

TEST(SlotTable, LimitsAndEntrySplitTheSameWay) {
  for (int s = 0; s < kRowSlots; ++s) {
    const bool wide = s == 4 || s == 5 || s == 27 || s == 28 || s == 29;
    EXPECT_EQ(isWideSlot(s), wide) << s;
    EXPECT_EQ(entryLimit(s), wide ? 32000 : 255) << s;
    EXPECT_EQ(isEnterable(s), s >= 1 && s <= 29) << s;
  }
}

TEST(SlotTable, ExactTextsKeepTheirQuirks) {
  EXPECT_STREQ(slotInfo(29).rowLabel, "Tx Int Const");
  EXPECT_STREQ(slotInfo(29).tooltip, "Tx Integration Constant");
  EXPECT_STREQ(slotInfo(7).tooltip, "TVG clock");
  EXPECT_STREQ(slotInfo(21).tooltip, "RF1 Q pot");
  EXPECT_STREQ(slotInfo(25).rowLabel, "RF2 Tune1 Pot");
  EXPECT_STREQ(slotInfo(26).tooltip, "RF2 Tune2  Pot");
  EXPECT_EQ(slotInfo(32).rowLabel, nullptr);
  EXPECT_THROW(slotInfo(34), std::out_of_range);
}

}  // namespace
}  // namespace ku
