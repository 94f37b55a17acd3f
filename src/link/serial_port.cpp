#include "link/serial_port.h"

namespace ku {

std::string lineSettingsText(const LineSettings& s) {
  const char* parity = s.parity == LineSettings::Parity::Even  ? "even parity"
                       : s.parity == LineSettings::Parity::Odd ? "odd parity"
                                                               : "no parity";
  const char* flow = s.flowControl == LineSettings::FlowControl::Software ? "XON/XOFF flow control"
                     : s.flowControl == LineSettings::FlowControl::Hardware ? "RTS/CTS flow control"
                                                                            : "no flow control";
  return std::to_string(s.baudRate) + " baud, " + std::to_string(s.dataBits) + " data bits, " +
         parity + ", " + std::to_string(s.stopBits) + " stop bit" + (s.stopBits == 1 ? "" : "s") +
         ", " + flow + ", RTS " + (s.requestToSend ? "on" : "off");
}

std::string SerialPort::settingsInUse() const {
  const std::optional<LineInUse> in = lineInUse();
  if (!in) return {};
  const LineSettings& s = in->settings;
  const char parity = s.parity == LineSettings::Parity::Even  ? 'E'
                      : s.parity == LineSettings::Parity::Odd ? 'O'
                                                              : 'N';
  const char* flow = s.flowControl == LineSettings::FlowControl::Hardware   ? "RTS/CTS"
                     : s.flowControl == LineSettings::FlowControl::Software ? "XON/XOFF"
                                                                            : "none";
  const char* rts = !in->rtsKnown ? "not known" : s.requestToSend ? "on" : "off";
  return (s.baudRate < 0 ? std::string("unknown") : std::to_string(s.baudRate)) + " baud " +
         std::to_string(s.dataBits) + parity + std::to_string(s.stopBits) + ", flow " + flow +
         ", RTS " + rts;
}

}  // namespace ku
