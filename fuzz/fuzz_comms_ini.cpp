// The bytes as a comms.ini file: reading it and converting the port number may
// fail only with the link's own error, never crash, hang or throw anything else.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <variant>

#include "fuzz_support.h"
#include "link/comms_ini.h"
#include "model/errors.h"

namespace {

// An item that reached the program as text: never longer than the reader keeps,
// and, in a file without quotes, never holding a separator or an outer blank.
void checkTextItem(const ku::PortNumberValue& v, bool fileHasQuotes) {
  const auto* s = std::get_if<std::string>(&v);
  if (!s) return;
  KU_FUZZ_CHECK(s->size() <= 4096);
  if (fileHasQuotes) return;
  KU_FUZZ_CHECK(!s->empty());
  KU_FUZZ_CHECK(s->find_first_of(",\r\n") == std::string::npos);
  KU_FUZZ_CHECK(s->front() != ' ' && s->front() != '\t');
  KU_FUZZ_CHECK(s->back() != ' ' && s->back() != '\t');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ku::fuzz::ScratchFile file("-comms.ini");
  const std::string& path = file.write(data, size);
  const bool hasQuotes = size > 0 && std::memchr(data, '"', size) != nullptr;

  ku::PortNumberValue portNumber;
  ku::PortNumberValue firstItem;
  try {
    ku::readCommsIni(path, portNumber, firstItem);
  } catch (const ku::KuError& e) {
    // The file exists and is readable: only a file that ends inside a pair (62)
    // or a failed read (57) can stop the reader.
    KU_FUZZ_CHECK(e.code() == ku::kInputPastEnd || e.code() == ku::kDeviceIo);
    if (size == 0) KU_FUZZ_CHECK(std::holds_alternative<std::monostate>(portNumber));
  }
  checkTextItem(portNumber, hasQuotes);
  checkTextItem(firstItem, hasQuotes);
  if (const double* d = std::get_if<double>(&portNumber)) KU_FUZZ_CHECK(!std::isnan(*d));

  try {
    const std::int16_t port = ku::portNumberToInt16(portNumber);
    if (std::holds_alternative<std::monostate>(portNumber)) KU_FUZZ_CHECK(port == 0);
    if (const double* d = std::get_if<double>(&portNumber)) {
      KU_FUZZ_CHECK(std::isfinite(*d));
      KU_FUZZ_CHECK(static_cast<double>(port) == std::nearbyint(*d));
    }
  } catch (const ku::KuError& e) {
    KU_FUZZ_CHECK(e.code() == ku::kTypeMismatch || e.code() == ku::kOverflow);
    KU_FUZZ_CHECK(!std::holds_alternative<std::monostate>(portNumber));
    if (const double* d = std::get_if<double>(&portNumber)) {
      // Only a number outside the 16-bit range fails, and then as an overflow.
      KU_FUZZ_CHECK(e.code() == ku::kOverflow);
      KU_FUZZ_CHECK(!std::isfinite(*d) || std::nearbyint(*d) < -32768.0 ||
                    std::nearbyint(*d) > 32767.0);
    }
  }
  return 0;
}
