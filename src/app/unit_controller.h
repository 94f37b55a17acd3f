// UnitController: the main window's behaviour without widgets, what the main
// window and kuctl both run. It owns the unit link (and through it the port),
// SlotValues, ReadBackValues and entryAccepted; it decides what the operator sees
// from the link's outcomes (the message boxes, the buttons, the current-value
// column) and writes it to a UnitView that the window (or kuctl, or a test)
// implements. RecordingUnitView below keeps the view's texts in memory.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/backups.h"
#include "app/safeguards.h"
#include "entry/entry.h"
#include "link/unit_link.h"
#include "model/errors.h"
#include "model/notifier.h"
#include "reference/lookups.h"
#include "reference/reference_values.h"

namespace ku {

// The start-up context's shared values, alive for the whole run.
struct AppContext {
  LinkState port;
  LookupValues lookups;
  std::string programDir;  // the program's own folder, no trailing separator
  // comms.ini, the folder of the comN links and TKUUtil.mdb: all in the program's
  // folder unless the front end chose standard folders (app/folders.h).
  std::string settingsFile;
  std::string linkFolder;
  std::string referenceDatabase;
  NumberLocale locale;
  // Where the set-up read back last is kept before every upload; empty keeps no
  // backup (kuctl --no-backup, and tests that do not look at backups).
  std::string backupsDir;
  std::string programName = "KU utility";  // name and version, recorded in set-up files
};

// The start-up procedure's first work.
void initAppContext(AppContext& context, std::string programDir);

enum class Button { Update, Close, Defaults };

// Everything the main window shows and holds as text.
class UnitView : public EntryBoxes, public ReferenceCells {
 public:
  virtual void setCurrentValue(int row, const std::string& text) = 0;  // current-value column
  virtual void setButtonEnabled(Button b, bool enabled) = 0;
  // A question the operator answers with yes (true) or no.
  virtual bool confirm(const std::string& question) = 0;
};

// How "Update" or "Default" ended.
enum class UploadOutcome {
  Sent,          // uploaded and read back
  UnreadSlots,   // refused: the last read-back left a slot unread that it would send
  NoBackup,      // refused: no backup could be written and the operator said no
  NotTheRecord,  // refused: the unit's reply to "x" was not its 38-character record
};

// How opening a set-up file or a backup ended. NothingDiffers: the unit holds
// every one of the file's slots 1..29. Opened: the boxes took the file's values
// that differ (differing of them; none when the file lacks those values).
enum class OpenOutcome { Opened, NothingDiffers, Refused };

// Why a set-up file or a backup was refused; nothing changed.
enum class OpenRefusal {
  None,
  Unreadable,    // the file cannot be read or is not a set-up file
  EntryRefused,  // the box of slot refuses text, the file's value
  OtherUnit,     // a backup of another port or channel, and the operator said no
};

struct SetupOpening {
  OpenOutcome outcome = OpenOutcome::Refused;
  OpenRefusal refusal = OpenRefusal::None;
  // The texts of boxes 0..31 that lay the file over the unit's values (empty
  // where they agree), and how many are not empty.
  std::array<std::string, kRowSlots> entries{};
  int differing = 0;
  int slot = -1;  // EntryRefused: the slot and the file's text its box refuses
  std::string text;
  bool opened() const { return outcome != OpenOutcome::Refused; }
};

// How saving the set-up read back last ended.
enum class SaveOutcome {
  Saved,
  UnreadSlots,   // refused: the last read-back left unread slots (SetupSaving::unread)
  NotTheRecord,  // refused: the unit's reply to "x" was not its 38-character record
  NotWritten,    // the file could not be written
};

struct SetupSaving {
  SaveOutcome outcome = SaveOutcome::NotWritten;
  std::vector<int> unread;  // UnreadSlots: the slots, in slot order
  bool saved() const { return outcome == SaveOutcome::Saved; }
};

// Entries as typed: slot and text.
using EntryTexts = std::vector<std::pair<int, std::string>>;

// How the load step ended: read back (Linked), the invalid-port message
// (Rejected), or another failure with no message and no read-back (Unlinked).
enum class LoadOutcome { Linked, Rejected, Unlinked };

struct LoadResult {
  LoadOutcome outcome;
  int lastCode;          // the last recorded code
  std::string lastText;  // its reason, for kuctl's standard error
};

class UnitController {
 public:
  UnitController(AppContext& context, UnitView& view, Notifier& notifier, Sleeper& sleeper,
                 std::unique_ptr<SerialPort> port, ReferenceDatabaseOpener& opener);
  ~UnitController();

  // The load step: the port set-up, then the invalid-port message or the first
  // read-back. A port-number override stands in for comms.ini.
  LoadResult openLink(std::optional<std::int16_t> portNumberOverride = std::nullopt);
  // The same with a device path in place of comms.ini and the port number.
  LoadResult openLinkToDevice(const std::string& devicePath);
  // The unload step: the close byte and the port closed, when the port was not rejected.
  void closeLink();
  // The port set-up again in the open window, after the port was changed: the
  // close byte and the port closed when it was open, the window back as it was
  // before its first load (no values, all three commands enabled), then the
  // load step with its messages and read-back.
  LoadResult reopenLink();

