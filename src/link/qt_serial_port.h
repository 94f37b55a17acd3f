// The serial port on QSerialPort. Port number N opens <program folder>/comN when
// that exists (a link to any serial device or pseudo-terminal), else /dev/ttyS<N-1>.
#pragma once

#include <memory>
#include <string>

#include "link/serial_port.h"

class QSerialPort;

namespace ku {

class QtSerialPort : public SerialPort {
 public:
  explicit QtSerialPort(std::string programDir);
  ~QtSerialPort() override;

  void setCommPort(std::int16_t number) override;
  void setHandshaking(std::int32_t mode) override;
  void setInputLen(std::int16_t len) override;
  void setRThreshold(std::int16_t n) override;
  void setRTSEnable(bool on) override;
  void setSettings(const std::string& settings) override;
  void setSThreshold(std::int16_t n) override;
  bool portOpen() const override;
  void setPortOpen(bool open) override;
  void output(const std::string& bytes) override;
  std::string input() override;

  // The device path that port number n maps to.
  std::string devicePathFor(int n) const;
  // The device of the selected port (for messages).
  std::string devicePath() const override;

 private:
  std::string programDir_;
  int commPort_ = 1;  // the control's initial number
  std::unique_ptr<QSerialPort> port_;
  bool rts_ = false;
  std::string settings_ = "9600,n,8,1";  // the control's initial settings
  std::int32_t handshaking_ = 0;
  int inputLen_ = 0;     // 0: a read returns everything received
  std::string pending_;  // received but held back by a non-zero input length
};

}  // namespace ku
