// The unit's protocol, apart from any port or clock: the bytes of the read-back
// request, the decoding of the unit's 38-byte record, and the upload frame (the
// bytes of one pass over slots 0..33 with the pauses between them). UnitLink
// (unit_link.h) puts these on the line.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/errors.h"
#include "model/slot_table.h"

namespace ku {

// The read-back: " " and "q" open the exchange (whatever the unit answers them is
// thrown away), "x" asks for the record. "!" tells the unit the program leaves.
inline constexpr char kFirstRequestByte = ' ';
inline constexpr char kSecondRequestByte = 'q';
inline constexpr char kRecordRequestByte = 'x';
inline constexpr char kCloseByte = '!';
// The pause after each request byte, in hundredths of a second.
inline constexpr std::int16_t kRequestPauseHundredths = 100;
// A whole read-back: the three request bytes, each followed by its pause (the
// record comes within the last one).
inline constexpr int kReadBackMs = 3 * kRequestPauseHundredths * 10;
// Pauses of the upload, in hundredths: after a value slot's command byte and after
// its value, and after a command-only byte.
inline constexpr std::int16_t kValuePauseHundredths = 2;
inline constexpr std::int16_t kCommandOnlyPauseHundredths = 5;

// The value of each row slot 0..31 as a record gave it; empty where its field
// failed (beyond the end of the reply, or a pair whose high byte is 128 or more).
using DecodedRecord = std::array<std::optional<std::int16_t>, kRowSlots>;

// Decodes a reply slot by slot in slot order. Each failed slot records its code in
// trail (5 for a position beyond the end, 6 for a high byte of 128 or more);
// characters after the 38th are ignored.
DecodedRecord decodeRecord(const std::string& reply, ErrorTrail& trail);

// Lays a decoded reply over the working values (failed slots keep theirs) and
// returns the last code the decoding recorded (0, 5 or 6).
int decodeRecord(const std::string& reply, SlotValueArray& slotValues);

// One step of an upload pass.
struct FrameStep {
  enum class Kind { Send, Pause };
  Kind kind;
  // Send: the bytes, written one per write in order; a failed write ends the step.
  std::string bytes;
  // Send: non-zero when the value had a byte outside 0..255: after the bytes that
  // did go out, the step fails with this code (5) and its reason.
  int refusedCode = kNoError;
  std::string refusal;
  // Pause: n x 10 ms.
  std::int16_t hundredths = 0;
  // Send: the slot's command byte, where the slot begins. A pass may end only
  // here, so that no command byte goes without its value.
  bool startsSlot = false;
};
using UploadFrame = std::vector<FrameStep>;

// The values an upload sends for slots 0..29 (an empty working value counts as 0).
using UploadValues = std::array<std::int16_t, kValueSlots>;

// The pass over slots 0..33: each slot's command byte, then for slots 0..29 a
// pause, the value (one byte, or high and low byte for the wide slots) and a
// pause; slots 30..33 send the command byte alone and pause longer.
UploadFrame buildUploadFrame(const UploadValues& values);
// The built-in defaults with the given channel for slot 0.
UploadValues defaultUploadValues(std::int16_t channel);
// The bytes a frame puts on the line when every write succeeds.
std::string frameBytes(const UploadFrame& frame);

// A 16-bit value as the two bytes of its wide form: five base-16 digits, each
// taking the value's sign; high = d1 x 256 + d2 x 16 + d3, low = d4 x 16 + d5.
// For 0..32767 this is plain big-endian; a negative value gives a byte outside
// 0..255 (a high byte of 0 and a negative low byte from -255 to -1).
struct WideBytes {
  int high;
  int low;
};
WideBytes splitWideValue(std::int16_t v);

// The current-value caption of a row: slot 0 shows its value plus 1; a slot the
// unit did not report shows empty text (slot 0 too). Throws 6 when slot 0 holds 32767.
std::string currentValueCaption(int row, const std::optional<std::int16_t>& v);

}  // namespace ku
