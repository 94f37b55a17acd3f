// The bytes as keystrokes into one new-value box. Whatever is typed or pasted,
// the box ends empty or holding a plain whole number within the slot's limit,
// and the slot holds that number or the value read back from the unit.
//
// Input: byte 0 chooses the slot (bits 0-4), the decimal comma (bit 5) and a
// failing refresh (bit 6); bytes 1-2 are the slot's read-back value; the rest is
// split at 0xFF into edits. An edit starting with 0xFE appends its other bytes
// to the box (typing), 0xFD alone leaves the box, 0xFC sets the pulse-width box,
// anything else replaces the box's whole text (pasting).
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/operator_texts.h"
#include "entry/entry.h"
#include "fakes.h"
#include "fuzz_support.h"
#include "model/errors.h"
#include "model/slot_table.h"
#include "reference/number_text.h"

namespace {

// The entry limits, written out again so that the table is checked too.
int limitOf(int slot) {
  return (slot == 4 || slot == 5 || slot == 27 || slot == 28 || slot == 29) ? 32000 : 255;
}

// Boxes that behave like text boxes: setting a different text runs the box's
// change handling at once, nested.
class Boxes : public ku::EntryBoxes {
 public:
  std::string entryText(int slot) const override {
    KU_FUZZ_CHECK(slot >= 0 && slot < 32);
    return text[static_cast<std::size_t>(slot)];
  }
  void setEntryText(int slot, const std::string& t) override {
    KU_FUZZ_CHECK(slot >= 0 && slot < 32);
    auto& box = text[static_cast<std::size_t>(slot)];
    if (t == box) return;
    box = t;
    change(slot);
  }
  void focusEntry(int slot) override {
    KU_FUZZ_CHECK(slot >= 0 && slot < 32);
    ++focusCalls;
  }
  std::string pulseWidthText() const override { return pulse; }
  void setPulseWidthText(const std::string& t) override {
    if (t == pulse) return;
    pulse = t;
    ++depth;
    KU_FUZZ_CHECK(depth < 8);
    ku::pulseWidthEdited(*ctx);
    --depth;
  }

  // The operator's edit: the text changes and the change handling runs.
  void type(int slot, const std::string& t) { setEntryText(slot, t); }
  void change(int slot) {
    ++depth;
    KU_FUZZ_CHECK(depth < 8);  // a rewrite settles after one nested handling
    ku::entryEdited(*ctx, slot);
    --depth;
  }

  std::array<std::string, 32> text;
  std::string pulse = "0";
  ku::EntryContext* ctx = nullptr;
  int depth = 0;
  int focusCalls = 0;
};

bool plainWholeNumber(const std::string& s) {
  if (s.empty() || s.size() > 5) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return s.size() == 1 || s[0] != '0';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const int slot = data[0] & 31;
  const bool comma = (data[0] & 32) != 0;
  const bool refreshFails = (data[0] & 64) != 0;
  const auto readBackValue = static_cast<std::int16_t>(data[1] | (data[2] << 8));
  const int limit = limitOf(slot);

  std::vector<std::string> edits(1);
  for (std::size_t i = 3; i < size; ++i) {
    if (data[i] == 0xFF) {
      edits.emplace_back();
    } else {
      edits.back().push_back(static_cast<char>(data[i]));
    }
  }

  Boxes boxes;
  ku::test::RecordingNotifier notifier;
  ku::SlotValueArray slots{};
  for (std::size_t i = 0; i < slots.size(); ++i) slots[i] = static_cast<std::int16_t>(i * 3);
  ku::ReadBackArray readBack{};
  for (std::size_t i = 0; i < readBack.size(); ++i) readBack[i] = static_cast<std::int16_t>(i * 3);
  readBack[static_cast<std::size_t>(slot)] = readBackValue;
  slots[static_cast<std::size_t>(slot)] = readBackValue;  // as a read-back leaves it
  const ku::SlotValueArray othersBefore = slots;
  bool accepted = true;
  const ku::NumberLocale locale{comma ? "," : "."};
  int refreshes = 0;
  ku::EntryContext ctx{boxes, notifier, slots, readBack, accepted, locale, [&] {
                         ++refreshes;
                         if (refreshFails) throw ku::KuError(ku::kTypeMismatch, "refresh failed");
                       }};
  boxes.ctx = &ctx;

  auto& box = boxes.text[static_cast<std::size_t>(slot)];
  auto& value = slots[static_cast<std::size_t>(slot)];
  for (const std::string& edit : edits) {
    const std::size_t messagesBefore = notifier.messages.size();
    const int refreshesBefore = refreshes;
    std::string typed;
    bool isTyping = true;
    if (!edit.empty() && static_cast<unsigned char>(edit[0]) == 0xFD && edit.size() == 1) {
      isTyping = false;
      const bool wasEmpty = box.empty();
      ku::entryLeft(ctx, slot);
      KU_FUZZ_CHECK(refreshes == refreshesBefore + (wasEmpty ? 1 : 0));
    } else if (!edit.empty() && static_cast<unsigned char>(edit[0]) == 0xFC) {
      isTyping = false;
      const ku::SlotValueArray slotsBefore = slots;
      boxes.setPulseWidthText(edit.substr(1));
      KU_FUZZ_CHECK(!boxes.pulse.empty());
      KU_FUZZ_CHECK(slots == slotsBefore);  // the pulse width is no slot
    } else if (!edit.empty() && static_cast<unsigned char>(edit[0]) == 0xFE) {
      typed = box + edit.substr(1);
    } else {
      typed = edit;
    }
    if (isTyping) {
      const bool changes = typed != box;
      boxes.type(slot, typed);
      if (changes) KU_FUZZ_CHECK(refreshes > refreshesBefore);
      // The kuctl check of SLOT=VALUE agrees with the box.
      if (changes && !typed.empty() && ku::isEnterable(slot)) {
        const std::optional<std::int16_t> kept = ku::acceptedEntry(slot, typed, locale);
        KU_FUZZ_CHECK(kept.has_value() == !box.empty());
        if (kept) KU_FUZZ_CHECK(std::to_string(*kept) == box);
      }
    }
    KU_FUZZ_CHECK(boxes.depth == 0);

    // The box: empty, or a plain whole number within the limit.
    if (box.empty()) {
      KU_FUZZ_CHECK(value.has_value() && *value == readBackValue);
    } else {
      KU_FUZZ_CHECK(plainWholeNumber(box));
      const int shown = std::stoi(box);
      KU_FUZZ_CHECK(shown >= 0 && shown <= limit);
      KU_FUZZ_CHECK(value.has_value() && *value == shown);
    }
    KU_FUZZ_CHECK(value.has_value() &&
                  ((*value >= 0 && *value <= limit) || *value == readBackValue));

    // One message at most per edit, and only for an entry that was wiped.
    KU_FUZZ_CHECK(notifier.messages.size() <= messagesBefore + 1);
    if (notifier.messages.size() > messagesBefore) {
      KU_FUZZ_CHECK(notifier.messages.back() == ku::kEnterValidNumberText);
      KU_FUZZ_CHECK(box.empty());
    }
    // No other slot or box moves.
    for (std::size_t i = 0; i < slots.size(); ++i) {
      if (static_cast<int>(i) == slot) continue;
      KU_FUZZ_CHECK(slots[i] == othersBefore[i]);
      if (i < 32) KU_FUZZ_CHECK(boxes.text[i].empty());
    }
  }
  return 0;
}
