#include "app/setup_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <system_error>
#include <utility>
#include <vector>

#include "app/file_writing.h"
#include "model/log.h"

namespace ku {

namespace {

QString q(const std::string& s) {
  return QString::fromStdString(s);
}

// One JSON value as QJsonDocument writes it: "ku-setup" with its quotes and
// escapes, 2, null.
QByteArray jsonText(const QJsonValue& v) {
  const QByteArray array = QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact);
  return array.mid(1, array.size() - 2);  // drop the brackets
}

// The members of an object in the order a set-up file has them (a QJsonObject
// would sort its keys), each written "key": value.
using Members = std::vector<std::pair<QString, QJsonValue>>;
std::vector<QByteArray> memberTexts(const Members& members) {
  std::vector<QByteArray> texts;
  for (const auto& [key, value] : members) texts.push_back(jsonText(key) + ": " + jsonText(value));
  return texts;
}

QByteArray joined(const std::vector<QByteArray>& parts, const QByteArray& separator) {
  QByteArray out;
  for (const QByteArray& part : parts) {
    if (!out.isEmpty()) out += separator;
    out += part;
  }
  return out;
}

QJsonValue textValue(const std::string& s) {
  return q(s);
}

// A JSON value as the operator would recognise it in the file, kept short.
std::string shown(const QJsonValue& v) {
  if (v.isString()) {
    std::string s = v.toString().toStdString();
    if (s.size() > 40) s = s.substr(0, 40) + "...";
    return "the text \"" + s + "\"";
  }
  if (v.isDouble()) return QString::number(v.toDouble(), 'g', 15).toStdString();
  if (v.isBool()) return v.toBool() ? "true" : "false";
  if (v.isArray()) return "a list";
  if (v.isObject()) return "an object";
  return "null";
}

bool isWholeNumber(const QJsonValue& v) {
  if (!v.isDouble()) return false;
  const double d = v.toDouble();
  return std::isfinite(d) && std::floor(d) == d;
}

std::string sizeText(std::int64_t bytes) {
  if (bytes >= 1024 * 1024)
    return QString::number(static_cast<double>(bytes) / (1024.0 * 1024.0), 'f', 1).toStdString() +
           " MB";
  return std::to_string(bytes) + " bytes";
}

// The value of one slot entry; slots 1..29 must hold one within the entry limit,
// slots 0, 30 and 31 a value the read-back can give (0..32767) or null.
SlotValue slotValueOf(const QJsonObject& entry, int slot, const std::string& file) {
  const QJsonValue v = entry.value(QStringLiteral("value"));
  const bool uploaded = isEnterable(slot);
  if (v.isNull() || v.isUndefined()) {
    if (!uploaded) return std::nullopt;
    throw SetupFileError(file, slotCaption(slot) + " has no value", slot);
  }
  if (!v.isDouble())
    throw SetupFileError(file, slotCaption(slot) + " holds " + shown(v) + " where a number belongs",
                         slot);
  if (!isWholeNumber(v))
    throw SetupFileError(file, slotCaption(slot) + " holds " + shown(v) + ", not a whole number",
                         slot);
  const double d = v.toDouble();
  const int limit = uploaded ? entryLimit(slot) : 32767;
  if (d < 0 || d > limit)
    throw SetupFileError(file,
                         slotCaption(slot) + " holds " + shown(v) + ", outside its limit of 0 to " +
                             std::to_string(limit),
                         slot);
  return static_cast<std::int16_t>(d);
}

// The first key that one object of a well-formed JSON text holds twice, and the
// line it is on. Qt's reader keeps only the last of such keys without a word,
// so "value": 300, "value": 77 would read as 77.
struct RepeatedKey {
  std::string key;
  int line = 0;
};
std::optional<RepeatedKey> findRepeatedKey(const QByteArray& text) {
  // One set of keys per open object or list (a list's set stays empty).
  std::vector<std::set<QByteArray>> open;
  int line = 1;
  const qsizetype n = text.size();
  for (qsizetype i = 0; i < n; ++i) {
    const char c = text[i];
    if (c == '\n') {
      ++line;
    } else if (c == '{' || c == '[') {
      open.emplace_back();
    } else if ((c == '}' || c == ']') && !open.empty()) {
      open.pop_back();
    } else if (c == '"') {
      const qsizetype start = i;
      for (++i; i < n && text[i] != '"'; ++i) {
        if (text[i] == '\\') ++i;  // the escaped character cannot end the string
      }
      const QByteArray literal = text.mid(start, i - start + 1);
      qsizetype next = i + 1;
      while (next < n &&
             (text[next] == ' ' || text[next] == '\t' || text[next] == '\r' || text[next] == '\n'))
        ++next;
      // In well-formed JSON a string followed by a colon is a key.
      if (next >= n || text[next] != ':' || open.empty()) continue;
      // Compared as read, so "value" and "\u0076alue" are the same key.
      const QJsonArray decoded = QJsonDocument::fromJson("[" + literal + "]").array();
      const QByteArray key = decoded.isEmpty() ? literal : decoded.at(0).toString().toUtf8();
      if (!open.back().insert(key).second) return RepeatedKey{key.toStdString(), line};
    }
  }
  return std::nullopt;
}

}  // namespace

