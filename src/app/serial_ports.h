// The serial ports of this computer, and the user's choice of one: what kuctl
// ports prints and what the window's Port... dialog lists and writes.
#pragma once

#include <string>
#include <vector>

class QSerialPortInfo;

namespace ku {

struct SerialPortEntry {
  std::string device;  // /dev/ttyUSB0
  std::string description;
  std::string manufacturer;
  std::string serialNumber;
  // The stable name that links to the device (/dev/serial/by-id/...), empty
  // when there is none (on-board ports, for instance).
  std::string stablePath;

  // What a comN link should point at: the stable name when there is one.
  const std::string& preferredPath() const { return stablePath.empty() ? device : stablePath; }
};

inline constexpr char kStableSerialFolder[] = "/dev/serial/by-id";

// The ports Qt finds, in device order.
std::vector<SerialPortEntry> listSerialPorts(const std::string& stableFolder = kStableSerialFolder);

// One port as Qt describes it, with its stable name from stableFolder.
SerialPortEntry describeSerialPort(const QSerialPortInfo& info, const std::string& stableFolder);

// The link in stableFolder that resolves to device, empty when none does (or
// the folder does not exist). The first in name order when several do.
std::string stablePathFor(const std::string& device, const std::string& stableFolder);

// Makes port 1 the chosen device in the user's settings folder: writes comms.ini
// ("Port,1") and a link com1 to target there, making the folder when it is
// missing. An earlier comms.ini and com1 link are replaced; a com1 that is not a
// symbolic link is left alone and refused. Returns an empty text on success,
// else what went wrong (with the path), and then changes nothing it had not
// already written. The folders must then be resolved again (resolveFolders,
// useFolders) before the next load step; note that a comms.ini beside the
// program still wins over the one written here (Folders::settingsFile says which).
std::string writePortSettings(const std::string& settingsFolder, const std::string& target);

}  // namespace ku
