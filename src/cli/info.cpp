#include "cli/info.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <ostream>

#include "app/version.h"
#include "link/comms_ini.h"
#include "model/errors.h"

namespace ku::cli {

ChosenPath chooseDevice(const Folders& folders, const PortChoice& choice) {
  if (choice.device) {
    const QFileInfo info(QString::fromStdString(*choice.device));
    std::string why = "given with --device";
    if (info.isSymLink()) why += ", a link to " + info.symLinkTarget().toStdString();
    if (!info.exists()) why += " (missing)";
    return {*choice.device, why, info.exists()};
  }
  int n = 0;
  std::string from;
  if (choice.portNumber) {
    n = *choice.portNumber;
    from = "port " + std::to_string(n) + " from --port; ";
  } else {
    if (!folders.settingsFile.exists)
      return {"", "none: comms.ini is missing (the invalid-port message)", false};
    // Read as the load step reads it: the last complete pair counts.
    PortNumberValue number, firstItem;
    try {
      readCommsIni(folders.settingsFile.path, number, firstItem);
    } catch (const KuError&) {
    }
    try {
      n = portNumberToInt16(number);
    } catch (const KuError& e) {
      return {"", std::string("none: comms.ini's port number is not usable (") + e.what() + ")",
              false};
    }
    if (n < 1) {
      return {"", "none: comms.ini names port " + std::to_string(n) + " (the invalid-port message)",
              false};
    }
    from = "port " + std::to_string(n) + " from comms.ini; ";
  }
  ChosenPath device = portDevice(folders.linkFolderFor(n), n);
  device.reason = from + device.reason;
  return device;
}

namespace {

QJsonObject toJson(const ChosenPath& p) {
  QJsonObject o;
  o["path"] = p.path.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(p.path));
  o["reason"] = QString::fromStdString(p.reason);
  o["exists"] = p.exists;
  return o;
}

void printText(const char* label, const ChosenPath& p, std::ostream& out) {
  std::string padded = std::string(label) + ":";
  padded.resize(20, ' ');
  out << padded << (p.path.empty() ? "-" : p.path) << "\n"
      << "  " << p.reason << "\n";
}

}  // namespace

void printInfo(const Folders& folders, const PortChoice& choice, bool json, std::ostream& out) {
  const ChosenPath device = chooseDevice(folders, choice);
  if (json) {
    QJsonObject doc;
    doc["version"] = QString::fromLatin1(kVersion);
    doc["programFolder"] = QString::fromStdString(folders.programDir);
    doc["settingsFile"] = toJson(folders.settingsFile);
    doc["device"] = toJson(device);
    doc["referenceDatabase"] = toJson(folders.referenceDatabase);
    doc["backupsFolder"] = toJson(folders.backupsDir);
    out << QJsonDocument(doc).toJson(QJsonDocument::Indented).toStdString();
    return;
  }
  out << "kuctl " << kVersion << "\n"
      << "program folder:     " << folders.programDir << "\n";
  printText("settings file", folders.settingsFile, out);
  printText("device", device, out);
  printText("reference database", folders.referenceDatabase, out);
  printText("backups folder", folders.backupsDir, out);
}

void printPorts(const std::vector<SerialPortEntry>& ports, bool json, std::ostream& out) {
  auto text = [](const std::string& s) {
    return s.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(s));
  };
  if (json) {
    QJsonArray list;
    for (const SerialPortEntry& p : ports) {
      QJsonObject o;
      o["device"] = QString::fromStdString(p.device);
      o["description"] = text(p.description);
      o["manufacturer"] = text(p.manufacturer);
      o["serialNumber"] = text(p.serialNumber);
      o["stablePath"] = text(p.stablePath);
      list.append(o);
    }
    QJsonObject doc;
    doc["ports"] = list;
    out << QJsonDocument(doc).toJson(QJsonDocument::Indented).toStdString();
    return;
  }
  if (ports.empty()) out << "No serial ports found.\n";
  for (const SerialPortEntry& p : ports) {
    out << p.device << "\n";
    const std::pair<const char*, const std::string*> fields[] = {
        {"description:   ", &p.description},
        {"manufacturer:  ", &p.manufacturer},
        {"serial number: ", &p.serialNumber},
        {"stable path:   ", &p.stablePath}};
    for (const auto& [label, value] : fields) {
      if (!value->empty()) out << "  " << label << *value << "\n";
    }
  }
}

}  // namespace ku::cli
