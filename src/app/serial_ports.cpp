#include "app/serial_ports.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSerialPortInfo>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace ku {
namespace {

QString q(const std::string& s) {
  return QString::fromStdString(s);
}

}  // namespace

std::string stablePathFor(const std::string& device, const std::string& stableFolder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<fs::path> links;
  for (fs::directory_iterator it(stableFolder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_symlink(ec)) links.push_back(it->path());
  }
  std::sort(links.begin(), links.end());
  for (const fs::path& link : links) {
    std::error_code same;
    if (fs::equivalent(link, device, same) && !same) return link.string();
  }
  return {};
}

SerialPortEntry describeSerialPort(const QSerialPortInfo& info, const std::string& stableFolder) {
  SerialPortEntry e;
  e.device = info.systemLocation().toStdString();
  e.description = info.description().toStdString();
  e.manufacturer = info.manufacturer().toStdString();
  e.serialNumber = info.serialNumber().toStdString();
  e.stablePath = stablePathFor(e.device, stableFolder);
  return e;
}

std::vector<SerialPortEntry> listSerialPorts(const std::string& stableFolder) {
  std::vector<SerialPortEntry> ports;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
    ports.push_back(describeSerialPort(info, stableFolder));
  std::sort(ports.begin(), ports.end(),
            [](const SerialPortEntry& a, const SerialPortEntry& b) { return a.device < b.device; });
  return ports;
}

std::string writePortSettings(const std::string& settingsFolder, const std::string& target) {
  if (target.empty()) return "no device was chosen";
  const QString folder = q(settingsFolder);
  if (!QDir().mkpath(folder)) return "cannot make the folder " + settingsFolder;

  const std::string link = settingsFolder + "/com1";
  const QFileInfo existing(q(link));
  if (existing.exists() && !existing.isSymLink())
    return link + " is not a symbolic link; it was left as it is";

  // The new link goes in beside the old one and then takes its place in one step.
  const std::string fresh = settingsFolder + "/.com1.new";
  ::unlink(fresh.c_str());
  if (::symlink(target.c_str(), fresh.c_str()) != 0)
    return "cannot make the link " + link + ": " + std::strerror(errno);
  if (::rename(fresh.c_str(), link.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    ::unlink(fresh.c_str());
    return "cannot make the link " + link + ": " + why;
  }

  QSaveFile ini(folder + "/comms.ini");
  if (!ini.open(QIODevice::WriteOnly) || ini.write("Port,1\n") != 7 || !ini.commit())
    return "cannot write " + settingsFolder + "/comms.ini: " + ini.errorString().toStdString();
  return {};
}

}  // namespace ku
