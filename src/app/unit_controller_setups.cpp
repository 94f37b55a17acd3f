// The controller's guards around an upload and its set-up files.
#include <QDateTime>

#include "app/serial_ports.h"
#include "app/unit_controller.h"
#include "model/log.h"

namespace ku {
namespace {

SetupOpening refusedFor(OpenRefusal why) {
  SetupOpening opening;
  opening.refusal = why;
  return opening;
}

}  // namespace

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

EnteredSlots UnitController::enteredInBoxes() const {
  EnteredSlots entered{};
  for (int s = 0; s < kRowSlots; ++s) entered[s] = !view_.entryText(s).empty();
  return entered;
}

bool UnitController::refuseUnread(UploadKind kind, const EnteredSlots& entered) {
  refusedUnread_ = unreadSlotsToUpload(kind, entered);
  if (refusedUnread_.empty()) return false;
  if (unreadRefusalsTold_)
    notifier_.show({MessageKind::Other, unreadSlotsMessage(kind, refusedUnread_, readBackRan_)});
  return true;
}

UploadOutcome UnitController::runUpdateCommand(const EntryTexts& entries,
                                               const char* backupReason) {
  EnteredSlots entered = enteredInBoxes();
  for (const auto& entry : entries) entered[static_cast<std::size_t>(entry.first)] = true;
  if (refuseUnread(UploadKind::Entries, entered)) return UploadOutcome::UnreadSlots;
  for (const auto& [slot, text] : entries) view_.setEntryText(slot, text);
  return runUpdateCommand(backupReason);
}

UploadOutcome UnitController::guardUpload(UploadKind kind, const char* backupReason) {
  lastBackupPath_.clear();
  lastBackupError_.clear();
  if (refuseUnread(kind, enteredInBoxes())) return UploadOutcome::UnreadSlots;
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
    qCDebug(lcApp, "no backup: %s", e.what());
    if (!view_.confirm(uploadWithoutBackupQuestion(e.what()))) return UploadOutcome::NoBackup;
  }
  return UploadOutcome::Sent;
}

std::optional<UnitSetup> UnitController::readSetupFileOrTell(const std::string& path) {
  try {
    UnitSetup setup = readSetupFile(path);
    qCDebug(lcApp, "set-up file read: %s", path.c_str());
    return setup;
  } catch (const SetupFileError& e) {
    qCDebug(lcApp, "set-up file refused: %s", e.what());
    notifier_.show({MessageKind::Other, e.what()});
    return std::nullopt;
  }
}

SetupOpening UnitController::openSetupFile(const std::string& path, const char* backupReason) {
  const std::optional<UnitSetup> file = readSetupFileOrTell(path);
  if (!file) return refusedFor(OpenRefusal::Unreadable);
  return layOverEntries(*file, path, backupReason);
}

SetupOpening UnitController::entriesOfSetup(const UnitSetup& file) const {
  SlotValueArray unit{};
  for (int s = 0; s < kRowSlots; ++s) unit[s] = readBackValues_[s];
  const UnreadSlots unread = unreadAtLastReadBack();
  SetupOpening opening;
  opening.entries = entriesForSetup(file, unit, unread);
  // The file is taken whole or not at all: every box must accept its text.
  for (int s = 0; s < kRowSlots; ++s) {
    const std::string& text = opening.entries[s];
    if (text.empty()) continue;
    if (!acceptedEntry(s, text, context_.locale)) {
      opening.refusal = OpenRefusal::EntryRefused;
      opening.slot = s;
      opening.text = text;
      opening.entries = {};
      opening.differing = 0;
      return opening;
    }
    ++opening.differing;
  }
  opening.outcome = differingSlots(file, unit, unread).empty() ? OpenOutcome::NothingDiffers
                                                               : OpenOutcome::Opened;
  return opening;
}

SetupOpening UnitController::layOverEntries(const UnitSetup& file, const std::string& path,
                                            const char* backupReason) {
  SetupOpening opening = entriesOfSetup(file);
  if (!opening.opened()) {
    notifier_.show(
        {MessageKind::Other, SetupFileError(path,
                                            slotCaption(opening.slot) + " holds " + opening.text +
                                                ", which its box does not accept",
                                            opening.slot)
                                 .what()});
    return opening;
  }
  for (int s = 0; s < kRowSlots; ++s) {
    if (isEnterable(s)) view_.setEntryText(s, opening.entries[s]);
  }
  // What the boxes hold now (a box may have rewritten its text).
  opening.differing = 0;
  for (int s = 0; s < kRowSlots; ++s) {
    openedEntries_[s] = isEnterable(s) ? view_.entryText(s) : "";
    if (!openedEntries_[s].empty()) ++opening.differing;
  }
  openedReason_ = backupReason ? backupReason : "";
  return opening;
}

SetupSaving UnitController::saveSetupFile(const std::string& path) {
  SetupSaving saving;
  saving.unread = unreadSlotsToSave();
  refusedUnread_ = saving.unread;
  if (!saving.unread.empty()) {
    saving.outcome = SaveOutcome::UnreadSlots;
    std::string missing;
    for (int s : saving.unread) missing += (missing.empty() ? "" : ", ") + slotCaption(s);
    if (unreadRefusalsTold_)
      notifier_.show({MessageKind::Other,
                      "The unit's set-up was not saved: the last read-back did not get " + missing +
                          " from the unit. Check the cable and the unit's power, then read the "
                          "unit back and save again."});
    return saving;
  }
  if (!recordIsTheUnits("Nothing was saved.")) {
    saving.outcome = SaveOutcome::NotTheRecord;
    return saving;
  }
  try {
    writeSetupFile(path, readBackSetup());
  } catch (const SetupFileError& e) {
    qCDebug(lcApp, "set-up file not written: %s", e.what());
    notifier_.show({MessageKind::Other, e.what()});
    saving.outcome = SaveOutcome::NotWritten;
    return saving;
  }
  saving.outcome = SaveOutcome::Saved;
  return saving;
}

SetupOpening UnitController::openBackup(const std::string& path) {
  const std::optional<UnitSetup> file = readSetupFileOrTell(path);
  if (!file) return refusedFor(OpenRefusal::Unreadable);
  const std::vector<std::string> differences =
      unitDifferences(identityOf(*file), identityOf(readBackSetup()));
  if (!differences.empty()) {
    std::string question = "This backup is not of the unit read back last:";
    for (const std::string& d : differences) question += "\n- " + d;
    question += "\n\nOpen it anyway? Its values go into the boxes; \"Update\" sends them.";
    if (!view_.confirm(question)) return refusedFor(OpenRefusal::OtherUnit);
  }
  return layOverEntries(*file, path, kBackupBeforeRestore);
}

std::vector<BackupEntry> UnitController::backups() const {
  if (context_.backupsDir.empty()) return {};
  return listBackups(context_.backupsDir);
}

}  // namespace ku
