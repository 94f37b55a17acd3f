#include "link/protocol.h"

namespace ku {

namespace {

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

std::int16_t decodeSlot(const std::string& reply, int slot) {
  const SlotInfo& row = slotInfo(slot);
  const int pos = row.recordPosition;
  switch (row.record) {
    case ValueForm::Byte:
      return static_cast<std::int16_t>(byteAt(reply, pos));
    case ValueForm::HighFirst: {
      const int high = highTimes256(byteAt(reply, pos));
      return static_cast<std::int16_t>(high + byteAt(reply, pos + 1));
    }
    case ValueForm::LowFirst: {
      const int low = byteAt(reply, pos);
      return static_cast<std::int16_t>(low + highTimes256(byteAt(reply, pos + 1)));
    }
    case ValueForm::None:
      break;
  }
  throw KuError(kInvalidArgument, "slot " + std::to_string(slot) + " is not in the record");
}

bool isByte(int v) {
  return v >= 0 && v <= 255;
}

std::string refusalOf(int value) {
  return "Invalid procedure call or argument: byte value " + std::to_string(value) +
         " outside 0..255";
}

// The value step of one slot: its byte (or bytes), stopping at the first byte
// outside 0..255, which fails the step with code 5.
FrameStep valueStep(ValueForm form, std::int16_t v) {
  FrameStep step{FrameStep::Kind::Send, {}, kNoError, {}, 0, false};
  std::vector<int> bytes;
  if (form == ValueForm::HighFirst) {
    const WideBytes w = splitWideValue(v);
    bytes = {w.high, w.low};
  } else {
    bytes = {v};
  }
  for (int b : bytes) {
    if (!isByte(b)) {
      step.refusedCode = kInvalidArgument;
      step.refusal = refusalOf(b);
      break;
    }
    step.bytes.push_back(static_cast<char>(static_cast<unsigned char>(b)));
  }
  return step;
}

FrameStep commandStep(std::uint8_t byte) {
  return FrameStep{
      FrameStep::Kind::Send, std::string(1, static_cast<char>(byte)), kNoError, {}, 0, true};
}

FrameStep pause(std::int16_t hundredths) {
  return FrameStep{FrameStep::Kind::Pause, {}, kNoError, {}, hundredths, false};
}

}  // namespace

DecodedRecord decodeRecord(const std::string& reply, ErrorTrail& trail) {
  DecodedRecord decoded{};
  for (int slot = 0; slot < kRowSlots; ++slot)
    trail.step([&] { decoded[static_cast<std::size_t>(slot)] = decodeSlot(reply, slot); });
  return decoded;
}

int decodeRecord(const std::string& reply, SlotValueArray& slotValues) {
  ErrorTrail trail;
  const DecodedRecord decoded = decodeRecord(reply, trail);
  for (int slot = 0; slot < kRowSlots; ++slot) {
    if (decoded[static_cast<std::size_t>(slot)])
      slotValues[static_cast<std::size_t>(slot)] = decoded[static_cast<std::size_t>(slot)];
  }
  return trail.last();
}

WideBytes splitWideValue(std::int16_t v) {
  int x = v;
  int d[5];
  for (int k = 4; k >= 0; --k) {
    d[k] = x % 16;  // takes the sign of x
    x /= 16;        // truncates toward zero
  }
  return {d[0] * 256 + d[1] * 16 + d[2], d[3] * 16 + d[4]};
}

UploadFrame buildUploadFrame(const UploadValues& values) {
  UploadFrame frame;
  frame.reserve(4 * kSlotCount);
  for (int s = 0; s < kSlotCount; ++s) {
    const SlotInfo& row = slotInfo(s);
    frame.push_back(commandStep(row.commandByte));
    if (row.upload == ValueForm::None) {
      frame.push_back(pause(kCommandOnlyPauseHundredths));
      continue;
    }
    frame.push_back(pause(kValuePauseHundredths));
    frame.push_back(valueStep(row.upload, values[static_cast<std::size_t>(s)]));
    frame.push_back(pause(kValuePauseHundredths));
  }
  return frame;
}

UploadValues defaultUploadValues(std::int16_t channel) {
  UploadValues v{};
  for (int s = 0; s < kValueSlots; ++s) v[static_cast<std::size_t>(s)] = slotInfo(s).builtInDefault;
  v[0] = channel;  // the unit keeps its channel
  return v;
}

std::string frameBytes(const UploadFrame& frame) {
  std::string bytes;
  for (const FrameStep& step : frame) bytes += step.bytes;
  return bytes;
}

std::string currentValueCaption(int row, const std::optional<std::int16_t>& v) {
  if (!v) return {};
  if (row == 0) {
    if (*v == 32767) throw KuError(kOverflow, "Overflow: channel number plus 1");
    return std::to_string(*v + 1);
  }
  return std::to_string(*v);
}

}  // namespace ku