  // The line to the unit: whether a write or read failed since the port was
  // opened; closing the port after it (no close byte: it cannot reach the unit);
  // and, before the next exchange, opening the same port again (UnitLink).
  bool lineLost() const { return link_.lineLost(); }
  void closeLostLine() { link_.closeLostLine(); }
  LinkOutcome reopenLostLine() { return link_.reopenLostLine(); }

  // The exchanges, unguarded. Each returns its last error code.
  int readBack();
  int sendSlotValues();           // one upload pass of SlotValues
  int sendDefaultValues();        // the built-in defaults, keeping the unit's channel
  void refreshReferenceValues();  // throws on failure, like the refresh it runs
  // Forgets the working values of the slots the last read-back did not bring,
  // typed ones too, and refreshes the figures (a failure is kept in
  // lastRefreshError): what kuctl shows after an upload that broke off.
  void keepOnlyWhatWasReadBack();
  void enableCommands();
  void disableCommands();

  // Event handlers.
  void entryEdited(int index);
  void entryLeft(int index);
  void pulseWidthEdited();
  // The "Update" and "Default" commands: disableCommands, the send, readBack,
  // enableCommands;
  // first the unread-slot check and the backup of the set-up read back last.
  // The backup records backupReason; without one, "apply" or "restore" when the
  // boxes still hold exactly what the last openSetupFile put there, else "update".
  UploadOutcome runUpdateCommand(const char* backupReason = nullptr);
  UploadOutcome runDefaultCommand();
  // "Update" with these entries typed over the boxes first; refused for unread
  // slots before any entry reaches a box.
  UploadOutcome runUpdateCommand(const EntryTexts& entries, const char* backupReason);
  // The slots that refused the last upload or save for being unread.
  const std::vector<int>& refusedUnreadSlots() const { return refusedUnread_; }
  // Whether a command refused for unread slots tells the operator so (the
  // window's message box, the default); kuctl words it from the outcome.
  void setUnreadRefusalsTold(bool told) { unreadRefusalsTold_ = told; }

  // How many boxes hold a typed entry.
  int typedEntryCount() const;
  // Before a step that empties the boxes (a read-back, a set-up file opened):
  // with typed entries there the operator is asked ("Discard 3 typed
  // entries?"); true to go on.
  bool mayDiscardTypedEntries();

  // Set-up files. Opening puts into each box 1..29 the file's value where it
  // differs from the unit's (empties it where they agree); a refused file
  // changes nothing and the operator is told why.
  // backupReason is what the backup before the upload of these boxes records.
  SetupOpening openSetupFile(const std::string& path,
                             const char* backupReason = kBackupBeforeApply);
  SetupSaving saveSetupFile(const std::string& path);
  // A backup opened as openSetupFile does, for "Update" to restore. A backup
  // of another port or channel than the unit read back last is opened only
  // when the operator, asked with the differences listed, says yes.
  SetupOpening openBackup(const std::string& path);
  // What opening this file would put into the boxes, or why they would refuse
  // it; tells nothing and changes nothing.
  SetupOpening entriesOfSetup(const UnitSetup& file) const;
  // The automatic backups, newest first; throws BackupError when the folder
  // is there but cannot be read.
  std::vector<BackupEntry> backups() const;
  // The set-up read back last (unread slots empty), as a backup records it.
  UnitSetup readBackSetup() const;
  // Per slot 0..31, whether the last read-back left it unread.
  UnreadSlots unreadAtLastReadBack() const;
  // The last read-back's reply in full (its second waited out), as judged
  // before anything is written; a long reply is not yet confirmed here.
  const ReplyCheck& lastReply();
  // Whether the values shown came from the unit's own record: the last reply
  // was exactly the record, or a long reply that one more read-back repeated.
  // Otherwise the operator is told why, followed by consequence.
  bool recordIsTheUnits(const std::string& consequence);
  // The backup written before the last upload, or why none was.
  const std::string& lastBackupPath() const { return lastBackupPath_; }
  const std::string& lastBackupError() const { return lastBackupError_; }

  // Progress of the exchanges as they run (for a status bar); optional.
  void setProgressObserver(ExchangeObserver observer);
  // The stop request the exchanges give way to (UnitLink::setStopRequest); with
  // one set, an exchange may end in StopRequested.
  void setStopRequest(const StopRequest* stop) { link_.setStopRequest(stop); }
  // The wire trace the link's events go to (UnitLink::setTrace); none by default.
  void setTrace(WireTrace* trace) { link_.setTrace(trace); }

