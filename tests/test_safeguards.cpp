// No upload over unread slots, the set-up a backup records, a file laid over the
// unit's values as entries.
#include <gtest/gtest.h>

#include <QDateTime>

#include "app/safeguards.h"

namespace ku {
namespace {

UnreadSlots noneUnread() {
  return UnreadSlots{};
}

// A record cut after 20 characters leaves slots 18..31 unread.
UnreadSlots cutAfter20() {
  UnreadSlots u{};
  for (int s = 18; s < 32; ++s) u[s] = true;
  return u;
}

TEST(UnreadSlotsToSend, UpdateCountsSlots0To29WithoutEntryDefaultOnlyTheChannel) {
  EnteredSlots entered{};
  EXPECT_EQ(unreadSlotsToSend(UploadKind::Entries, noneUnread(), entered), std::vector<int>{});
  EXPECT_EQ(unreadSlotsToSend(UploadKind::Entries, cutAfter20(), entered),
            (std::vector<int>{18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29}));
  // Slots 30 and 31 are sent as command bytes only: unread, they do not count.
  UnreadSlots only30and31{};
  only30and31[30] = only30and31[31] = true;
  EXPECT_EQ(unreadSlotsToSend(UploadKind::Entries, only30and31, entered), std::vector<int>{});

  for (int s = 18; s <= 28; ++s) entered[s] = true;
  EXPECT_EQ(unreadSlotsToSend(UploadKind::Entries, cutAfter20(), entered), std::vector<int>{29});
  // "Default" sends its own values for 1..29: only the channel matters.
  EXPECT_EQ(unreadSlotsToSend(UploadKind::Defaults, cutAfter20(), entered), std::vector<int>{});
  UnreadSlots all{};
  all.fill(true);
  entered[0] = true;  // box 0 takes no entry; even if it held text, the channel is the unit's
  EXPECT_EQ(unreadSlotsToSend(UploadKind::Defaults, all, entered), std::vector<int>{0});
}

TEST(UnreadSlotsMessage, NamesTheSlotsAndWhatToDo) {
  EXPECT_EQ(unreadSlotsMessage(UploadKind::Entries, {18, 29}),
            "Nothing was sent to the unit. The last read-back did not get these slots from the "
            "unit: slot 18 (E/S Gain), slot 29 (Tx Int Const). \"Update\" sends every slot and "
            "would have overwritten them with values the unit never reported. Check the cable "
            "and the unit's power, then read the unit back, or type a value for each of these "
            "slots, and press \"Update\" again.");
  EXPECT_EQ(unreadSlotsMessage(UploadKind::Entries, {4}),
            "Nothing was sent to the unit. The last read-back did not get this slot from the "
            "unit: slot 4 (Test Frequency). \"Update\" sends every slot and would have "
            "overwritten it with values the unit never reported. Check the cable and the unit's "
            "power, then read the unit back, or type a value for each of these slots, and press "
            "\"Update\" again.");
  EXPECT_EQ(unreadSlotsMessage(UploadKind::Entries, {0, 1, 2}, false),
            "Nothing was sent to the unit. Its set-up has not been read back, so \"Update\" "
            "would have overwritten it with values the unit never reported. Check comms.ini, the "
            "port and the cable, then read the unit back.");
  EXPECT_EQ(unreadSlotsMessage(UploadKind::Defaults, {0}, false),
            "Nothing was sent to the unit. Its set-up has not been read back, so \"Default\" "
            "would have overwritten it with values the unit never reported. Check comms.ini, the "
            "port and the cable, then read the unit back.");
  EXPECT_EQ(unreadSlotsMessage(UploadKind::Defaults, {0}),
            "Nothing was sent to the unit. The last read-back did not get the unit's channel "
            "(slot 0 (Channel No.(1-4))), which \"Default\" keeps. Check the cable and the "
            "unit's power, then read the unit back and press \"Default\" again.");
}

SlotValueArray unitValues() {
  SlotValueArray v{};
  for (int s = 0; s < 32; ++s) v[s] = static_cast<std::int16_t>(s * 3);
  return v;
}

TEST(SetupOfReadBack, RecordsWhatWasReadAndLeavesUnreadSlotsEmpty) {
  const UnitSetup s = setupOfReadBack(unitValues(), cutAfter20(), "/dev/ttyUSB0", "kuutil 1.2",
                                      QDateTime::fromMSecsSinceEpoch(1772356502481, Qt::UTC));
  EXPECT_EQ(s.saved, "2026-03-01T09:15:02.481Z");
  EXPECT_EQ(s.program, "kuutil 1.2");
  EXPECT_EQ(s.device, "/dev/ttyUSB0");
  EXPECT_EQ(s.values[0], 0);
  EXPECT_EQ(s.values[17], 51);
  for (int k = 18; k < 32; ++k) EXPECT_FALSE(s.values[k]) << k;
}

TEST(EntriesForSetup, OnlyWhatDiffersFromTheUnitGoesIntoTheBoxes) {
  UnitSetup file;
  const SlotValueArray unit = unitValues();
  for (int s = 0; s < 32; ++s) file.values[s] = unit[s];
  file.values[0] = 3;      // another channel: never uploaded from a file
  file.values[4] = 32000;  // differs
  file.values[8] = 255;    // differs
  file.values[30] = 1;     // never uploaded
  file.values[19] = 57;    // the same as the unit, but the unit's 19 is unread below
  UnreadSlots unread{};
  unread[19] = true;

  const auto texts = entriesForSetup(file, unit, unread);
  for (int s = 0; s < 32; ++s) {
    SCOPED_TRACE(s);
    const char* expected = s == 4 ? "32000" : s == 8 ? "255" : s == 19 ? "57" : "";
    EXPECT_EQ(texts[s], expected);
  }
  EXPECT_EQ(differingSlots(file, unit, unread), (std::vector<int>{4, 8, 19}));
  EXPECT_EQ(differingSlots(file, unit, UnreadSlots{}), (std::vector<int>{4, 8}));

  for (int s = 0; s < 32; ++s) file.values[s] = unit[s];
  EXPECT_EQ(differingSlots(file, unit, UnreadSlots{}), std::vector<int>{});
}

}  // namespace
}  // namespace ku
