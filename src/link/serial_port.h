// The serial boundary: open a port (by number or by device path) with line
// settings, close it, write bytes, read what arrived. A failing operation throws
// KuError with the link's code (8002 no such port, 8005 port held elsewhere or
// not ours to open, 8018 not open, 57 a failed read or write).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "model/errors.h"

namespace ku {

// The device exists but the user may not open it (no rights to it): code 8005,
// as for a port held elsewhere, with the device named so the operator can be
// told what to do.
class PortAccessDenied : public KuError {
 public:
  PortAccessDenied(std::string device, const std::string& reason)
      : KuError(kPortAlreadyOpen, "Port already open: " + device + ": " + reason),
        device_(std::move(device)) {}
  const std::string& device() const { return device_; }

 private:
  std::string device_;
};

// Another program has the device open and locked: code 8005, with the device
// named so the operator knows which port is taken.
class PortHeld : public KuError {
 public:
  explicit PortHeld(const std::string& device)
      : KuError(kPortAlreadyOpen, "Port already open: " + device + " is held by another program"),
        device_(device) {}
  const std::string& device() const { return device_; }

 private:
  std::string device_;
};

// How the line runs.
struct LineSettings {
  enum class Parity { None, Even, Odd };
  enum class FlowControl { None, Software, Hardware };
  std::int32_t baudRate;
  int dataBits;
  Parity parity;
  int stopBits;
  FlowControl flowControl;
  bool requestToSend;  // RTS asserted while the port is open
};

// The unit's line: 4800 baud, 8 data bits, no parity, 1 stop bit, no flow
// control, RTS asserted.
inline constexpr LineSettings kUnitLine{
    4800, 8, LineSettings::Parity::None, 1, LineSettings::FlowControl::None, true};

// The line settings an open port has, read back from the system. A device
// without modem lines (a pseudo-terminal) says nothing of RTS.
struct LineInUse {
  LineSettings settings;  // baudRate -1 for a rate without a number here
  bool rtsKnown = false;  // settings.requestToSend holds only when true
};

// "4800 baud, 8 data bits, no parity, 1 stop bit, no flow control, RTS on":
// how the link's log names the line settings.
std::string lineSettingsText(const LineSettings& settings);

class SerialPort {
 public:
  virtual ~SerialPort() = default;
  // Opens port number n (8002 for a number below 1 or no such port, 8005 for a
  // port held by another program or one the user may not open).
  virtual void open(std::int16_t portNumber, const LineSettings& settings) = 0;
  // Opens a device by its path, with the same codes.
  virtual void openDevice(const std::string& path, const LineSettings& settings) = 0;
  // Closes the port; closing a closed port does nothing.
  virtual void close() = 0;
  virtual bool isOpen() const = 0;
  // Sends each character as one byte, in order; returns once the bytes have left
  // the program (so a pause that follows really separates them on the line).
  virtual void write(const std::string& bytes) = 0;
  // Everything received and not yet read, possibly empty; removes it.
  virtual std::string readAll() = 0;
  // The device last opened or tried, as set-up files record it; empty when unknown.
  virtual std::string devicePath() const { return {}; }
  // The line settings the open port really has, read back from the system
  // (tcgetattr, and RTS from the modem lines); none when not known.
  virtual std::optional<LineInUse> lineInUse() const { return std::nullopt; }
  // The same in short, as the wire trace gives it ("4800 baud 8N1, flow none,
  // RTS on"); empty when not known.
  std::string settingsInUse() const;
};

// A port that hands every operation to another one; a wrapper that watches or
// changes a few operations (timing the writes, say) overrides only those.
class ForwardingSerialPort : public SerialPort {
 public:
  explicit ForwardingSerialPort(SerialPort& target) : target_(target) {}
  void open(std::int16_t portNumber, const LineSettings& settings) override {
    target_.open(portNumber, settings);
  }
  void openDevice(const std::string& path, const LineSettings& settings) override {
    target_.openDevice(path, settings);
  }
  void close() override { target_.close(); }
  bool isOpen() const override { return target_.isOpen(); }
  void write(const std::string& bytes) override { target_.write(bytes); }
  std::string readAll() override { return target_.readAll(); }
  std::string devicePath() const override { return target_.devicePath(); }
  std::optional<LineInUse> lineInUse() const override { return target_.lineInUse(); }

 protected:
  SerialPort& target() { return target_; }

 private:
  SerialPort& target_;
};

}  // namespace ku
