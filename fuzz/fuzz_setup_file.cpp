// The bytes as a set-up file: the reader either refuses it with its own error or
// gives values that an upload may send (slots 1..29 within their entry limits),
// and writing those values out reads back to the same values. An accepted file
// holds no key twice in one object: each of its members survived the parse.
#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

// The members of every object in v, counted through the tree a JSON reader
// keeps (of a key given twice, it keeps one).
long membersKept(const QJsonValue& v) {
  long n = 0;
  if (v.isObject()) {
    const QJsonObject o = v.toObject();
    n += o.size();
    for (auto it = o.begin(); it != o.end(); ++it) n += membersKept(it.value());
  } else if (v.isArray()) {
    for (const QJsonValue& item : v.toArray()) n += membersKept(item);
  }
  return n;
}

// The members written in the text: in JSON every colon outside a string
// separates a key from its value.
long membersWritten(const std::uint8_t* data, std::size_t size) {
  long colons = 0;
  bool inString = false;
  for (std::size_t i = 0; i < size; ++i) {
    if (inString) {
      if (data[i] == '\\')
        ++i;
      else if (data[i] == '"')
        inString = false;
    } else if (data[i] == '"') {
      inString = true;
    } else if (data[i] == ':') {
      ++colons;
    }
  }
  return colons;
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
  const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  KU_FUZZ_CHECK(membersKept(QJsonDocument::fromJson(text).object()) == membersWritten(data, size));
  const ku::UnitSetup again = ku::setupFromJson(ku::setupToJson(setup), "again");
  KU_FUZZ_CHECK(again.values == setup.values);
  KU_FUZZ_CHECK(again.device == setup.device);
  KU_FUZZ_CHECK(again.program == setup.program);
  KU_FUZZ_CHECK(again.saved == setup.saved);
  return 0;
}
