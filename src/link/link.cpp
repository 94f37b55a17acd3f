#include "link/link.h"

#include <string>

#include "model/errors.h"

namespace ku {

namespace {

// Writes one byte value as one character; a value outside 0..255 is not sent.
void sendByte(SerialPort& port, int value) {
  if (value < 0 || value > 255)
    throw KuError(kInvalidArgument, "Invalid procedure call or argument: byte value " +
                                        std::to_string(value) + " outside 0..255");
  port.output(std::string(1, static_cast<char>(static_cast<unsigned char>(value))));
}

// The reply's character at position pos (from 1) as a byte 0..255.
int byteAt(const std::string& reply, int pos) {
  if (pos < 1 || static_cast<std::size_t>(pos) > reply.size())
    throw KuError(kInvalidArgument, "Invalid procedure call or argument: position " +
                                        std::to_string(pos) + " beyond the reply of " +
                                        std::to_string(reply.size()) + " characters");
  return static_cast<unsigned char>(reply[static_cast<std::size_t>(pos) - 1]);
}

// high x 256 in 16-bit arithmetic: a high byte of 128 or more overflows.
int highTimes256(int high) {
  if (high >= 128) throw KuError(kOverflow, "Overflow: high byte " + std::to_string(high));
  return high * 256;
}

// Where slot s sits in the record and in which form.
enum class Form { Byte, HighFirst, LowFirst };
struct Field {
  int position;  // from 1
  Form form;
};

Field fieldOf(int slot) {
  switch (slot) {
    case 4:
      return {5, Form::HighFirst};
    case 5:
      return {7, Form::HighFirst};
    case 27:
      return {30, Form::HighFirst};
    case 28:
      return {32, Form::HighFirst};
    case 29:
      return {34, Form::HighFirst};
    case 30:
      return {36, Form::LowFirst};
    case 31:
      return {38, Form::Byte};
    default:
      break;
  }
  if (slot <= 3) return {slot + 1, Form::Byte};
  return {slot + 3, Form::Byte};  // slots 6..26 at positions 9..29
}

std::int16_t decodeSlot(const std::string& reply, int slot) {
  const Field f = fieldOf(slot);
  switch (f.form) {
    case Form::Byte:
      return static_cast<std::int16_t>(byteAt(reply, f.position));
    case Form::HighFirst: {
      const int high = highTimes256(byteAt(reply, f.position));
      return static_cast<std::int16_t>(high + byteAt(reply, f.position + 1));
    }
    case Form::LowFirst: {
      const int low = byteAt(reply, f.position);
      return static_cast<std::int16_t>(low + highTimes256(byteAt(reply, f.position + 1)));
    }
  }
  return 0;
}

void decodeInto(const std::string& reply, SlotValueArray& slotValues, ErrorTrail& trail) {
  for (int slot = 0; slot < kRowSlots; ++slot)
    trail.step([&] { slotValues[slot] = decodeSlot(reply, slot); });
}

// One upload pass over slots 0..33 with the values that valueFor gives.
template <typename ValueFor>
int uploadPass(LinkContext& ctx, const Tables& tables, ValueFor valueFor) {
  ErrorTrail trail;
  for (int s = 0; s < kSlotCount; ++s) {
    trail.step([&] { sendByte(ctx.port, tables.CommandCodes[s].value_or(0)); });
    if (s > 29) {
      trail.step([&] { pauseHundredths(ctx.sleeper, 5); });
      continue;
    }
    trail.step([&] { pauseHundredths(ctx.sleeper, 2); });
    const std::int16_t v = valueFor(s);
    if (isWideSlot(s))
      trail.step([&] { sendWideValue(ctx.port, v); });
    else
      trail.step([&] { sendByte(ctx.port, v); });
    trail.step([&] { pauseHundredths(ctx.sleeper, 2); });
  }
  if (trail.last() == kInvalidArgument) ctx.notifier.show(kValueLimitText);
  return trail.last();
}

}  // namespace

LoadResult loadStep(const std::string& commsIniPath, LinkState& state, SerialPort& port,
                    Notifier& notifier, LoadHooks& hooks,
                    std::optional<std::int16_t> portNumberOverride) {
  state.ready = true;
  ErrorTrail trail;
  if (portNumberOverride) {
    state.portNumber = static_cast<double>(*portNumberOverride);
  } else {
    trail.step([&] { readCommsIni(commsIniPath, state.portNumber, state.firstItem); });
  }
  const bool numberTaken =
      trail.step([&] { port.setCommPort(portNumberToInt16(state.portNumber)); });
  trail.step([&] { port.setHandshaking(0); });
  trail.step([&] { port.setInputLen(0); });
  trail.step([&] { port.setRThreshold(0); });
  trail.step([&] { port.setRTSEnable(true); });
  trail.step([&] { port.setSettings("4800,n,8,1"); });
  trail.step([&] { port.setSThreshold(0); });
  // Only the port that comms.ini named is ever opened. When its number was
  // rejected or is no number at all, the port keeps an earlier number (its first
  // one, port 1): opening that would let "Update" and the close byte reach a
  // device that nobody chose, and would hold it for the window's whole life.
  if (numberTaken) {
    trail.step([&] {
      if (!port.portOpen()) port.setPortOpen(true);
    });
  }

  LoadOutcome outcome = LoadOutcome::Unlinked;
  if (trail.last() == kInvalidPortNumber) {
    notifier.show(kInvalidPortText);
    state.ready = false;
    hooks.disableUpdateAndDefault();
    outcome = LoadOutcome::Rejected;
  }
  if (trail.last() == kNoError) {
    hooks.runReadBack();
    outcome = LoadOutcome::Linked;
  }
  return LoadResult{outcome, trail.last(), trail.lastText()};
}

void closeStep(const LinkState& state, SerialPort& port) {
  if (!state.ready) return;
  // The window must close whatever the port does: a failed close byte (the port
  // never opened, or the unit went away) is dropped and the port still closed.
  try {
    port.output("!");
  } catch (...) {
  }
  try {
    if (port.portOpen()) port.setPortOpen(false);
  } catch (...) {
  }
}

int decodeRecord(const std::string& reply, SlotValueArray& slotValues) {
  ErrorTrail trail;
  decodeInto(reply, slotValues, trail);
  return trail.last();
}

std::string currentValueCaption(int row, const SlotValue& v) {
  if (row == 0) {
    if (!v) return "1";
    if (*v == 32767) throw KuError(kOverflow, "Overflow: channel number plus 1");
    return std::to_string(*v + 1);
  }
  if (!v) return {};
  return std::to_string(*v);
}

int readBack(LinkContext& ctx, ReadBackHooks& hooks) {
  ErrorTrail trail;
  std::string reply;
  trail.step([&] { ctx.port.output(" "); });
  trail.step([&] { pauseHundredths(ctx.sleeper, 100); });
  trail.step([&] { ctx.port.output("q"); });
  trail.step([&] { pauseHundredths(ctx.sleeper, 100); });
  // Whatever the unit said to " " and "q" is thrown away.
  trail.step([&] { reply = ctx.port.input(); });
  reply.clear();
  trail.step([&] { ctx.port.output("x"); });
  trail.step([&] { pauseHundredths(ctx.sleeper, 100); });
  trail.step([&] { reply = ctx.port.input(); });

  decodeInto(reply, ctx.slotValues, trail);

  for (int row = 0; row < kRowSlots; ++row)
    trail.step([&] { hooks.showCurrentValue(row, currentValueCaption(row, ctx.slotValues[row])); });

  if (trail.last() == kInvalidArgument) ctx.notifier.show(kShortReplyText);

  trail.step([&] { hooks.refresh(); });

  for (int i = 0; i < kRowSlots; ++i) {
    ctx.readBackValues[i] = valueOf(ctx.slotValues[i]);
    trail.step([&] { hooks.clearEntry(i); });
  }
  return trail.last();
}

void sendWideValue(SerialPort& port, std::int16_t v) {
  // Five base-16 digits, least significant first, each taking v's sign.
  int x = v;
  int d[5];
  for (int k = 4; k >= 0; --k) {
    d[k] = x % 16;
    x /= 16;
  }
  const int high = d[0] * 256 + d[1] * 16 + d[2];
  const int low = d[3] * 16 + d[4];
  sendByte(port, high);
  sendByte(port, low);
}

int uploadSetup(LinkContext& ctx, const Tables& tables) {
  return uploadPass(ctx, tables, [&](int s) { return valueOf(ctx.slotValues[s]); });
}

int uploadDefaultSetup(LinkContext& ctx, Tables& tables) {
  tables.DefaultValues[0] = valueOf(ctx.slotValues[0]);
  return uploadPass(ctx, tables, [&](int s) { return tables.DefaultValues[s]; });
}

}  // namespace ku
