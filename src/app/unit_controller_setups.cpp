// The controller's guards around an upload and its set-up files.
#include <QDateTime>

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
  return setupOfReadBack(values, unreadAtLastReadBack(), link_.port().devicePath(), m_.programName,
                         QDateTime::currentDateTimeUtc());
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
  notifier_.show(replyProblemText(check) + " " + consequence);
  return false;
}

UploadOutcome UnitController::guardUpload(UploadKind kind) {
  lastBackupPath_.clear();
  lastBackupError_.clear();
  EnteredSlots entered{};
  for (int s = 0; s < kRowSlots; ++s) entered[s] = !view_.entryText(s).empty();
  const std::vector<int> unread = unreadSlotsToSend(kind, unreadAtLastReadBack(), entered);
  if (!unread.empty()) {
    notifier_.show(unreadSlotsMessage(kind, unread, readBackRan_));
    return UploadOutcome::UnreadSlots;
  }
  // Checked before the backup: a backup of noise could never bring the unit back.
  if (!recordIsTheUnits("Nothing was sent.")) return UploadOutcome::NotTheRecord;
  if (m_.backupsDir.empty()) return UploadOutcome::Sent;
  try {
    lastBackupPath_ = writeBackup(m_.backupsDir, readBackSetup());
  } catch (const BackupError& e) {
    lastBackupError_ = e.what();
    if (!view_.confirm(uploadWithoutBackupQuestion(e.what()))) return UploadOutcome::NoBackup;
  }
  return UploadOutcome::Sent;
}

bool UnitController::openSetupFile(const std::string& path) {
  UnitSetup file;
  try {
    file = readSetupFile(path);
  } catch (const SetupFileError& e) {
    notifier_.show(e.what());
    return false;
  }
  SlotValueArray unit{};
  for (int s = 0; s < kRowSlots; ++s) unit[s] = readBackValues_[s];
  const auto texts = entriesForSetup(file, unit, unreadAtLastReadBack());
  // The file is taken whole or not at all: every box must accept its text first.
  for (int s = 0; s < kRowSlots; ++s) {
    if (!texts[s].empty() && !acceptedEntry(s, texts[s], m_.locale)) {
      notifier_.show(
          SetupFileError(
              path, slotCaption(s) + " holds " + texts[s] + ", which its box does not accept", s)
              .what());
      return false;
    }
  }
  for (int s = 0; s < kRowSlots; ++s) {
    if (isEnterable(s)) view_.setEntryText(s, texts[s]);
  }
  return true;
}

bool UnitController::saveSetupFile(const std::string& path) {
  const UnreadSlots unread = unreadAtLastReadBack();
  std::string missing;
  for (int s = 0; s < kRowSlots; ++s) {
    if (!unread[s]) continue;
    missing += (missing.empty() ? "" : ", ") + slotCaption(s);
  }
  if (!missing.empty()) {
    notifier_.show("The unit's set-up was not saved: the last read-back did not get " + missing +
                   " from the unit. Check the cable and the unit's power, then read the unit "
                   "back and save again.");
    return false;
  }
  if (!recordIsTheUnits("Nothing was saved.")) return false;
  try {
    writeSetupFile(path, readBackSetup());
  } catch (const SetupFileError& e) {
    notifier_.show(e.what());
    return false;
  }
  return true;
}

std::vector<BackupEntry> UnitController::backups() const {
  if (m_.backupsDir.empty()) return {};
  return listBackups(m_.backupsDir);
}

}  // namespace ku
