// Entry checking: what each keystroke in a new-value box leaves in the box, in
// SlotValues, on the message box and in the reference refresh; the pulse-width box;
// and the check kuctl borrows.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "entry/entry.h"
#include "expected.h"
#include "fakes.h"
#include "model/errors.h"

namespace ku {
namespace {

// Text boxes as the window has them: setting a different text runs the box's
// change handling at once, nested. Every set, message, focus and refresh goes on
// one log so that the order can be checked.
class FakeBoxes : public EntryBoxes {
 public:
  std::array<std::string, kRowSlots> text{};
  std::string pulse = "0";
  test::EventLog* log = nullptr;
  std::function<void(int)> onChange;
  std::function<void()> onPulseChange;
  bool focusThrows = false;
  bool setThrows = false;
  int focused = -1;

  std::string entryText(int slot) const override { return text.at(slot); }
  void setEntryText(int slot, const std::string& t) override {
    log->add("set:" + std::to_string(slot) + ":" + t);
    if (setThrows) throw KuError(kInvalidArgument, "box is read-only");
    if (text.at(slot) == t) return;
    text[slot] = t;
    if (onChange) onChange(slot);
  }
  void focusEntry(int slot) override {
    if (focusThrows) throw KuError(kInvalidArgument, "cannot take the focus");
    log->add("focus:" + std::to_string(slot));
    focused = slot;
  }
  std::string pulseWidthText() const override { return pulse; }
  void setPulseWidthText(const std::string& t) override {
    log->add("pulse:" + t);
    if (pulse == t) return;
    pulse = t;
    if (onPulseChange) onPulseChange();
  }
};

class EntryTest : public ::testing::Test {
 protected:
  EntryTest() {
    boxes.log = &events;
    boxes.onChange = [this](int slot) { entryEdited(ctx, slot); };
    boxes.onPulseChange = [this] { pulseWidthEdited(ctx); };
    // As after a read-back: every slot holds what the unit reported.
    for (int i = 0; i < kRowSlots; ++i) {
      readBack[i] = static_cast<std::int16_t>(40 + i);
      slots[i] = readBack[i];
    }
  }

  // The operator makes the box show this text (one keystroke or a paste).
  void type(int slot, const std::string& t) {
    if (boxes.text[slot] == t) return;
    boxes.text[slot] = t;
    entryEdited(ctx, slot);
  }
  void typePulse(const std::string& t) {
    if (boxes.pulse == t) return;
    boxes.pulse = t;
    pulseWidthEdited(ctx);
  }
  int messageCount() const { return static_cast<int>(notifier.messages.size()); }