SetupFileError::SetupFileError(const std::string& file, const std::string& reason, int slot,
                               const char* verb)
    : std::runtime_error(std::string("Cannot ") + verb + " the set-up file \"" + file +
                         "\": " + reason + "."),
      file_(file),
      reason_(reason),
      slot_(slot) {}

std::vector<std::string> unitDifferences(const UnitIdentity& setupUnit, const UnitIdentity& unit) {
  std::vector<std::string> differences;
  const auto portName = [](const UnitIdentity& u) {
    return u.deviceById.empty() ? u.device : u.deviceById;
  };
  const bool bothStable = !setupUnit.deviceById.empty() && !unit.deviceById.empty();
  if (setupUnit.device.empty() && setupUnit.deviceById.empty()) {
    differences.push_back("it does not record the port it was read from");
  } else if (bothStable ? setupUnit.deviceById != unit.deviceById
                        : setupUnit.device != unit.device) {
    differences.push_back("it was read from " + portName(setupUnit) + ", this unit is on " +
                          portName(unit));
  }
  const auto channelName = [](const SlotValue& c) { return "channel " + std::to_string(*c + 1); };
  if (!setupUnit.channel) {
    differences.push_back("it does not record the unit's channel");
  } else if (!unit.channel) {
    differences.push_back("it was read from " + channelName(setupUnit.channel) +
                          ", and this unit's channel was not read back");
  } else if (*setupUnit.channel != *unit.channel) {
    differences.push_back("it was read from " + channelName(setupUnit.channel) +
                          ", this unit is on " + channelName(unit.channel));
  }
  return differences;
}

std::string slotCaption(int slot) {
  const SlotInfo& info = slotInfo(slot);
  return "slot " + std::to_string(slot) + " (" + (info.rowLabel ? info.rowLabel : "") + ")";
}

QByteArray setupToJson(const UnitSetup& setup) {
  Members head{{QStringLiteral("format"), QLatin1String(kSetupFormat)},
               {QStringLiteral("version"), kSetupVersion},
               {QStringLiteral("saved"), textValue(setup.saved)},
               {QStringLiteral("program"), textValue(setup.program)},
               {QStringLiteral("device"), textValue(setup.device)}};
  if (!setup.deviceById.empty())
    head.emplace_back(QStringLiteral("deviceById"), textValue(setup.deviceById));
  if (!setup.reason.empty()) head.emplace_back(QStringLiteral("reason"), textValue(setup.reason));
  // One line per slot: {"slot": 0, "name": "Channel No.(1-4)", "value": 2}.
  std::vector<QByteArray> slotLines;
  for (int s = 0; s < kRowSlots; ++s) {
    const SlotValue& v = setup.values[static_cast<std::size_t>(s)];
    const Members entry{{QStringLiteral("slot"), s},
                        {QStringLiteral("name"), QString::fromUtf8(slotInfo(s).rowLabel)},
                        {QStringLiteral("value"), v ? QJsonValue(*v) : QJsonValue()}};
    slotLines.push_back("{" + joined(memberTexts(entry), ", ") + "}");
  }
  std::vector<QByteArray> lines = memberTexts(head);
  lines.push_back(jsonText(QStringLiteral("slots")) + ": [\n    " + joined(slotLines, ",\n    ") +
                  "\n  ]");
  return "{\n  " + joined(lines, ",\n  ") + "\n}\n";
}

