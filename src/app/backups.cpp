#include "app/backups.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "app/file_writing.h"
#include "model/log.h"

namespace ku {

namespace {

const char* const kTimeFormat = "yyyy-MM-ddTHH-mm-ss.zzz";

[[noreturn]] void fail(const std::string& folder, const std::string& reason) {
  throw BackupError("The backup of the unit's set-up could not be written to \"" + folder +
                    "\": " + reason + ".");
}

std::string errnoText(int err) {
  return std::strerror(err);
}

// Gives the temporary file its name unless a file of that name exists. Returns
// false when one does; throws on any other failure.
bool placeWithoutReplacing(const std::string& folder, const std::string& from,
                           const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  int err = errno;
  if (err == EEXIST) return false;
  if (err == EINVAL || err == ENOSYS || err == ENOTSUP) {
    // A file system without the no-replace rename: a hard link fails just the same
    // when the name is taken.
    if (::link(from.c_str(), to.c_str()) == 0) {
      ::unlink(from.c_str());
      return true;
    }
    err = errno;
    if (err == EEXIST) return false;
  }
  ::unlink(from.c_str());
  fail(folder, errnoText(err));
}

}  // namespace

std::string backupFileName(const QDateTime& utc, int attempt) {
  std::string name = utc.toUTC().toString(QLatin1String(kTimeFormat)).toStdString() + "Z";
  if (attempt > 0) name += "-" + std::to_string(attempt);
  return name + ".json";
}

std::string backupTimeText(const QDateTime& utc) {
  return utc.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toStdString() + " UTC";
}

std::string writeBackup(const std::string& folder, const UnitSetup& setup, const QDateTime& utc) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) fail(folder, ec.message());
  UnitSetup stamped = setup;
  stamped.saved = utc.toUTC().toString(Qt::ISODateWithMs).toStdString();
  std::string tmp;
  try {
    tmp = writeTemporaryFile(folder, ".backup-", setupToJson(stamped), 0600);
  } catch (const std::system_error& e) {
    fail(folder, e.code().message());
  }
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string path = folder + "/" + backupFileName(utc, attempt);
    if (placeWithoutReplacing(folder, tmp, path)) {
      syncFolder(folder);
      qCDebug(lcApp, "backup written: %s (%s)", path.c_str(), setup.reason.c_str());
      return path;
    }
  }
  ::unlink(tmp.c_str());
  fail(folder, "every name for this millisecond is taken");
}

std::string writeBackup(const std::string& folder, const UnitSetup& setup) {
  return writeBackup(folder, setup, QDateTime::currentDateTimeUtc());
}

std::vector<BackupEntry> listBackups(const std::string& folder) {
  return listBackups(folder, QDateTime::currentDateTimeUtc());
}

std::vector<BackupEntry> listBackups(const std::string& folder, const QDateTime& now) {
  static const QRegularExpression kName(QStringLiteral(
      "^(\\d{4}-\\d\\d-\\d\\dT\\d\\d-\\d\\d-\\d\\d\\.\\d{3})Z(?:-(\\d{1,3}))?\\.json$"));
  // A missing folder has no backups; one that is there but cannot be read is
  // not the same as an empty one.
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  if (ec && ec != std::errc::no_such_file_or_directory)
    throw BackupError("The backups folder \"" + folder + "\" cannot be read: " + ec.message() +
                      ".");
  std::vector<std::string> names;
  for (std::filesystem::directory_iterator end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (it->is_regular_file(typeError)) names.push_back(it->path().filename().string());
  }
  if (ec && ec != std::errc::no_such_file_or_directory)
    throw BackupError("The backups folder \"" + folder + "\" cannot be read: " + ec.message() +
                      ".");

  struct Found {
    BackupEntry entry;
    QDateTime time;
    QDateTime nameTime;
    int attempt = 0;
  };
  std::vector<Found> found;
  for (const std::string& name : names) {
    const QRegularExpressionMatch m = kName.match(QString::fromStdString(name));
    if (!m.hasMatch()) continue;
    const QDateTime read = QDateTime::fromString(m.captured(1), QLatin1String(kTimeFormat));
    if (!read.isValid()) continue;
    Found f;
    f.nameTime = QDateTime(read.date(), read.time(), Qt::UTC);
    f.attempt = m.captured(2).toInt();
    f.entry.path = folder + "/" + name;
    f.time = f.nameTime;
    try {
      const UnitSetup setup = readSetupFile(f.entry.path);
      f.entry.unit = identityOf(setup);
      f.entry.reason = setup.reason;
      const QDateTime saved =
          QDateTime::fromString(QString::fromStdString(setup.saved), Qt::ISODateWithMs);
      if (saved.isValid()) f.time = saved.toUTC();
    } catch (const SetupFileError& e) {
      f.entry.problem = e.what();
    }
    f.entry.time = backupTimeText(f.time);
    f.entry.inFuture = f.time > now;
    found.push_back(std::move(f));
  }
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    if (a.time != b.time) return a.time > b.time;
    if (a.nameTime != b.nameTime) return a.nameTime > b.nameTime;
    return a.attempt > b.attempt;
  });
  std::vector<BackupEntry> list;
  for (Found& f : found) list.push_back(std::move(f.entry));
  return list;
}

bool restorable(const BackupEntry& b, const UnitIdentity& unit, bool anyUnit) {
  return b.problem.empty() && b.reason != kBackupBeforeRestore &&
         (anyUnit || unitDifferences(b.unit, unit).empty());
}

const BackupEntry* newestBackupToRestore(const std::vector<BackupEntry>& list,
                                         const UnitIdentity& unit, bool anyUnit) {
  // A time in the future (a wrong clock, a copied file) does not make a backup
  // the newest while one with a believable time is there.
  for (const bool takeFuture : {false, true}) {
    for (const BackupEntry& b : list) {
      if (b.inFuture == takeFuture && restorable(b, unit, anyUnit)) return &b;
    }
  }
  return nullptr;
}

}  // namespace ku