  const SlotValueArray& slotValues() const { return slotValues_; }
  const ReadBackArray& readBackValues() const { return readBackValues_; }
  SerialPort& port() { return link_.port(); }
  // The link itself, for a connection check over the program's own port.
  UnitLink& link() { return link_; }
  // The slots a command needs that the last read-back did not get from the unit
  // (all of them before the first read-back), in slot order; a command is refused
  // while any is left. Saving needs every slot 0..31; comparing with a set-up file
  // the set-up's slots 1..29; an upload the slots it would send, which for
  // "Update" are those of 0..29 whose box holds no entry (entered).
  std::vector<int> unreadSlotsToSave() const;
  std::vector<int> unreadSlotsToCompare() const;
  std::vector<int> unreadSlotsToUpload(UploadKind kind, const EnteredSlots& entered) const;
  // How many of the kRowSlots slots the last read-back got (0 before the first).
  int slotsReadAtLastReadBack() const { return slotsRead_; }
  // Last codes of the most recent read-back and upload, for kuctl's exit status.
  int lastReadBackCode() const { return lastReadBackCode_; }
  int lastUploadCode() const { return lastUploadCode_; }
  // Where the last upload pass broke off, when a write failed during it.
  const std::optional<PassBreak>& lastUploadBreak() const { return lastUploadBreak_; }
  // The last refresh's failure, empty when it completed.
  const std::string& lastRefreshError() const { return lastRefreshError_; }

 private:
  LoadResult finishLoad(const LinkOutcome& opened);
  int finishUpload(const UploadPassOutcome& uploaded);
  UploadOutcome guardUpload(UploadKind kind, const char* backupReason);
  // Refuses (true) when the upload would send slots left unread, telling the
  // operator unless kuctl words it.
  bool refuseUnread(UploadKind kind, const EnteredSlots& entered);
  EnteredSlots enteredInBoxes() const;
  // The guard, then the upload and the read-back after it (Update and Default).
  UploadOutcome runUploadCommand(UploadKind kind, const char* backupReason);
  // The file, or nothing after its refusal was shown to the operator.
  std::optional<UnitSetup> readSetupFileOrTell(const std::string& path);
  // Puts the file's differing values into the boxes, all or none.
  SetupOpening layOverEntries(const UnitSetup& file, const std::string& path,
                              const char* backupReason);
  EntryContext entryContext();
  // Forgets what the last read-back got, and clears the columns it filled.
  void forgetUnit();

  AppContext& context_;
  UnitView& view_;
  Notifier& notifier_;
  UnitLink link_;
  ReferenceLookups lookups_;
  SlotValueArray slotValues_{};
  ReadBackArray readBackValues_{};
  bool entryAccepted_ = false;
  std::array<bool, kRowSlots> readAtLastReadBack_{};
  int slotsRead_ = 0;
  int lastReadBackCode_ = 0;
  int lastUploadCode_ = 0;
  std::optional<PassBreak> lastUploadBreak_;
  std::string lastRefreshError_;
  bool readBackRan_ = false;
  // The reply whose values are shown, judged once its second is over.
  ReplyCheck shownReply_;
  bool shownReplyJudged_ = false;
  std::string lastBackupPath_;
  std::string lastBackupError_;
  std::vector<int> refusedUnread_;
  bool unreadRefusalsTold_ = true;
  // The box texts the last set-up file put there, and why it was opened.
  std::array<std::string, kRowSlots> openedEntries_{};
  std::string openedReason_;
};

// The texts of one row of the main window, left to right.
struct RowTexts {
  std::string current;    // what the unit reported
  std::string entry;      // the new-value box
  std::string reference;  // the value in engineering units, or its meaning
  std::string referenceUnit;
  std::string descriptionName;  // fixed
  std::string description;      // a second derived figure
  std::string descriptionUnit;  // fixed
};

// A UnitView that keeps every text in memory and raises the change handling the
// way text boxes do. kuctl and the tests use it; the window has its own.
class RecordingUnitView : public UnitView {
 public:
  void attach(UnitController* controller) { controller_ = controller; }

  std::string entryText(int slot) const override;
  void setEntryText(int slot, const std::string& text) override;
  void focusEntry(int slot) override { focused = slot; }
  std::string pulseWidthText() const override { return pulseWidth; }
  void setPulseWidthText(const std::string& text) override;
  void setReferenceValue(int row, const std::string& text) override;
  void setReferenceUnit(int row, const std::string& text) override;
  void setDescriptionValue(int row, const std::string& text) override;
  void setCurrentValue(int row, const std::string& text) override;
  void setButtonEnabled(Button b, bool enabled) override;
  bool confirm(const std::string& question) override;

  // The window's texts, starting as its fixed layout texts: rows 0..31 are the
  // slots, row kPulseWidthRow the pulse-width row (its current value reads "N/A").
  std::array<RowTexts, kWindowRows> rows{};
  std::string pulseWidth = "0";
  bool updateEnabled = true, closeEnabled = true, defaultEnabled = true;
  int focused = -1;
  std::vector<std::string> questions;  // every question asked, in order
  bool answer = false;                 // the answer to each of them

  RecordingUnitView();

 private:
  UnitController* controller_ = nullptr;
};

}  // namespace ku