UnitSetup setupFromJson(const QByteArray& text, const std::string& file) {
  if (text.trimmed().isEmpty()) throw SetupFileError(file, "it is empty");
  QJsonParseError err{};
  const QJsonDocument doc = QJsonDocument::fromJson(text, &err);
  if (err.error != QJsonParseError::NoError)
    throw SetupFileError(file, "it is not JSON (" + err.errorString().toStdString() +
                                   " at character " + std::to_string(err.offset) + ")");
  if (!doc.isObject()) throw SetupFileError(file, "it is JSON but not a set-up (no object)");
  if (const std::optional<RepeatedKey> twice = findRepeatedKey(text))
    throw SetupFileError(file, "the key \"" + twice->key + "\" appears twice in one object (line " +
                                   std::to_string(twice->line) + ")");
  const QJsonObject root = doc.object();

  const QJsonValue format = root.value(QStringLiteral("format"));
  if (format.isUndefined())
    throw SetupFileError(file, std::string("it names no format (a set-up file has \"format\": \"") +
                                   kSetupFormat + "\")");
  if (format.toString() != QLatin1String(kSetupFormat))
    throw SetupFileError(file, "its format is " + shown(format) + ", not \"" + kSetupFormat + "\"");
  const QJsonValue version = root.value(QStringLiteral("version"));
  if (version.isUndefined()) throw SetupFileError(file, "it names no version");
  if (!isWholeNumber(version) || version.toDouble() != kSetupVersion)
    throw SetupFileError(file, "it is of version " + shown(version) +
                                   ", and this program reads version " +
                                   std::to_string(kSetupVersion));

  UnitSetup setup;
  setup.saved = root.value(QStringLiteral("saved")).toString().toStdString();
  setup.program = root.value(QStringLiteral("program")).toString().toStdString();
  setup.device = root.value(QStringLiteral("device")).toString().toStdString();
  setup.deviceById = root.value(QStringLiteral("deviceById")).toString().toStdString();
  setup.reason = root.value(QStringLiteral("reason")).toString().toStdString();

  const QJsonValue slotList = root.value(QStringLiteral("slots"));
  if (!slotList.isArray()) throw SetupFileError(file, "it has no list of slots");
  std::array<bool, kRowSlots> seen{};
  int index = 0;
  for (const QJsonValue& item : slotList.toArray()) {
    ++index;
    const std::string where = "entry " + std::to_string(index) + " of its slots";
    if (!item.isObject())
      throw SetupFileError(file, where + " is not a {\"slot\", \"value\"} pair");
    const QJsonObject entry = item.toObject();
    const QJsonValue slotNumber = entry.value(QStringLiteral("slot"));
    if (!isWholeNumber(slotNumber) || slotNumber.toDouble() < 0 ||
        slotNumber.toDouble() >= kRowSlots)
      throw SetupFileError(file, where + " names " + shown(slotNumber) +
                                     " where a slot number from 0 to 31 belongs");
    const int slot = static_cast<int>(slotNumber.toDouble());
    if (seen[static_cast<std::size_t>(slot)])
      throw SetupFileError(file, slotCaption(slot) + " appears twice", slot);
    seen[static_cast<std::size_t>(slot)] = true;
    setup.values[static_cast<std::size_t>(slot)] = slotValueOf(entry, slot, file);
  }
  for (int s = 1; s <= kValueSlots - 1; ++s) {
    if (!seen[static_cast<std::size_t>(s)])
      throw SetupFileError(file, slotCaption(s) + " is missing", s);
  }
  return setup;
}

