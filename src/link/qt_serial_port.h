// The serial port on QSerialPort. Port number N opens <folder>/comN when that
// exists (a link to any serial device or pseudo-terminal), else /dev/ttyS<N-1>;
// the folder is where the settings were found.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "link/serial_port.h"

class QSerialPort;

namespace ku {

class QtSerialPort : public SerialPort {
 public:
  explicit QtSerialPort(std::string folder);
  ~QtSerialPort() override;

  void open(std::int16_t portNumber, const LineSettings& settings) override;
  void openDevice(const std::string& path, const LineSettings& settings) override;
  void close() override;
  bool isOpen() const override;
  void write(const std::string& bytes) override;
  std::string readAll() override;

  // The folder of the comN links, for the next open (the settings were moved).
  void setFolder(std::string folder) { folder_ = std::move(folder); }
  // The device path that port number n maps to.
  std::string devicePathFor(int n) const;
  // The device last opened or tried (for messages); empty before any open.
  std::string devicePath() const override { return device_; }
  // Read back from the descriptor with tcgetattr, and RTS from the modem lines.
  std::optional<LineInUse> lineInUse() const override;

 private:
  std::string folder_;
  std::string device_;
  std::unique_ptr<QSerialPort> port_;
};

// Opens device with the unit's line settings and closes it again, writing
// nothing: empty when it opened, else why not.
std::string tryOpeningPort(const std::string& device);

}  // namespace ku
