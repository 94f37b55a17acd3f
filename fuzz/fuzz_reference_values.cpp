// The bytes as 32 slot values and a pulse-width text: the refresh either writes
// every cell in its fixed order or stops at a step with the system's own error,
// having written only the cells before that step; no number is ever shown as
// "inf" or "nan", and every number shown reads back as the number it stands for.
//
// Input: bytes 0-63 are slots 0..31 (16-bit, low byte first); byte 64 holds
// flags (bit 0 decimal comma, bit 1 port not ready, bit 2 slots holding -32768
// were never set); the rest is the text of the pulse-width box.
#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "model/errors.h"
#include "model/slot_table.h"
#include "reference/lookups.h"
#include "reference/number_text.h"
#include "reference/reference_database.h"
#include "reference/reference_values.h"

namespace {

// The in-memory reference database: a few rows per key, some with Nulls, some
// keys twice, one column missing on some rows.
struct Row {
  std::vector<std::pair<std::string, ku::DbValue>> fields;
};

std::vector<Row> rowsFor(bool rf, int key) {
  std::vector<Row> rows;
  if (key < 0 || key > 255) return rows;
  const int copies = key % 7 == 3 ? 2 : 1;
  for (int c = 0; c < copies; ++c) {
    Row r;
    if (rf) {
      r.fields.emplace_back("TESTSIGNAL", std::string("TS") + std::to_string(key + c));
      ku::DbValue band;
      switch (key % 5) {
        case 0:
          band = ku::DbNull{};
          break;
        case 1:
          band = key / 2.0;
          break;
        default:
          band = std::string("B") + std::to_string(key);
      }
      r.fields.emplace_back("BAND", band);
    } else {
      r.fields.emplace_back("NBL", key * 1.5);
      r.fields.emplace_back("NBF", std::string(key % 2 ? "Enab" : "Disb"));
      if (key % 13 != 12) {
        r.fields.emplace_back("CFG3", key % 11 == 0 ? ku::DbValue(ku::DbNull{})
                                                    : ku::DbValue(static_cast<double>(key % 4)));
      }
    }
    rows.push_back(std::move(r));
  }
  return rows;
}

// The key text of a query: a plain decimal integer (sign, no blank, no zeros in front).
int keyOf(const std::string& sql, const std::string& prefix) {
  KU_FUZZ_CHECK(sql.compare(0, prefix.size(), prefix) == 0);
  const std::string k = sql.substr(prefix.size());
  KU_FUZZ_CHECK(!k.empty() && k.size() <= 6);
  std::size_t i = k[0] == '-' ? 1 : 0;
  KU_FUZZ_CHECK(i < k.size());
  KU_FUZZ_CHECK(k[i] != '0' || k.size() == i + 1);
  for (; i < k.size(); ++i) KU_FUZZ_CHECK(k[i] >= '0' && k[i] <= '9');
  const int key = std::stoi(k);
  KU_FUZZ_CHECK(key >= -32768 && key <= 32767);
  return key;
}

int openDatabases = 0;
int opens = 0;

class MemoryDatabase : public ku::ReferenceDatabase {
 public:
  MemoryDatabase() {
    ++openDatabases;
    ++opens;
  }
  ~MemoryDatabase() override {
    if (!closed_) --openDatabases;
  }
  void query(const std::string& sql) override {
    KU_FUZZ_CHECK(!closed_);
    static const std::string rf = "SELECT * FROM RFcontrol WHERE DECVAL =  ";
    static const std::string cfg = "SELECT * FROM CONFIG WHERE CDV =  ";
    if (sql.compare(0, rf.size(), rf) == 0) {
      rows_ = rowsFor(true, keyOf(sql, rf));
    } else {
      rows_ = rowsFor(false, keyOf(sql, cfg));
    }
    at_ = 0;
  }
  bool atEnd() const override { return at_ >= rows_.size(); }
  ku::DbValue field(const std::string& column) const override {
    KU_FUZZ_CHECK(!closed_);
    if (atEnd()) throw ku::KuError(3021, "No current record.");
    for (const auto& [name, value] : rows_[at_].fields) {
      if (name == column) return value;
    }
    throw ku::KuError(ku::kDbItemNotFound, "Item not found in this collection.");
  }
  void moveNext() override {
    if (atEnd()) throw ku::KuError(3021, "No current record.");
    ++at_;
  }
  void close() override {
    if (!closed_) --openDatabases;
    closed_ = true;
  }

