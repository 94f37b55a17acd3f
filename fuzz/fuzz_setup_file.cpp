// The bytes as a set-up file: the reader either refuses it with its own error or
// gives values that an upload may send (slots 1..29 within their entry limits),
// and writing those values out reads back to the same values.
#include <QByteArray>
#include <cstddef>
#include <cstdint>

#include "app/setup_file.h"
#include "fuzz_support.h"

namespace {

void checkValues(const ku::UnitSetup& s) {
  for (int slot = 0; slot < ku::kRowSlots; ++slot) {
    const ku::SlotValue& v = s.values[static_cast<std::size_t>(slot)];
    if (ku::isEnterable(slot)) {
      KU_FUZZ_CHECK(v.has_value());
      KU_FUZZ_CHECK(*v >= 0 && *v <= ku::entryLimit(slot));
    } else if (v) {
      KU_FUZZ_CHECK(*v >= 0);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ku::fuzz::ScratchFile file("-setup.json");
  const std::string& path = file.write(data, size);
  ku::UnitSetup setup;
  try {
    setup = ku::readSetupFile(path);
  } catch (const ku::SetupFileError& e) {
    KU_FUZZ_CHECK(e.file() == path);
    KU_FUZZ_CHECK(!e.reason().empty());
    KU_FUZZ_CHECK(e.slot() >= -1 && e.slot() < ku::kRowSlots);
    return 0;
  }
  KU_FUZZ_CHECK(size > 0);
  checkValues(setup);
  const ku::UnitSetup again = ku::setupFromJson(ku::setupToJson(setup), "again");
  KU_FUZZ_CHECK(again.values == setup.values);
  KU_FUZZ_CHECK(again.device == setup.device);
  KU_FUZZ_CHECK(again.program == setup.program);
  KU_FUZZ_CHECK(again.saved == setup.saved);
  return 0;
}
