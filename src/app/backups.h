// Automatic backups: before every upload the set-up read back last is written
// as a set-up file of its own to the backups folder. A backup is written
// atomically (temporary file beside it, flushed to disk, renamed), named by the
// UTC time to the millisecond, never overwritten and never removed.
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

// Writes setup as a new file in folder (made when missing) and returns its path.
// Throws BackupError, with the folder and the reason, when it cannot.
std::string writeBackup(const std::string& folder, const UnitSetup& setup, const QDateTime& utc);
// The same at the present time.
std::string writeBackup(const std::string& folder, const UnitSetup& setup);

struct BackupEntry {
  std::string path;
  std::string time;     // "2026-03-01 09:15:02.481 UTC", from the file's name
  std::string device;   // from the file; empty when it cannot be read
  std::string problem;  // why the file cannot be used; empty when it can
};

// The backups in folder, newest first. Files not named like a backup are left
// out; a missing folder has none.
std::vector<BackupEntry> listBackups(const std::string& folder);

// "2026-03-01 09:15:02.481 UTC"
std::string backupTimeText(const QDateTime& utc);

}  // namespace ku
