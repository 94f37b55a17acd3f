// comms.ini: items in pairs; the second item of the last pair is the port number.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace ku {

// The port number as the file gave it: unset, a number, or text.
using PortNumberValue = std::variant<std::monostate, double, std::string>;

// Reads the file at path. Sets portNumber (and firstItem) pair by pair; throws
// KuError 53 for a missing file and 62 when the file ends inside a pair (the
// values of the last complete pair remain).
void readCommsIni(const std::string& path, PortNumberValue& portNumber, PortNumberValue& firstItem);

// The port number as a signed 16-bit integer: unset gives 0, numbers round half
// to even, numeric text likewise; other text throws 13, out of range throws 6.
std::int16_t portNumberToInt16(const PortNumberValue& v);

}  // namespace ku