 private:
  std::vector<Row> rows_;
  std::size_t at_ = 0;
  bool closed_ = false;
};

class MemoryOpener : public ku::ReferenceDatabaseOpener {
 public:
  std::unique_ptr<ku::ReferenceDatabase> open(const std::string&,
                                              const std::string& connect) override {
    KU_FUZZ_CHECK(connect == ku::kReferenceConnect);
    return std::make_unique<MemoryDatabase>();
  }
};

// Which cell a write went to: column (0 value, 1 unit, 2 description) and row.
using Cell = std::pair<int, int>;

class Cells : public ku::ReferenceCells {
 public:
  void setReferenceValue(int row, const std::string& text) override { add(0, row, text); }
  void setReferenceUnit(int row, const std::string& text) override { add(1, row, text); }
  void setDescriptionValue(int row, const std::string& text) override { add(2, row, text); }
  std::vector<Cell> order;
  std::vector<std::string> texts;

 private:
  void add(int column, int row, const std::string& text) {
    KU_FUZZ_CHECK(row >= 0 && row <= 32);
    order.emplace_back(column, row);
    texts.push_back(text);
  }
};

// Every cell of a refresh, in the order of its steps.
const std::vector<Cell> kFullOrder = {{0, 1},  {0, 2},  {0, 3},  {1, 3},  {0, 4},  {0, 5},  {2, 5},
                                      {0, 6},  {2, 6},  {2, 7},  {0, 7},  {0, 8},  {0, 9},  {0, 10},
                                      {0, 17}, {0, 11}, {0, 13}, {2, 13}, {0, 14}, {2, 14}, {0, 15},
                                      {2, 15}, {0, 16}, {2, 16}, {0, 18}, {0, 19}, {0, 20}, {2, 20},
                                      {0, 27}, {0, 28}, {0, 30}, {0, 31}};

bool isNumericCell(const Cell& c) {
  if (c.first == 0) {
    const int r = c.second;
    return (r >= 4 && r <= 5) || (r >= 7 && r <= 11) || (r >= 13 && r <= 20) || r == 27 || r == 28;
  }
  if (c.first == 2) {
    const int r = c.second;
    return r == 5 || r == 13 || r == 14 || r == 15 || r == 16 || r == 20;
  }
  return false;
}

bool containsWord(std::string text, const char* word) {
  for (char& ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return text.find(word) != std::string::npos;
}

// A number as the window shows it: optional minus, digits, and at most three
// decimals after the locale's separator, no trailing zero, no "-0".
#define KU_NUMBER_CHECK(cond)                                      \
  do {                                                             \
    if (!(cond)) {                                                 \
      std::fprintf(stderr, "number text: \"%s\"\n", text.c_str()); \
      ::ku::fuzz::fail(__FILE__, __LINE__, #cond);                 \
    }                                                              \
  } while (0)

// rounded: the number was rounded to 3 decimals before it was shown. The IF
// beside row 5 is a difference of two rounded numbers and is not rounded again,
// so it may show a tail such as "-40.3230000000001" within its 15 digits.
void checkNumberText(const std::string& text, const ku::NumberLocale& loc, bool rounded) {
  std::size_t i = 0;
  if (!text.empty() && text[0] == '-') i = 1;
  const std::size_t intStart = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  KU_NUMBER_CHECK(i > intStart);
  KU_NUMBER_CHECK(text[intStart] != '0' || i == intStart + 1);
  if (i < text.size()) {
    KU_NUMBER_CHECK(text.compare(i, loc.decimalPoint.size(), loc.decimalPoint) == 0);
    i += loc.decimalPoint.size();
    const std::size_t fracStart = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    KU_NUMBER_CHECK(i == text.size());
    KU_NUMBER_CHECK(i > fracStart);
    if (rounded) KU_NUMBER_CHECK(i - fracStart <= 3);
    KU_NUMBER_CHECK(text.back() != '0');
  }
  KU_NUMBER_CHECK(text != "-0");
  // At most 15 significant digits.
  std::size_t significant = 0;
  bool leading = true;
  for (char ch : text) {
    if (ch < '0' || ch > '9') continue;
    if (leading && ch == '0') continue;
    leading = false;
    ++significant;
  }
  const bool integral = text.find_first_not_of("-0123456789") == std::string::npos;
  if (!integral) KU_NUMBER_CHECK(significant <= 15);
  const double back = ku::parseNumber(text, loc);  // must read back
  if (rounded) KU_NUMBER_CHECK(ku::round3(back) == back);
  KU_NUMBER_CHECK(ku::numberText(back, loc) == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::array<std::uint8_t, 65> head{};
  for (std::size_t i = 0; i < head.size() && i < size; ++i) head[i] = data[i];
  const std::string pulse =
      size > head.size()
          ? std::string(reinterpret_cast<const char*>(data + head.size()), size - head.size())
          : std::string("0");
  const std::uint8_t flags = head[64];
  const ku::NumberLocale locale{(flags & 1) ? "," : "."};
  const bool portReady = (flags & 2) == 0;

  ku::SlotValueArray slots{};
  for (std::size_t s = 0; s < 32; ++s) {
    const auto v = static_cast<std::int16_t>(head[2 * s] | (head[2 * s + 1] << 8));
    if ((flags & 4) && v == -32768) continue;
    slots[s] = v;
  }

  MemoryOpener opener;
  ku::LookupValues values;
  ku::ReferenceLookups lookups(opener, "TKUUtil.mdb", values);
  Cells cells;
  const ku::ReferenceInputs in{slots, pulse, portReady, locale};
  opens = 0;
  bool failed = false;
  try {
    ku::refreshReferenceValues(in, lookups, values, cells);
  } catch (const ku::KuError&) {
    failed = true;
  }
  KU_FUZZ_CHECK(openDatabases == 0);  // every lookup closed its database

  if (!portReady) {
    KU_FUZZ_CHECK(!failed && cells.order.empty() && opens == 0);
    return 0;
  }
  // The cells written: all, in order, or the cells before the failing step.
  KU_FUZZ_CHECK(cells.order.size() <= kFullOrder.size());
  for (std::size_t i = 0; i < cells.order.size(); ++i)
    KU_FUZZ_CHECK(cells.order[i] == kFullOrder[i]);
  if (!failed) KU_FUZZ_CHECK(cells.order.size() == kFullOrder.size());
  if (failed) KU_FUZZ_CHECK(cells.order.size() < kFullOrder.size());

  auto S = [&](std::size_t k) { return static_cast<int>(ku::valueOf(slots[k])); };
  bool anyUnset = false;
  for (std::size_t s = 0; s < 32; ++s) anyUnset |= !slots[s];
  // A cell from a slot that is not known is empty.
  auto known = [&](std::size_t k, const std::string& text) { return slots[k] ? text : ""; };
  for (std::size_t i = 0; i < cells.order.size(); ++i) {
    const Cell& c = cells.order[i];
    const std::string& text = cells.texts[i];
    KU_FUZZ_CHECK(!containsWord(text, "inf") && !containsWord(text, "nan"));
    // An empty figure only where some input was not known.
    if (isNumericCell(c) && text.empty()) KU_FUZZ_CHECK(anyUnset);
    if (isNumericCell(c) && !text.empty()) checkNumberText(text, locale, c != Cell{2, 5});
    if (c == Cell{0, 1}) KU_FUZZ_CHECK(text == known(1, std::to_string(S(1))));
    if (c == Cell{0, 2}) KU_FUZZ_CHECK(text == known(2, S(2) == 0 ? "UNCAL" : "CAL"));
    if (c == Cell{0, 30})
      KU_FUZZ_CHECK(text == known(30, S(30) < 206 ? "Disabled" : std::to_string(S(30))));
    if (c == Cell{0, 31}) KU_FUZZ_CHECK(text == known(31, S(31) == 0 ? "ON" : "OFF"));
  }
  return 0;
}
