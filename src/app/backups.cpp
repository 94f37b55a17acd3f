#include "app/backups.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

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

// Writes the whole text to a new temporary file in folder and flushes it to disk.
std::string writeTemporary(const std::string& folder, const QByteArray& text) {
  std::string tmpl = folder + "/.backup-XXXXXX";
  const int fd = ::mkstemp(tmpl.data());
  if (fd < 0) fail(folder, errnoText(errno));
  const char* p = text.constData();
  std::size_t left = static_cast<std::size_t>(text.size());
  int err = 0;
  while (left > 0 && err == 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno != EINTR) err = errno;
    } else {
      p += n;
      left -= static_cast<std::size_t>(n);
    }
  }
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err != 0) {
    ::unlink(tmpl.c_str());
    fail(folder, errnoText(err));
  }
  return tmpl;
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

void syncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
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
  const std::string tmp = writeTemporary(folder, setupToJson(setup));
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string path = folder + "/" + backupFileName(utc, attempt);
    if (placeWithoutReplacing(folder, tmp, path)) {
      syncFolder(folder);
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
  static const QRegularExpression kName(QStringLiteral(
      "^(\\d{4}-\\d\\d-\\d\\dT\\d\\d-\\d\\d-\\d\\d\\.\\d{3})Z(?:-(\\d{1,3}))?\\.json$"));
  struct Found {
    BackupEntry entry;
    QDateTime time;
    int attempt;
  };
  std::vector<Found> found;
  const QDir dir(QString::fromStdString(folder));
  for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
    const QRegularExpressionMatch m = kName.match(name);
    if (!m.hasMatch()) continue;
    const QDateTime read = QDateTime::fromString(m.captured(1), QLatin1String(kTimeFormat));
    if (!read.isValid()) continue;
    const QDateTime time(read.date(), read.time(), Qt::UTC);
    Found f{{dir.filePath(name).toStdString(), backupTimeText(time), {}, {}},
            time,
            m.captured(2).toInt()};
    try {
      f.entry.device = readSetupFile(f.entry.path).device;
    } catch (const SetupFileError& e) {
      f.entry.problem = e.what();
    }
    found.push_back(std::move(f));
  }
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    if (a.time != b.time) return a.time > b.time;
    return a.attempt > b.attempt;
  });
  std::vector<BackupEntry> list;
  for (Found& f : found) list.push_back(std::move(f.entry));
  return list;
}

}  // namespace ku
