// kuctl info: the version and every path kuctl would use, and why.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "app/folders.h"
#include "app/serial_ports.h"

namespace ku::cli {

// How the command line names the port: a device path, a port number, or neither
// (comms.ini then names it).
struct PortChoice {
  std::optional<std::string> device;
  std::optional<int> portNumber;
};

// The device kuctl would open, and why: the path given, or what the port number
// (given, or read from the settings file) maps to. Empty path when no port is
// named (kuctl would show the invalid-port message).
ChosenPath chooseDevice(const Folders& folders, const PortChoice& choice);

void printInfo(const Folders& folders, const PortChoice& choice, bool json, std::ostream& out);

// One block per port (device, then description, manufacturer, serial number and
// stable name when known), or a JSON document {"ports": [...]}.
void printPorts(const std::vector<SerialPortEntry>& ports, bool json, std::ostream& out);

}  // namespace ku::cli
