#include "app/setup_file.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSaveFile>
#include <cmath>

namespace ku {

namespace {

QString q(const std::string& s) {
  return QString::fromStdString(s);
}

// A text as a JSON string literal, quotes and escapes included.
QByteArray jsonString(const std::string& s) {
  const QByteArray array = QJsonDocument(QJsonArray{q(s)}).toJson(QJsonDocument::Compact);
  return array.mid(1, array.size() - 2);  // drop the brackets
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

}  // namespace

SetupFileError::SetupFileError(const std::string& file, const std::string& reason, int slot,
                               const char* verb)
    : std::runtime_error(std::string("Cannot ") + verb + " the set-up file \"" + file +
                         "\": " + reason + "."),
      file_(file),
      reason_(reason),
      slot_(slot) {}

std::string slotCaption(int slot) {
  const SlotInfo& info = slotInfo(slot);
  return "slot " + std::to_string(slot) + " (" + (info.rowLabel ? info.rowLabel : "") + ")";
}

QByteArray setupToJson(const UnitSetup& setup) {
  QByteArray out;
  out += "{\n";
  out += "  \"format\": " + jsonString(kSetupFormat) + ",\n";
  out += "  \"version\": " + QByteArray::number(kSetupVersion) + ",\n";
  out += "  \"saved\": " + jsonString(setup.saved) + ",\n";
  out += "  \"program\": " + jsonString(setup.program) + ",\n";
  out += "  \"device\": " + jsonString(setup.device) + ",\n";
  out += "  \"slots\": [\n";
  for (int s = 0; s < kRowSlots; ++s) {
    const SlotValue& v = setup.values[static_cast<std::size_t>(s)];
    out += "    {\"slot\": " + QByteArray::number(s) +
           ", \"name\": " + jsonString(slotInfo(s).rowLabel) +
           ", \"value\": " + (v ? QByteArray::number(*v) : QByteArray("null")) + "}";
    out += s + 1 < kRowSlots ? ",\n" : "\n";
  }
  out += "  ]\n";
  out += "}\n";
  return out;
}

UnitSetup setupFromJson(const QByteArray& text, const std::string& file) {
  if (text.trimmed().isEmpty()) throw SetupFileError(file, "it is empty");
  QJsonParseError err{};
  const QJsonDocument doc = QJsonDocument::fromJson(text, &err);
  if (err.error != QJsonParseError::NoError)
    throw SetupFileError(file, "it is not JSON (" + err.errorString().toStdString() +
                                   " at character " + std::to_string(err.offset) + ")");
  if (!doc.isObject()) throw SetupFileError(file, "it is JSON but not a set-up (no object)");
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

void writeSetupFile(const std::string& path, const UnitSetup& setup) {
  QSaveFile f(q(path));
  if (!f.open(QIODevice::WriteOnly))
    throw SetupFileError(path, f.errorString().toStdString(), -1, "write");
  const QByteArray text = setupToJson(setup);
  if (f.write(text) != text.size() || !f.commit())
    throw SetupFileError(path, f.errorString().toStdString(), -1, "write");
}

}  // namespace ku
