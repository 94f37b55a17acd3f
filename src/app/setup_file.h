// Set-up files: the unit's 32 slot values as read back, kept as a JSON document
//
//   {"format": "ku-setup", "version": 1, "saved": "2026-03-01T09:15:02.481Z",
//    "program": "kuctl 1.2", "device": "/dev/ttyUSB0",
//    "deviceById": "/dev/serial/by-id/usb-...", "reason": "update",
//    "slots": [{"slot": 0, "name": "Channel No.(1-4)", "value": 2}, ... 32 entries]}
//
// A reader needs "format" and "version" and slots 1..29, each once, with a whole
// number within the slot's entry limit; slots 0, 30 and 31 may be there (they are
// recorded, never uploaded from a file). Fields it does not know are ignored;
// "deviceById" and "reason" are written only when known. A key given twice in
// one object is refused: a reader would otherwise keep one of the two silently.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/slot_table.h"

class QByteArray;

namespace ku {

inline constexpr const char* kSetupFormat = "ku-setup";
inline constexpr int kSetupVersion = 1;
// A set-up file is about 3 KB; anything above this is refused before it is read.
inline constexpr std::int64_t kSetupFileMaxBytes = 1024 * 1024;

struct UnitSetup {
  std::string saved;    // UTC, ISO 8601 to the millisecond
  std::string program;  // name and version of the program that wrote it
  std::string device;   // the serial device the values came from
  // The device's stable /dev/serial/by-id/ name; empty when it has none (a
  // pseudo-terminal, an on-board port) or the file does not say.
  std::string deviceById;
  // Why a backup was written: "update", "defaults", "apply" or "restore"; empty
  // in a saved file and in backups of older versions.
  std::string reason;
  // Slots 0..31 as the unit reported them; empty where the read-back left the
  // slot unread (written as null).
  std::array<SlotValue, kRowSlots> values{};
};

// Where a set-up was read back: the device as opened, its stable
// /dev/serial/by-id/ name (empty when none or unknown) and the unit's channel
// as it reports it in slot 0 (0 for channel 1; empty when unknown).
struct UnitIdentity {
  std::string device;
  std::string deviceById;
  SlotValue channel;
};
inline UnitIdentity identityOf(const UnitSetup& s) {
  return {s.device, s.deviceById, s.values[0]};
}

// How the unit a set-up was read from differs from unit, one text per
// difference ("it was read from channel 3, this unit is on channel 1"); a
// part the set-up does not record counts as different. Empty when the set-up
// is of the same port (the same stable name where both have one, else the same
// device) and the same channel.
std::vector<std::string> unitDifferences(const UnitIdentity& setupUnit, const UnitIdentity& unit);

// A set-up file that cannot be used; what() is the whole text for the operator.
class SetupFileError : public std::runtime_error {
 public:
  // "Cannot <verb> the set-up file "<file>": <reason>."
  SetupFileError(const std::string& file, const std::string& reason, int slot = -1,
                 const char* verb = "use");
  const std::string& file() const { return file_; }
  const std::string& reason() const { return reason_; }
  int slot() const { return slot_; }  // -1 when the refusal is not about one slot

 private:
  std::string file_;
  std::string reason_;
  int slot_;
};

// The document's text: keys in the order above, one line per slot.
QByteArray setupToJson(const UnitSetup& setup);

// Reads a document's text; fileName is the name the refusals give. Throws
// SetupFileError.
UnitSetup setupFromJson(const QByteArray& text, const std::string& fileName);

// Reads the file at path: refuses a missing file, a folder, an unreadable, empty
// or oversized file (by its size, before reading) and everything setupFromJson
// refuses.
UnitSetup readSetupFile(const std::string& path);

// Writes the file at path, replacing it as a whole: the text goes to a
// temporary file beside it, flushed to disk, which is renamed over it only when
// complete, so a full disk leaves the old file as it was. Only a new name or an
// existing regular file that its mode lets the user write is written; a
// symbolic link is followed and its target must be such a file (the link
// stays). A folder, a device, a FIFO, a socket or a read-only file is refused
// (root included) and left unchanged. Throws SetupFileError when it cannot.
void writeSetupFile(const std::string& path, const UnitSetup& setup);

// "slot 8 (Ramp Start)": how messages name a slot.
std::string slotCaption(int slot);

}  // namespace ku
