// The port operations the link uses. A failing operation throws KuError with the
// link's code (8002 no such port, 8005 port held elsewhere, 8018 not open, ...).
#pragma once

#include <cstdint>
#include <string>

namespace ku {

class SerialPort {
 public:
  virtual ~SerialPort() = default;
  // Selects the port; an invalid number throws 8002 and keeps the earlier number.
  virtual void setCommPort(std::int16_t number) = 0;
  virtual void setHandshaking(std::int32_t mode) = 0;
  virtual void setInputLen(std::int16_t len) = 0;
  virtual void setRThreshold(std::int16_t n) = 0;
  virtual void setRTSEnable(bool on) = 0;
  // "4800,n,8,1": baud, parity, data bits, stop bits.
  virtual void setSettings(const std::string& settings) = 0;
  virtual void setSThreshold(std::int16_t n) = 0;
  virtual bool portOpen() const = 0;
  // true opens (8002, 8005), false closes.
  virtual void setPortOpen(bool open) = 0;
  // Sends each character as one byte, in order; returns once the bytes have left
  // the program (so a pause that follows really separates them on the line).
  virtual void output(const std::string& bytes) = 0;
  // Everything received and not yet read, possibly empty; removes it.
  virtual std::string input() = 0;
  // The device of the selected port, as set-up files record it; empty when unknown.
  virtual std::string devicePath() const { return {}; }
};

}  // namespace ku
