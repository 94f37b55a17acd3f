// Checking and storing what the operator types into the new-value boxes (each
// keystroke against the slot's entry limit from model/slot_table.h), and the
// pulse-width box. UnitController forwards the boxes' change and focus events here.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "model/notifier.h"
#include "model/slot_table.h"
#include "reference/number_text.h"

namespace ku {

// The boxes as the entry checking sees them. Setting a box's text to a different
// text must run that box's change handling at once, nested (entryEdited or
// pulseWidthEdited), as a real text box does.
class EntryBoxes {
 public:
  virtual ~EntryBoxes() = default;
  virtual std::string entryText(int slot) const = 0;
  virtual void setEntryText(int slot, const std::string& text) = 0;
  // Gives the box the input focus; silently does nothing when it cannot.
  virtual void focusEntry(int slot) = 0;
  virtual std::string pulseWidthText() const = 0;
  virtual void setPulseWidthText(const std::string& text) = 0;
};

// The entry checking's view of the main window.
struct EntryContext {
  EntryBoxes& boxes;
  Notifier& notifier;
  SlotValueArray& slotValues;
  const ReadBackArray& readBackValues;
  bool& entryAccepted;
  const NumberLocale& locale;
  // refreshReferenceValues; it throws KuError on failure, which the handlers record and ignore.
  std::function<void()> refresh;
};

// Checks box index and rewrites or wipes it.
void validate(EntryContext& ctx, int index);
void entryEdited(EntryContext& ctx, int index);
void entryLeft(EntryContext& ctx, int index);
void pulseWidthEdited(EntryContext& ctx);

// What a box's text would become if typed: used by kuctl to check SLOT=VALUE the
// way the boxes check typing. Returns the accepted whole number, or nothing when
// the box would reject it.
std::optional<std::int16_t> acceptedEntry(int slot, const std::string& text,
                                          const NumberLocale& loc);

}  // namespace ku
