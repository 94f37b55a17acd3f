// The controller's guards around an upload and its set-up files.
#include <QDateTime>

#include "app/serial_ports.h"
#include "app/unit_controller.h"

namespace ku {

UnreadSlots UnitController::unreadAtLastReadBack() const {
  UnreadSlots unread{};
  for (int s = 0; s < kRowSlots; ++s) unread[s] = !readAtLastReadBack_[s];
  return unread;
}

UnitSetup UnitController::readBackSetup() const {
  SlotValueArray values{};
  for (int s = 0; s < kRowSlots; ++s) values[s] = readBackValues_[s];
  UnitSetup setup = setupOfReadBack(values, unreadAtLastReadBack(), link_.port().devicePath(),
                                    context_.programName, QDateTime::currentDateTimeUtc());
  if (!setup.device.empty()) setup.deviceById = stablePathFor(setup.device, kStableSerialFolder);
  return setup;
}

const ReplyCheck& UnitController::lastReply() {
  if (!shownReplyJudged_) {
    shownReply_ = link_.settleRecord();
    shownReplyJudged_ = true;
  }
  return shownReply_;
}

bool UnitController::recordIsTheUnits(const std::string& consequence) {
  ReplyCheck check = lastReply();
  if (check.verdict == ReplyVerdict::LongReply) {
    // A unit that ends its record with a line end repeats itself; a talker or
    // noise does not. The values shown stay those of the first reply.
    link_.readBack();
    check = confirmLongReply(shownReply_, link_.settleRecord());
    if (check.verdict == ReplyVerdict::Record) shownReply_ = check;
  }
  if (check.verdict == ReplyVerdict::Record) return true;
  notifier_.show({MessageKind::Other, replyProblemText(check) + " " + consequence});
  return false;
}

UploadOutcome UnitController::guardUpload(UploadKind kind, const char* backupReason) {
  lastBackupPath_.clear();
  lastBackupError_.clear();
  EnteredSlots entered{};
  for (int s = 0; s < kRowSlots; ++s) entered[s] = !view_.entryText(s).empty();
  const std::vector<int> unread = unreadSlotsToUpload(kind, entered);
  if (!unread.empty()) {
    notifier_.show({MessageKind::Other, unreadSlotsMessage(kind, unread, readBackRan_)});
    return UploadOutcome::UnreadSlots;
  }
  // Checked before the backup: a backup of noise could never bring the unit back.
  if (!recordIsTheUnits("Nothing was sent.")) return UploadOutcome::NotTheRecord;
  // From here on the pass goes out: a backup path named after it is this upload's.
  lastBackupPath_.clear();
  if (context_.backupsDir.empty()) return UploadOutcome::Sent;
  UnitSetup backup = readBackSetup();
  if (backupReason) {
    backup.reason = backupReason;
  } else {
    bool asOpened = !openedReason_.empty();
    for (int s = 0; s < kRowSlots && asOpened; ++s)
      asOpened = !isEnterable(s) || view_.entryText(s) == openedEntries_[s];
    backup.reason = asOpened ? openedReason_ : kBackupBeforeUpdate;
  }
  openedReason_.clear();
  try {
    lastBackupPath_ = writeBackup(context_.backupsDir, backup);
  } catch (const BackupError& e) {
    lastBackupError_ = e.what();
    if (!view_.confirm(uploadWithoutBackupQuestion(e.what()))) return UploadOutcome::NoBackup;
  }
  return UploadOutcome::Sent;
}

std::optional<UnitSetup> UnitController::readSetupFileOrTell(const std::string& path) {
  try {
    return readSetupFile(path);
  } catch (const SetupFileError& e) {
    notifier_.show({MessageKind::Other, e.what()});
    return std::nullopt;
  }
}

bool UnitController::openSetupFile(const std::string& path, const char* backupReason) {
  const std::optional<UnitSetup> file = readSetupFileOrTell(path);
  return file && layOverEntries(*file, path, backupReason);
}

bool UnitController::layOverEntries(const UnitSetup& file, const std::string& path,
                                    const char* backupReason) {
  SlotValueArray unit{};
  for (int s = 0; s < kRowSlots; ++s) unit[s] = readBackValues_[s];
  const auto texts = entriesForSetup(file, unit, unreadAtLastReadBack());
  // The file is taken whole or not at all: every box must accept its text first.
  for (int s = 0; s < kRowSlots; ++s) {
    if (!texts[s].empty() && !acceptedEntry(s, texts[s], context_.locale)) {
      notifier_.show(
          {MessageKind::Other,
           SetupFileError(
               path, slotCaption(s) + " holds " + texts[s] + ", which its box does not accept", s)
               .what()});
      return false;
    }
  }
  for (int s = 0; s < kRowSlots; ++s) {
    if (isEnterable(s)) view_.setEntryText(s, texts[s]);
  }
  // What the boxes hold now (a box may have rewritten its text).
  for (int s = 0; s < kRowSlots; ++s) openedEntries_[s] = isEnterable(s) ? view_.entryText(s) : "";
  openedReason_ = backupReason ? backupReason : "";
  return true;
}

bool UnitController::saveSetupFile(const std::string& path) {
  std::string missing;
  for (int s : unreadSlotsToSave()) missing += (missing.empty() ? "" : ", ") + slotCaption(s);
  if (!missing.empty()) {
    notifier_.show({MessageKind::Other,
                    "The unit's set-up was not saved: the last read-back did not get " + missing +
                        " from the unit. Check the cable and the unit's power, then read the unit "
                        "back and save again."});
    return false;
  }
  if (!recordIsTheUnits("Nothing was saved.")) return false;
  try {
    writeSetupFile(path, readBackSetup());
  } catch (const SetupFileError& e) {
    notifier_.show({MessageKind::Other, e.what()});
    return false;
  }
  return true;
}

bool UnitController::openBackup(const std::string& path) {
  const std::optional<UnitSetup> file = readSetupFileOrTell(path);
  if (!file) return false;
  const std::vector<std::string> differences =
      unitDifferences(identityOf(*file), identityOf(readBackSetup()));
  if (!differences.empty()) {
    std::string question = "This backup is not of the unit read back last:";
    for (const std::string& d : differences) question += "\n- " + d;
    question += "\n\nOpen it anyway? Its values go into the boxes; \"Update\" sends them.";
    if (!view_.confirm(question)) return false;
  }
  return layOverEntries(*file, path, kBackupBeforeRestore);
}

std::vector<BackupEntry> UnitController::backups() const {
  if (context_.backupsDir.empty()) return {};
  return listBackups(context_.backupsDir);
}

}  // namespace ku
