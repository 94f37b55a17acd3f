// The unit link's operations: the load and close steps of the main window, the
// read-back (verify) and the two uploads (uploadSetup, uploadDefaultSetup, sendWideValue).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "link/comms_ini.h"
#include "link/notifier.h"
#include "link/serial_port.h"
#include "link/sleeper.h"
#include "model/slot_table.h"

namespace ku {

// What the link works on; owned by the main window (or kuctl).
struct LinkContext {
  SerialPort& port;
  Sleeper& sleeper;
  Notifier& notifier;
  SlotValueArray& slotValues;
  ReadBackArray& readBackValues;
};

// Shared values of the start-up module that the load step fills.
struct LinkState {
  PortNumberValue portNumber;
  PortNumberValue firstItem;  // first item of every pair; nothing reads it
  bool ready = false;
};

// How the load step ended.
enum class LoadOutcome { Linked, Rejected, Unlinked };

// Display steps of the read-back, supplied by the window (or kuctl, or a test).
class ReadBackHooks {
 public:
  virtual ~ReadBackHooks() = default;
  // Shows what the unit reported for row 0..31 in the current-value column.
  virtual void showCurrentValue(int row, const std::string& text) = 0;
  // The reference-value refresh; a failure is the caller's to ignore.
  virtual void refresh() = 0;
  // Empties new-value box i; when it held text this runs its change handling.
  virtual void clearEntry(int slot) = 0;
};

// The load step's callbacks into the window.
class LoadHooks {
 public:
  virtual ~LoadHooks() = default;
  // Invalid-port outcome: disable "Update" then "Default".
  virtual void disableUpdateAndDefault() = 0;
  // Last code 0: run the read-back.
  virtual void runReadBack() = 0;
};

struct LoadResult {
  LoadOutcome outcome;
  int lastCode;          // the last recorded code
  std::string lastText;  // its reason, for kuctl's standard error
};

// openLink's port set-up, the thirteen steps. commsIniPath is the program's
// folder joined with "comms.ini". A port-number override (kuctl's --port) takes
// the place of the file: comms.ini is then not read.
LoadResult loadStep(const std::string& commsIniPath, LinkState& state, SerialPort& port,
                    Notifier& notifier, LoadHooks& hooks,
                    std::optional<std::int16_t> portNumberOverride = std::nullopt);

// closeLink's close step: "!" and close when ready. Never throws, so the
// window can always close.
void closeStep(const LinkState& state, SerialPort& port);

// Decodes a reply into slots 0..31 by the record layout; failed slots keep their
// value. Returns the last code recorded (0, 5 or 6).
int decodeRecord(const std::string& reply, SlotValueArray& slotValues);

// The read-back. Returns its last error code (the short-reply message was shown
// when decoding ended on code 5; a later failed refresh may replace that code).
int readBack(LinkContext& ctx, ReadBackHooks& hooks);

// The current-value caption of a row: slot 0 shows its value plus 1; an unset
// slot shows empty text (slot 0 unset shows "1").
std::string currentValueCaption(int row, const SlotValue& v);

// The uploads. Each returns the last code of its pass (5 means the message was shown).
int uploadSetup(LinkContext& ctx, const Tables& tables);
int uploadDefaultSetup(LinkContext& ctx, Tables& tables);
// Sends a 16-bit value as high then low byte; throws 5 for a byte outside 0..255
// (a high byte already sent stays sent) or the port's code.
void sendWideValue(SerialPort& port, std::int16_t v);

}  // namespace ku