  test::EventLog events;
  std::vector<std::string>& log = events.events;
  FakeBoxes boxes;
  test::RecordingNotifier notifier{&events};
  SlotValueArray slots{};
  ReadBackArray readBack{};
  bool accepted = false;
  NumberLocale locale{"."};
  int refreshes = 0;
  bool refreshThrows = false;
  std::vector<std::string> pulseAtRefresh;
  EntryContext ctx{boxes, notifier, slots, readBack, accepted, locale, [this] {
                     ++refreshes;
                     events.add("refresh");
                     pulseAtRefresh.push_back(boxes.pulse);
                     if (refreshThrows) throw KuError(kTypeMismatch, "pulse width");
                   }};
};

// One keystroke (or paste) and what it leaves behind.
struct Key {
  std::string typed;
  std::string box;  // what the box shows afterwards
  int slotValue;    // SlotValues[slot] afterwards; -1: the read-back value
  int messages;     // "Enter Valid number" messages so far
  int refreshes;    // refreshes caused by this key
};

struct KeySequence {
  const char* name;
  int slot;
  std::vector<Key> keys;
};

std::ostream& operator<<(std::ostream& os, const KeySequence& s) {
  return os << s.name;
}

class KeySequenceTest : public EntryTest, public ::testing::WithParamInterface<KeySequence> {};

TEST_P(KeySequenceTest, EachKeyLeavesBoxSlotMessagesAndRefreshes) {
  const KeySequence& seq = GetParam();
  for (const Key& k : seq.keys) {
    SCOPED_TRACE("typed \"" + k.typed + "\"");
    const int before = refreshes;
    type(seq.slot, k.typed);
    EXPECT_EQ(boxes.text[seq.slot], k.box);
    const SlotValue want = k.slotValue < 0 ? SlotValue(readBack[seq.slot])
                                           : SlotValue(static_cast<std::int16_t>(k.slotValue));
    EXPECT_EQ(slots[seq.slot], want);
    EXPECT_EQ(messageCount(), k.messages);
    EXPECT_EQ(refreshes - before, k.refreshes);
  }
  for (const std::string& m : notifier.messages) EXPECT_EQ(m, test::kEnterValidNumberMessage);
  // No other slot is touched.
  for (int i = 0; i < kRowSlots; ++i)
    if (i != seq.slot) {
      EXPECT_EQ(slots[i], SlotValue(readBack[i])) << "slot " << i;
    }
}

// An accepted text that stays as typed refreshes once; one that is rewritten
// refreshes twice (the nested handling of the new text, then the outer one); a
// rejected one refreshes twice too (the nested handling of the wiped box, then the
// outer one) and shows the message once.
const KeySequence kSequences[] = {
    {"ThreeZeroZeroIsWipedNotCutBack",
     7,
     {{"3", "3", 3, 0, 1}, {"30", "30", 30, 0, 1}, {"300", "", -1, 1, 2}}},
    {"TrailingPointDisappears",
     7,
     {{"1", "1", 1, 0, 1}, {"12", "12", 12, 0, 1}, {"12.", "12", 12, 0, 2}}},
    {"LeadingZeroDisappears", 7, {{"0", "0", 0, 0, 1}, {"05", "5", 5, 0, 2}}},
    {"LeadingPlusDisappears", 7, {{"+", "", -1, 1, 2}, {"+7", "7", 7, 1, 2}}},
    {"PastedHalvesGoToEven",
     8,
     {{"12.5", "12", 12, 0, 2},
      {"13.5", "14", 14, 0, 2},
      {"254.5", "254", 254, 0, 2},
      {"0.5", "0", 0, 0, 2},
      {"1.5", "2", 2, 0, 2},
      {"2.51", "3", 3, 0, 2}}},
    {"TestIsOnUnroundedNumber", 8, {{"255.4", "", -1, 1, 2}, {"-0.4", "", -1, 2, 2}}},
    {"EightBitBounds",
     3,
     {{"0", "0", 0, 0, 1}, {"255", "255", 255, 0, 1}, {"256", "", -1, 1, 2}, {"-1", "", -1, 2, 2}}},
    {"SixteenBitBoundsOnSlot4",
     4,
     {{"32000", "32000", 32000, 0, 1},
      {"32001", "", -1, 1, 2},
      {"256", "256", 256, 1, 1},
      {"32000.4", "", -1, 2, 2},
      {"32767", "", -1, 3, 2}}},
    {"SixteenBitBoundsOnSlot29", 29, {{"32000", "32000", 32000, 0, 1}, {"32001", "", -1, 1, 2}}},
    {"SlotNextToWideOnesIsEightBit", 6, {{"32000", "", -1, 1, 2}}},
    {"NotNumbersAreRejected",
     10,
     {{"-", "", -1, 1, 2},
      {".", "", -1, 2, 2},
      {" ", "", -1, 3, 2},
      {"abc", "", -1, 4, 2},
      {"1a", "", -1, 5, 2},
      {"12,5", "", -1, 6, 2}}},
    {"OtherNotationsBecomePlainDigits",
     11,
     {{"1e2", "100", 100, 0, 2},
      {" 12 ", "12", 12, 0, 2},
      {"-0", "0", 0, 0, 2},
      {"007", "7", 7, 0, 2},
      {"1E300", "", -1, 1, 2}}},
    {"DeletingLastCharacterRestoresReadBack",
     12,
     {{"1", "1", 1, 0, 1}, {"12", "12", 12, 0, 1}, {"1", "1", 1, 0, 1}, {"", "", -1, 0, 1}}},
    {"HandlingIsTheSameForDisabledBoxes", 0, {{"5", "5", 5, 0, 1}, {"256", "", -1, 1, 2}}},
    {"LastRowSlot", 31, {{"255", "255", 255, 0, 1}, {"255.5", "", -1, 1, 2}}},
};

INSTANTIATE_TEST_SUITE_P(Keys, KeySequenceTest, ::testing::ValuesIn(kSequences),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EntryTest, RejectionShowsMessageThenWipesThenFocuses) {
  type(7, "300");
  EXPECT_EQ(log, (std::vector<std::string>{"msg:" + test::kEnterValidNumberMessage,
                                           "set:7:", "refresh", "focus:7", "refresh"}))
      << ::testing::PrintToString(log);
  EXPECT_EQ(boxes.focused, 7);
  // Left true by the nested handling of the wiped box; the outer one restored the
  // slot without looking at it.
  EXPECT_TRUE(accepted);
}

TEST_F(EntryTest, RewriteStoresInNestedAndOuterHandling) {
  type(7, "12.");
  EXPECT_EQ(log, (std::vector<std::string>{"set:7:12", "refresh", "refresh"}));
  EXPECT_EQ(slots[7], SlotValue(12));
  EXPECT_TRUE(accepted);
}

TEST_F(EntryTest, NeverReadSlotRestoresToZero) {
  readBack[9] = 0;
  slots[9] = std::nullopt;
  type(9, "5");
  EXPECT_EQ(slots[9], SlotValue(5));
  type(9, "");
  EXPECT_EQ(slots[9], SlotValue(0));
  type(9, "x");
  EXPECT_EQ(slots[9], SlotValue(0));
}

TEST_F(EntryTest, DecimalCommaLocale) {
  locale.decimalPoint = ",";
  type(7, "12,5");
  EXPECT_EQ(boxes.text[7], "12");
  EXPECT_EQ(slots[7], SlotValue(12));
  type(8, "13,5");
  EXPECT_EQ(slots[8], SlotValue(14));
  type(9, "255,4");
  EXPECT_EQ(boxes.text[9], "");
  EXPECT_EQ(messageCount(), 1);
}

TEST_F(EntryTest, RefreshFailuresDoNotStopStoring) {
  refreshThrows = true;
  type(7, "30");
  EXPECT_EQ(slots[7], SlotValue(30));
  type(7, "12.5");
  EXPECT_EQ(boxes.text[7], "12");
  EXPECT_EQ(slots[7], SlotValue(12));
  type(7, "300");
  EXPECT_EQ(boxes.text[7], "");
  EXPECT_EQ(slots[7], SlotValue(readBack[7]));
  EXPECT_EQ(messageCount(), 1);
  type(7, "9");
  EXPECT_EQ(slots[7], SlotValue(9));
  EXPECT_EQ(refreshes, 1 + 2 + 2 + 1);
}

TEST_F(EntryTest, FocusFailureIsSilent) {
  boxes.focusThrows = true;
  type(7, "abc");
  EXPECT_EQ(boxes.text[7], "");
  EXPECT_EQ(slots[7], SlotValue(readBack[7]));
  EXPECT_EQ(messageCount(), 1);
  EXPECT_EQ(refreshes, 2);
}

TEST_F(EntryTest, BoxThatCannotBeSetKeepsCheckingWhatItShows) {
  boxes.setThrows = true;
  // The rewrite fails; the outer handling stores the text it still shows, rounded.
  type(7, "12.5");
  EXPECT_EQ(boxes.text[7], "12.5");
  EXPECT_EQ(slots[7], SlotValue(12));
  EXPECT_EQ(refreshes, 1);
  // The wipe fails; the entry was rejected, so the slot keeps its value.
  type(7, "300");
  EXPECT_EQ(boxes.text[7], "300");
  EXPECT_EQ(slots[7], SlotValue(12));
  EXPECT_FALSE(accepted);
  EXPECT_EQ(messageCount(), 1);
}

TEST_F(EntryTest, LostFocusRestoresOnlyAnEmptyBox) {
  slots[7] = 99;  // as if the box had been emptied by code without its handling
  entryLeft(ctx, 7);
  EXPECT_EQ(slots[7], SlotValue(readBack[7]));
  EXPECT_EQ(refreshes, 1);

  type(8, "17");
  const int before = refreshes;
  slots[8] = 3;
  entryLeft(ctx, 8);
  EXPECT_EQ(slots[8], SlotValue(3));
  EXPECT_EQ(refreshes, before);
  EXPECT_EQ(boxes.text[8], "17");

  refreshThrows = true;
  slots[9] = 1;
  EXPECT_NO_THROW(entryLeft(ctx, 9));
  EXPECT_EQ(slots[9], SlotValue(readBack[9]));
  EXPECT_EQ(messageCount(), 0);
}

TEST_F(EntryTest, IndicesOutsideTheRowsAreIgnored) {
  for (int index : {-1, 32, 33, 1000}) {
    EXPECT_NO_THROW(entryEdited(ctx, index));
    EXPECT_NO_THROW(entryLeft(ctx, index));
  }
  EXPECT_EQ(refreshes, 0);
  EXPECT_FALSE(slots[32].has_value());
}

TEST_F(EntryTest, PastedHugeTextsNeitherHangNorCrash) {
  const auto start = std::chrono::steady_clock::now();
  std::string zeros(4'000'000, '0');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {std::string(4'000'000, '9'), ""},
      {zeros + "7", "7"},
      {std::string(4'000'000, ' ') + "3", "3"},
      {"0." + zeros + "1", "0"},
      {std::string(1'000'000, '-'), ""},
      {std::string("1\0"
                   "2",
                   3),
       ""},
      {std::string(2'000'000, '\xff'), ""},
  };
  for (const auto& [pasted, shown] : cases) {
    type(7, pasted);
    EXPECT_EQ(boxes.text[7], shown) << pasted.size() << " characters";
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

// --- the pulse-width box ---------------------------------------------------

TEST_F(EntryTest, PulseWidthEmptiedShowsZeroAndRefreshesOnce) {
  typePulse("2.5");
  EXPECT_EQ(refreshes, 1);
  typePulse("");
  EXPECT_EQ(boxes.pulse, "0");
  EXPECT_EQ(refreshes, 2);
  EXPECT_EQ(pulseAtRefresh.back(), "0");
  EXPECT_EQ(log, (std::vector<std::string>{"refresh", "pulse:0", "refresh"}));
}

TEST_F(EntryTest, PulseWidthAcceptsAnyTextAndNeverTouchesSlots) {
  const SlotValueArray before = slots;
  for (const char* t : {"-3.5", "abc", " ", "1e999", "-", "12,5"}) {
    SCOPED_TRACE(t);
    const int n = refreshes;
    refreshThrows = std::string(t) != "-3.5";  // a non-number makes the refresh fail
    EXPECT_NO_THROW(typePulse(t));
    EXPECT_EQ(boxes.pulse, t);
    EXPECT_EQ(refreshes, n + 1);
  }
  EXPECT_EQ(slots, before);
  EXPECT_EQ(messageCount(), 0);
}

// --- the check kuctl borrows -----------------------------------------------

struct AcceptCase {
  int slot;
  std::string text;
  std::string decimalPoint;
  std::optional<std::int16_t> want;
};

TEST(AcceptedEntry, MatchesWhatTheBoxKeeps) {
  const AcceptCase cases[] = {
      // slots without an entry box the operator can type into
      {0, "1", ".", std::nullopt},
      {30, "1", ".", std::nullopt},
      {31, "1", ".", std::nullopt},
      {-1, "1", ".", std::nullopt},
      {32, "1", ".", std::nullopt},
      {33, "1", ".", std::nullopt},
      // 8-bit slots
      {1, "1", ".", 1},
      {2, "0", ".", 0},
      {3, "255", ".", 255},
      {3, "256", ".", std::nullopt},
      {6, "-1", ".", std::nullopt},
      {7, "254.5", ".", 254},
      {7, "255.4", ".", std::nullopt},
      {8, "13.5", ".", 14},
      {9, "+7", ".", 7},
      {10, "-0", ".", 0},
      {11, "-0.4", ".", std::nullopt},
      {12, "", ".", std::nullopt},
      {13, " ", ".", std::nullopt},
      {14, "abc", ".", std::nullopt},
      {26, "1e2", ".", 100},
      // 16-bit slots
      {4, "32000", ".", 32000},
      {4, "32001", ".", std::nullopt},
      {5, "31999.5", ".", 32000},
      {27, "32000.5", ".", std::nullopt},
      {28, "0", ".", 0},
      {29, "12.5", ".", 12},
      // the locale's decimal separator
      {20, "12,5", ",", 12},
      {20, "12,5", ".", std::nullopt},
  };
  for (const AcceptCase& c : cases) {
    EXPECT_EQ(acceptedEntry(c.slot, c.text, NumberLocale{c.decimalPoint}), c.want)
        << "slot " << c.slot << " text \"" << c.text << "\" separator " << c.decimalPoint;
  }
}

}  // namespace
}  // namespace ku