UnitSetup readSetupFile(const std::string& path) {
  const QFileInfo info(q(path));
  if (!info.exists()) throw SetupFileError(path, "there is no such file");
  if (info.isDir()) throw SetupFileError(path, "it is a folder");
  if (!info.isFile()) throw SetupFileError(path, "it is not a plain file");
  if (info.size() > kSetupFileMaxBytes)
    throw SetupFileError(path, "it is " + sizeText(info.size()) +
                                   ", far too large for a set-up (they are about 3 KB)");
  QFile f(q(path));
  if (!f.open(QIODevice::ReadOnly))
    throw SetupFileError(path, "it cannot be read (" + f.errorString().toStdString() + ")");
  // Read one byte past the limit, in case the file grew since it was measured.
  const QByteArray text = f.read(kSetupFileMaxBytes + 1);
  if (f.error() != QFileDevice::NoError)
    throw SetupFileError(path, "it cannot be read (" + f.errorString().toStdString() + ")");
  if (text.size() > kSetupFileMaxBytes)
    throw SetupFileError(path, "it is far too large for a set-up (they are about 3 KB)");
  return setupFromJson(text, path);
}

namespace {

// The mode bits a new file gets: 0666 less the process's umask.
mode_t newFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

void writeSetupFile(const std::string& path, const UnitSetup& setup) {
  const auto refuse = [&path](const std::string& reason) {
    throw SetupFileError(path, reason, -1, "write");
  };
  // Only a new name or an existing regular file is written, through a symbolic
  // link too (then the link stays and its target is replaced). The mode bits
  // decide on read-only, not access(2): root passes that for any file, and the
  // operator marked the file read-only to keep it.
  std::string target = path;
  struct stat st {};
  bool exists = true;
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) refuse(std::strerror(errno));
    exists = false;
  } else if (S_ISLNK(st.st_mode)) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved || ::stat(resolved, &st) != 0) {
      const int err = errno;
      std::free(resolved);
      refuse("it is a symbolic link to " +
             std::string(err == ENOENT ? "nothing" : std::strerror(err)) +
             "; it was left unchanged");
    }
    target = resolved;
    std::free(resolved);
  }
  if (exists) {
    if (S_ISDIR(st.st_mode)) refuse("it is a folder; it was left unchanged");
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
      refuse("it is a device, not a regular file; it was left unchanged");
    if (S_ISFIFO(st.st_mode)) refuse("it is a FIFO, not a regular file; it was left unchanged");
    if (!S_ISREG(st.st_mode)) refuse("it is not a regular file; it was left unchanged");
    const mode_t writeBit = st.st_uid == ::geteuid()   ? S_IWUSR
                            : st.st_gid == ::getegid() ? S_IWGRP
                                                       : S_IWOTH;
    if ((st.st_mode & writeBit) == 0 || (::geteuid() != 0 && ::access(target.c_str(), W_OK) != 0))
      refuse("it is read-only; remove it first to write a new one in its place");
  }

  // Written aside in the same folder and renamed over the old file only when
  // whole and on disk: a full disk or any failed write leaves it as it was.
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : target.substr(0, slash);
  std::string temporary;
  try {
    temporary = writeTemporaryFile(folder, ".ku-setup-", setupToJson(setup),
                                   exists ? (st.st_mode & 07777) : newFileMode());
  } catch (const std::system_error& e) {
    refuse(e.code().message() + (exists ? "; the file was left as it was" : ""));
  }
  // The replaced file's owner keeps it when root writes over another's file.
  if (exists && ::geteuid() == 0) {
    if (::chown(temporary.c_str(), st.st_uid, st.st_gid) != 0) {
      // Best effort: the file is still the operator's to read.
    }
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    const int err = errno;
    ::unlink(temporary.c_str());
    refuse(std::string(std::strerror(err)) + (exists ? "; the file was left as it was" : ""));
  }
  syncFolder(folder);
  qCDebug(lcApp, "set-up file written: %s", target.c_str());
}

}  // namespace ku
