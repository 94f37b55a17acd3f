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

}  // namespace ku
