// Entry checking for the new-value boxes and the pulse-width box.
//
// Every change of a box's text runs its change handling, also when the handling
// itself rewrites or wipes the box: the box then runs the handling again, nested,
// before the outer handling goes on. The outer handling therefore always reads the
// box again after validate and decides on what the box holds at that moment.

#include "entry/entry.h"

#include <cmath>
#include <exception>

#include "model/errors.h"
#include "reference/reference_values.h"

namespace ku {

namespace {

bool isRowSlot(int index) {
  return index >= 0 && index < kRowSlots;
}

// Reads a number as the boxes read it. Anything the reader throws other than our
// own error counts as text that is not a number.
double readNumber(const std::string& text, const NumberLocale& loc) {
  try {
    return parseNumber(text, loc);
  } catch (const KuError&) {
    throw;
  } catch (const std::exception& e) {
    throw KuError(kTypeMismatch, e.what());
  }
}

// x rounded to a whole number, a value exactly half-way going to the even one.
double roundHalfEven(double x) {
  const double below = std::floor(x);
  const double fraction = x - below;  // exact for every finite double
  if (fraction > 0.5) return below + 1;
  if (fraction < 0.5) return below;
  return std::fmod(below, 2.0) == 0.0 ? below : below + 1;
}

// The text converted to a 16-bit signed integer, ties to even; 6 when the whole
// number does not fit.
std::int16_t toInt16(const std::string& text, const NumberLocale& loc) {
  const double x = readNumber(text, loc);
  if (!std::isfinite(x)) throw KuError(kOverflow, "number out of range");
  const double r = roundHalfEven(x);
  if (r < -32768.0 || r > 32767.0) throw KuError(kOverflow, "16-bit overflow");
  return static_cast<std::int16_t>(r);
}

// Whether a number read from a box lies within the slot's accepted range. The
// test is on the number as typed, before any rounding.
bool withinLimit(int index, double x) {
  return x >= 0.0 && x <= entryLimit(index);
}

// The whole number a box keeps for an accepted number, as plain digits.
std::string wholeNumberText(double x) {
  // Only numbers from 0 to 32000 get here; -0 becomes "0".
  return std::to_string(static_cast<long>(roundHalfEven(x)));
}

// Reads a box's text as a step of a handling. A failed read is recorded and gives
// nothing, so the handling does not act on a text it could not read.
template <typename Read>
std::optional<std::string> readBox(ErrorTrail& trail, Read&& read) {
  std::optional<std::string> text;
  trail.step([&] { text = read(); });
  return text;
}

void runRefresh(EntryContext& ctx) {
  if (ctx.refresh) ctx.refresh();
}

}  // namespace

void validate(EntryContext& ctx, int index) {
  if (!isRowSlot(index)) return;
  ErrorTrail trail;
  const auto text = readBox(trail, [&] { return ctx.boxes.entryText(index); });
  if (!text || text->empty()) return;

  double number = 0.0;
  const bool isNumber = trail.step([&] { number = readNumber(*text, ctx.locale); });

  if (!isNumber || !withinLimit(index, number)) {
    // Not a number, below 0 or above the limit: one message, and the box is wiped
    // entirely. Wiping runs the change handling again, which restores the slot.
    trail.step([&] { ctx.notifier.show({MessageKind::EnterValidNumber, {}}); });
    ctx.entryAccepted = false;
    trail.step([&] { ctx.boxes.setEntryText(index, std::string()); });
    trail.step([&] { ctx.boxes.focusEntry(index); });
    return;
  }

  // Accepted: the box shows the whole number. A different text runs the change
  // handling again, nested, which accepts it as it stands.
  const std::string whole = wholeNumberText(number);
  if (whole != *text) trail.step([&] { ctx.boxes.setEntryText(index, whole); });
}

void entryEdited(EntryContext& ctx, int index) {
  if (!isRowSlot(index)) return;
  ErrorTrail trail;
  ctx.entryAccepted = true;
  validate(ctx, index);

  // Read the box again: validate may have rewritten or wiped it.
  const auto text = readBox(trail, [&] { return ctx.boxes.entryText(index); });
  if (text && text->empty()) {
    ctx.slotValues[index] = ctx.readBackValues[index];
    trail.step([&] { runRefresh(ctx); });
    return;
  }

  if (trail.last() == kNoError && ctx.entryAccepted) {
    trail.step([&] { ctx.slotValues[index] = toInt16(*text, ctx.locale); });
    trail.step([&] { runRefresh(ctx); });
  }
}

void entryLeft(EntryContext& ctx, int index) {
  if (!isRowSlot(index)) return;
  ErrorTrail ignored;
  const auto text = readBox(ignored, [&] { return ctx.boxes.entryText(index); });
  if (!text || !text->empty()) return;
  ctx.slotValues[index] = ctx.readBackValues[index];
  ignored.step([&] { runRefresh(ctx); });
}

void pulseWidthEdited(EntryContext& ctx) {
  ErrorTrail trail;
  const auto text = readBox(trail, [&] { return ctx.boxes.pulseWidthText(); });
  if (text && text->empty()) {
    // The nested handling of the new text does the refresh.
    trail.step([&] { ctx.boxes.setPulseWidthText("0"); });
    return;
  }
  if (trail.last() == kNoError) trail.step([&] { runRefresh(ctx); });
}

std::optional<std::int16_t> acceptedEntry(int slot, const std::string& text,
                                          const NumberLocale& loc) {
  if (!isRowSlot(slot) || !isEnterable(slot) || text.empty()) return std::nullopt;
  double number = 0.0;
  try {
    number = readNumber(text, loc);
  } catch (const KuError&) {
    return std::nullopt;
  }
  if (!withinLimit(slot, number)) return std::nullopt;
  return static_cast<std::int16_t>(roundHalfEven(number));
}

}  // namespace ku
