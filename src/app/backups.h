// Automatic backups: before every upload the set-up read back last is written
// as a set-up file of its own to the backups folder. A backup is written
// atomically (temporary file beside it, flushed to disk, renamed), named by the
// UTC time to the millisecond, never overwritten and never removed. Each records
// where its values came from (device, stable name, the channel in slot 0) and
// why it was written, so that a restore takes only this unit's backups.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/setup_file.h"

class QDateTime;

namespace ku {

class BackupError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "2026-03-01T09-15-02.481Z.json"; a later attempt within the same millisecond
// adds "-1", "-2", ... before ".json".
std::string backupFileName(const QDateTime& utc, int attempt = 0);

// Writes setup as a new file in folder (made when missing), its "saved" time
// set to utc, and returns its path. Throws BackupError, with the folder and the
// reason, when it cannot.
std::string writeBackup(const std::string& folder, const UnitSetup& setup, const QDateTime& utc);
// The same at the present time.
std::string writeBackup(const std::string& folder, const UnitSetup& setup);

// Why a backup was written, as its "reason" records it.
inline constexpr char kBackupBeforeUpdate[] = "update";
inline constexpr char kBackupBeforeDefaults[] = "defaults";
inline constexpr char kBackupBeforeApply[] = "apply";
inline constexpr char kBackupBeforeRestore[] = "restore";

struct BackupEntry {
  std::string path;
  // "2026-03-01 09:15:02.481 UTC": the time recorded in the file, else (an
  // older or damaged file) the time in its name.
  std::string time;
  bool inFuture = false;  // that time lies after the moment of listing
  UnitIdentity unit;      // device, stable name, channel; unknown parts empty
  std::string reason;     // "update", "defaults", "apply", "restore"; empty when unknown
  std::string problem;    // why the file cannot be used; empty when it can
};

// The backups in folder, newest first by the time each records. Files not
// named like a backup are left out; a missing folder has none. A folder that
// exists but cannot be read throws BackupError with the reason.
std::vector<BackupEntry> listBackups(const std::string& folder);
std::vector<BackupEntry> listBackups(const std::string& folder, const QDateTime& now);

// Whether b is usable, was not written by a restore (a restore's own backup
// holds what the restore replaced) and is of unit, or of any unit when anyUnit.
bool restorable(const BackupEntry& b, const UnitIdentity& unit, bool anyUnit);

// The newest usable backup of unit that no restore wrote (a restore's own
// backup holds what the restore replaced), or of any unit when anyUnit; one
// whose time lies in the future only when no other is left; nullptr when
// there is none.
const BackupEntry* newestBackupToRestore(const std::vector<BackupEntry>& list,
                                         const UnitIdentity& unit, bool anyUnit);

// "2026-03-01 09:15:02.481 UTC"
std::string backupTimeText(const QDateTime& utc);

}  // namespace ku
