// The reference-value refresh: the worked example, branch edges, failure cut-offs.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "expected.h"
#include "model/errors.h"
#include "model/slot_table.h"
#include "reference/lookups.h"
#include "reference/reference_values.h"

namespace ku {
namespace {

// Rows of both tables in memory; the key is read from the end of the query.
struct FakeTables {
  std::multimap<int, std::map<std::string, DbValue>> rfcontrol;
  std::multimap<int, std::map<std::string, DbValue>> config;
  int opens = 0;
  int closes = 0;
  std::optional<int> openFailure;  // code that open() throws
  std::vector<std::string> queries;
};

class FakeDatabase : public ReferenceDatabase {
 public:
  explicit FakeDatabase(FakeTables& t) : t_(t) {}
  ~FakeDatabase() override {
    if (!closed_) ++t_.closes;
  }
  void query(const std::string& sql) override {
    t_.queries.push_back(sql);
    const bool rf = sql.find("RFcontrol") != std::string::npos;
    const int key = std::stoi(sql.substr(sql.find("=  ") + 3));
    auto& table = rf ? t_.rfcontrol : t_.config;
    auto range = table.equal_range(key);
    for (auto it = range.first; it != range.second; ++it) rows_.push_back(it->second);
  }
  bool atEnd() const override { return pos_ >= rows_.size(); }
  DbValue field(const std::string& column) const override {
    const auto& row = rows_.at(pos_);
    auto it = row.find(column);
    if (it == row.end()) throw KuError(kDbItemNotFound, "no column " + column);
    return it->second;
  }
  void moveNext() override { ++pos_; }
  void close() override {
    if (!closed_) ++t_.closes;
    closed_ = true;
  }

 private:
  FakeTables& t_;
  std::vector<std::map<std::string, DbValue>> rows_;
  std::size_t pos_ = 0;
  bool closed_ = false;
};

class FakeOpener : public ReferenceDatabaseOpener {
 public:
  explicit FakeOpener(FakeTables& t) : t_(t) {}
  std::unique_ptr<ReferenceDatabase> open(const std::string& path, const std::string&) override {
    if (t_.openFailure) throw KuError(*t_.openFailure, "cannot open " + path);
    ++t_.opens;
    return std::make_unique<FakeDatabase>(t_);
  }

 private:
  FakeTables& t_;
};

// The three label columns, each cell unset until written.
struct RecordingCells : ReferenceCells {
  std::map<int, std::string> value, unit, description;
  int writes = 0;
  void setReferenceValue(int row, const std::string& text) override {
    value[row] = text;
    ++writes;
  }
  void setReferenceUnit(int row, const std::string& text) override {
    unit[row] = text;
    ++writes;
  }
  void setDescriptionValue(int row, const std::string& text) override {
    description[row] = text;
    ++writes;
  }
};

// The reference tables for the built-in defaults (keys 2 and 10) and a few more.
FakeTables standardTables() {
  FakeTables t;
  for (int v = 0; v < 256; ++v) {
    static const char* bands[] = {"LF", "MF", "HF", "DUAL"};
    static const char* nbl[] = {"1", "2", "4", "8"};
    t.rfcontrol.insert({v,
                        {{"TESTSIGNAL", std::string((v & 4) ? "ON" : "OFF")},
                         {"BAND", std::string(bands[v & 3])}}});
    t.config.insert({v,
                     {{"NBL", std::string(nbl[v & 3])},
                      {"NBF", std::string((v & 8) ? "Enab" : "Disb")},
                      {"CFG3", double((v & 4) ? 4 : 2)}}});
  }
  return t;
}

class ReferenceValuesTest : public ::testing::Test {
 public:
  ReferenceValuesTest()
      : tables_(standardTables()), opener_(tables_), lookups_(opener_, "db", values_) {
    reset();
  }
  // The built-in defaults with S(30) = 210, S(31) = 0, pulse width "0", the
  // standard tables, nothing looked up and no cell written.
  void reset() {
    slots_ = SlotValueArray{};
    for (std::size_t s = 0; s < test::kBuiltInDefaults.size(); ++s) {
      slots_[s] = static_cast<std::int16_t>(test::kBuiltInDefaults[s]);
    }
    slots_[30] = 210;
    slots_[31] = 0;
    pulse_ = "0";
    tables_ = standardTables();
    values_ = LookupValues{};
    cells_ = RecordingCells{};
  }

  void run() {
    ReferenceInputs in{slots_, pulse_, portReady_, locale_};
    refreshReferenceValues(in, lookups_, values_, cells_);
  }
  // Runs and expects a failure with the code.
  void runFails(int code) {
    try {
      run();
      ADD_FAILURE() << "refresh did not fail";
    } catch (const KuError& e) {
      EXPECT_EQ(e.code(), code) << e.what();
    }
  }
  void set(int slot, int value) {
    slots_[static_cast<std::size_t>(slot)] = static_cast<std::int16_t>(value);
  }

  SlotValueArray slots_{};
  std::string pulse_ = "0";
  bool portReady_ = true;
  NumberLocale locale_{"."};
  FakeTables tables_;
  FakeOpener opener_;
  LookupValues values_;
  ReferenceLookups lookups_;
  RecordingCells cells_;
};

struct Cell {
  char column;  // 'v' reference value, 'u' unit, 'd' description value
  int row;
  const char* text;
};

TEST_F(ReferenceValuesTest, WorkedExampleWithTheDefaults) {
  const Cell expected[] = {
      {'v', 1, "0"},       {'v', 2, "UNCAL"},   {'v', 3, "HF"},      {'u', 3, "OFF"},
      {'v', 4, "50"},      {'v', 5, "65.041"},  {'d', 5, "15.041"},  {'v', 6, "4"},
      {'d', 6, "2"},       {'d', 7, "Enab"},    {'v', 7, "400"},     {'v', 8, "4.004"},
      {'v', 9, "3.017"},   {'v', 10, "7.68"},   {'v', 17, "4.96"},   {'v', 11, "3.024"},
      {'v', 13, "50"},     {'d', 13, "24.529"}, {'v', 14, "13.021"}, {'d', 14, "47.498"},
      {'v', 15, "5.208"},  {'d', 15, "0"},      {'v', 16, "25.51"},  {'d', 16, "619.355"},
      {'v', 18, "0"},      {'v', 19, "14.118"}, {'v', 20, "25.098"}, {'d', 20, "10.039"},
      {'v', 27, "29.963"}, {'v', 28, "29.963"}, {'v', 30, "210"},    {'v', 31, "ON"},
  };
  run();
  for (const auto& c : expected) {
    auto& column = c.column == 'v'   ? cells_.value
                   : c.column == 'u' ? cells_.unit
                                     : cells_.description;
    ASSERT_TRUE(column.count(c.row)) << c.column << " row " << c.row << " not written";
    EXPECT_EQ(column[c.row], c.text) << c.column << " row " << c.row;
  }
  // Exactly these cells, nothing else.
  EXPECT_EQ(cells_.writes, static_cast<int>(std::size(expected)));
  EXPECT_EQ(tables_.opens, 2);
  EXPECT_EQ(tables_.closes, 2);

  pulse_ = "1";
  run();
  EXPECT_EQ(cells_.description[15], "7.56");
}

TEST_F(ReferenceValuesTest, DecimalCommaLocaleShowsAndReadsWithComma) {
  locale_ = NumberLocale{","};
  pulse_ = "1,0";
  run();
  EXPECT_EQ(cells_.value[5], "65,041");
  EXPECT_EQ(cells_.description[15], "7,56");
}

TEST_F(ReferenceValuesTest, QueriesUseTheControlBytesAsKeys) {
  set(3, 7);
  set(6, -5);
  tables_.config.insert(
      {-5, {{"NBL", std::string("N5")}, {"NBF", std::string("NEG")}, {"CFG3", 55.0}}});
  run();
  ASSERT_EQ(tables_.queries.size(), 2u);
  EXPECT_EQ(tables_.queries[0], "SELECT * FROM RFcontrol WHERE DECVAL =  7");
  EXPECT_EQ(tables_.queries[1], "SELECT * FROM CONFIG WHERE CDV =  -5");
  EXPECT_EQ(cells_.value[3], "DUAL");
  EXPECT_EQ(cells_.unit[3], "ON");
  EXPECT_EQ(cells_.description[6], "55");
}

TEST_F(ReferenceValuesTest, PortNotReadyWritesNothingAndOpensNothing) {
  portReady_ = false;
  set(5, -1);  // would fail if anything ran
  run();
  EXPECT_EQ(cells_.writes, 0);
  EXPECT_EQ(tables_.opens, 0);
}

// Every cell the refresh writes for the defaults, as column letter and row.
std::map<std::string, std::string> allCells(const RecordingCells& c) {
  std::map<std::string, std::string> all;
  for (const auto& [row, text] : c.value) all["v" + std::to_string(row)] = text;
  for (const auto& [row, text] : c.unit) all["u" + std::to_string(row)] = text;
  for (const auto& [row, text] : c.description) all["d" + std::to_string(row)] = text;
  return all;
}

// A slot neither read nor typed: exactly the cells that rest on it go empty (the
// band's unit cell back to its label), the others show as with the slot known,
// and a control byte not known is not looked up.
TEST_F(ReferenceValuesTest, CellsOfASlotNotKnownShowNothing) {
  struct Case {
    int slot;
    std::vector<std::string> empty;  // cells that go empty
    int queries;
  };
  const std::vector<std::string> clocks12 = {"v17", "v11", "v13", "d13", "v14",
                                             "d14", "v15", "d15", "v16", "d16"};
  const Case cases[] = {
      {0, {}, 2},
      {1, {"v1"}, 2},
      {2, {"v2"}, 2},
      {3, {"v3"}, 1},
      {4, {"v4", "d5"}, 2},
      {5, {"v5", "d5"}, 2},
      {6, {"v6", "d6", "d7"}, 1},
      {7, {"v7", "v9"}, 2},
      {8, {"v8", "v9"}, 2},
      {9, {"v9"}, 2},
      {10, {"v10"}, 2},
      {11, {"v11"}, 2},
      {12, clocks12, 2},
      {13, {"v13", "d13", "d14", "d15"}, 2},
      {14, {"v14", "d14"}, 2},
      {15, {"v15"}, 2},
      {16, {"v16"}, 2},
      {17, {"v17", "v11", "d13", "d14", "d15", "d16"}, 2},
      {18, {"v18"}, 2},
      {19, {"v19"}, 2},
      {20, {"v20", "d20"}, 2},
      {21, {}, 2},
      {26, {}, 2},
      {27, {"v27"}, 2},
      {28, {"v28"}, 2},
      {29, {}, 2},
      {30, {"v30"}, 2},
      {31, {"v31"}, 2},
  };
  run();
  const std::map<std::string, std::string> known = allCells(cells_);
  for (const Case& c : cases) {
    reset();
    slots_[static_cast<std::size_t>(c.slot)].reset();
    run();
    std::map<std::string, std::string> want = known;
    for (const std::string& cell : c.empty) want[cell] = "";
    if (c.slot == 3) want["u3"] = "Band";
    EXPECT_EQ(allCells(cells_), want) << "slot " << c.slot << " not known";
    EXPECT_EQ(static_cast<int>(tables_.queries.size()), c.queries) << "slot " << c.slot;
  }
}

TEST_F(ReferenceValuesTest, NothingKnownShowsNothingAndFailsNothing) {
  // A unit that never answered and no box typed: no cell from a zero that nobody
  // reported, no division by it, no lookup.
  slots_ = SlotValueArray{};
  EXPECT_NO_THROW(run());
  for (const auto& [cell, text] : allCells(cells_))
    EXPECT_EQ(text, cell == "u3" ? "Band" : "") << cell;
  EXPECT_TRUE(tables_.queries.empty());
  EXPECT_EQ(cells_.value.count(27), 1u);  // written empty, not left as it was

  // A typed Test Frequency alone shows its own figure and nothing beside it.
  set(4, 799);
  run();
  EXPECT_EQ(cells_.value[4], "50");
  EXPECT_EQ(cells_.description[5], "");
}

TEST_F(ReferenceValuesTest, RawRowsAndFlags) {
  struct Case {
    int slot, value, row;
    const char* text;
  };
  const Case cases[] = {
      {1, 1, 1, "1"},       {1, 255, 1, "255"},       {2, 0, 2, "UNCAL"},
      {2, 1, 2, "CAL"},     {2, -3, 2, "CAL"},        {30, 205, 30, "Disabled"},
      {30, 206, 30, "206"}, {30, -1, 30, "Disabled"}, {30, 32000, 30, "32000"},
      {31, 0, 31, "ON"},    {31, 1, 31, "OFF"},       {31, -1, 31, "OFF"},
  };
  for (const auto& c : cases) {
    const SlotValue before = slots_[static_cast<std::size_t>(c.slot)];
    set(c.slot, c.value);
    run();
    EXPECT_EQ(cells_.value[c.row], c.text) << "S(" << c.slot << ") = " << c.value;
    slots_[static_cast<std::size_t>(c.slot)] = before;
  }
}

TEST_F(ReferenceValuesTest, IfBranchAtOneHundred) {
  // V(4) = 80000 / (S4 + 1) / 2: S4 = 399 gives 100 exactly; the branch takes
  // V(5) - V(4) there and V(4) - V(5) above it.
  set(4, 399);
  set(5, 799);  // V(5) = 50
  run();
  EXPECT_EQ(cells_.value[4], "100");
  EXPECT_EQ(cells_.description[5], "-50");
  set(4, 398);  // V(4) = 100.251
  run();
  EXPECT_EQ(cells_.value[4], "100.251");
  EXPECT_EQ(cells_.description[5], "50.251");
  set(4, 400);  // V(4) = 99.751: V(5) - V(4)
  run();
  EXPECT_EQ(cells_.description[5], "-49.751");
}

TEST_F(ReferenceValuesTest, IfIsTheDifferenceOfTheRoundedFiguresNotRoundedAgain) {
  // V(4) = 80000 / 100 / 2 = 400, V(5) = Round(80000 / 101 / 2) = 396.04; the
  // difference in doubles is 3.9599999999999795, shown to 15 digits.
  set(4, 99);
  set(5, 100);
  run();
  EXPECT_EQ(cells_.value[4], "400");
  EXPECT_EQ(cells_.value[5], "396.04");
  EXPECT_EQ(cells_.description[5], "3.95999999999998");
}

// A refresh that fails ends at the failing step: the cells before it are
// written, the cells of that step and after it keep what they held.
struct CutOff {
  std::string what;
  std::function<void(ReferenceValuesTest&)> arrange;
  int code;
  std::vector<Cell> written;    // text nullptr: written, whatever it reads
  std::vector<Cell> untouched;  // text unused
};

std::map<int, std::string>& column(RecordingCells& cells, char c) {
  return c == 'v' ? cells.value : c == 'u' ? cells.unit : cells.description;
}

TEST_F(ReferenceValuesTest, AFailureEndsTheRefreshAtItsStep) {
  std::vector<CutOff> cases;
  // Divisors of the form S + 1, and S(27), S(28) themselves: the last reference
  // value written before the failing step, and the first one not written.
  struct Divisor {
    int slot, value, lastWritten, firstUntouched;
  };
  const Divisor divisors[] = {
      {4, -1, 2, 4},    {5, -1, 4, 5},    {9, -1, 8, 9},    {10, -1, 9, 10},
      {12, -1, 10, 17}, {17, -1, 10, 17}, {13, -1, 11, 13}, {14, -1, 13, 14},
      {15, -1, 14, 15}, {16, -1, 15, 16}, {27, 0, 20, 27},  {28, 0, 27, 28},
  };
  for (const Divisor& d : divisors) {
    cases.push_back({"S(" + std::to_string(d.slot) + ") = " + std::to_string(d.value),
                     [d](ReferenceValuesTest& t) { t.set(d.slot, d.value); },
                     kDivisionByZero,
                     {{'v', d.lastWritten, nullptr}},
                     {{'v', d.firstUntouched, nullptr}, {'v', 31, nullptr}}});
  }
  // V(17) = Round(80000 / 32001 / 32001 / 4) rounds to 0; row 11 divides by it.
  cases.push_back({"ref clock rounding to 0",
                   [](ReferenceValuesTest& t) {
                     t.set(12, 32000);
                     t.set(17, 32000);
                   },
                   kDivisionByZero,
                   {{'v', 17, "0"}},
                   {{'v', 11, nullptr}}});
  // A negative PHI-2 clock makes X1 greater than 1: a root of a negative number.
  cases.push_back({"negative PHI-1 clock",
                   [](ReferenceValuesTest& t) { t.set(13, -3); },
                   kInvalidArgument,
                   {{'v', 13, nullptr}},
                   {{'d', 13, nullptr}, {'v', 14, nullptr}}});
  // A pulse width that is not a number: step 19 ran, step 20 fails.
  for (const char* text : {"abc", "", "-", "1,5"}) {
    std::vector<Cell> after = {{'d', 15, nullptr}};
    for (int row : {16, 18, 19, 20, 27, 28, 30, 31}) after.push_back({'v', row, nullptr});
    cases.push_back({std::string("pulse width \"") + text + "\"",
                     [text](ReferenceValuesTest& t) { t.pulse_ = text; },
                     kTypeMismatch,
                     {{'v', 15, "5.208"}},
                     after});
  }
  cases.push_back({"pulse width 1e308",
                   [](ReferenceValuesTest& t) { t.pulse_ = "1e308"; },
                   kOverflow,
                   {{'v', 15, "5.208"}},
                   {{'d', 15, nullptr}}});
  // The database is missing: the first lookup fails at step 4.
  cases.push_back({"database missing",
                   [](ReferenceValuesTest& t) { t.tables_.openFailure = kDbFileNotFound; },
                   kDbFileNotFound,
                   {{'v', 2, "UNCAL"}},
                   {{'v', 3, nullptr}, {'u', 3, nullptr}, {'v', 4, nullptr}}});
  // Null values cannot be shown: the step that shows one fails there.
  auto nullIn = [](bool rf, const char* field) {
    return [rf, field](ReferenceValuesTest& t) {
      auto& table = rf ? t.tables_.rfcontrol : t.tables_.config;
      table.find(rf ? 2 : 10)->second[field] = DbNull{};
    };
  };
  cases.push_back({"BAND Null",
                   nullIn(true, "BAND"),
                   kInvalidUseOfNull,
                   {{'v', 2, "UNCAL"}},
                   {{'v', 3, nullptr}, {'u', 3, nullptr}}});
  cases.push_back({"TESTSIGNAL Null",
                   nullIn(true, "TESTSIGNAL"),
                   kInvalidUseOfNull,
                   {{'v', 3, "HF"}},
                   {{'u', 3, nullptr}, {'v', 4, nullptr}}});
  cases.push_back({"NBL Null",
                   nullIn(false, "NBL"),
                   kInvalidUseOfNull,
                   {{'d', 5, "15.041"}},
                   {{'v', 6, nullptr}, {'d', 6, nullptr}, {'d', 7, nullptr}}});
  cases.push_back({"NBF Null",
                   nullIn(false, "NBF"),
                   kInvalidUseOfNull,
                   {{'v', 6, "4"}, {'d', 6, "2"}},
                   {{'d', 7, nullptr}, {'v', 7, nullptr}}});
  // A Null found earlier stays when the new key matches no row, and fails again.
  cases.push_back({"BAND Null kept past a key with no row",
                   [nullIn](ReferenceValuesTest& t) {
                     nullIn(true, "BAND")(t);
                     t.runFails(kInvalidUseOfNull);
                     t.set(3, 999);
                   },
                   kInvalidUseOfNull,
                   {{'v', 2, "UNCAL"}},
                   {{'v', 3, nullptr}, {'u', 3, nullptr}}});
  cases.push_back({"NBF Null kept past a key with no row",
                   [nullIn](ReferenceValuesTest& t) {
                     nullIn(false, "NBF")(t);
                     t.runFails(kInvalidUseOfNull);
                     t.set(6, 999);
                   },
                   kInvalidUseOfNull,
                   {{'v', 6, "4"}, {'d', 6, "2"}},
                   {{'d', 7, nullptr}}});

  for (const CutOff& c : cases) {
    SCOPED_TRACE(c.what);
    reset();
    c.arrange(*this);
    cells_ = RecordingCells{};
    runFails(c.code);
    for (const Cell& w : c.written) {
      auto& cells = column(cells_, w.column);
      ASSERT_TRUE(cells.count(w.row)) << w.column << " row " << w.row << " not written";
      if (w.text) {
        EXPECT_EQ(cells[w.row], w.text) << w.column << " row " << w.row;
      }
    }
    for (const Cell& u : c.untouched) {
      EXPECT_FALSE(column(cells_, u.column).count(u.row)) << u.column << " row " << u.row;
    }
  }
}

TEST_F(ReferenceValuesTest, LocalOscillatorMinusOneLeavesRowFiveAndLaterUntouched) {
  set(5, -1);
  runFails(kDivisionByZero);
  for (int row : {1, 2, 3, 4}) EXPECT_TRUE(cells_.value.count(row)) << row;
  EXPECT_TRUE(cells_.unit.count(3));
  EXPECT_EQ(cells_.value.size(), 4u);
  EXPECT_TRUE(cells_.description.empty());
  EXPECT_EQ(tables_.opens, 1);  // the CONFIG lookup never ran
}

TEST_F(ReferenceValuesTest, NoMatchingRowShowsEarlierValues) {
  run();
  set(3, 999);  // no such row
  set(6, 999);
  cells_ = RecordingCells{};
  run();
  EXPECT_EQ(cells_.value[3], "HF");
  EXPECT_EQ(cells_.unit[3], "OFF");
  EXPECT_EQ(cells_.value[6], "4");
}

TEST_F(ReferenceValuesTest, NoRowEverShowsEmptyTexts) {
  set(3, 999);
  set(6, 999);
  run();
  EXPECT_EQ(cells_.value[3], "");
  EXPECT_EQ(cells_.unit[3], "");
  EXPECT_EQ(cells_.value[6], "");
  EXPECT_EQ(cells_.description[6], "");
  EXPECT_EQ(cells_.description[7], "");
}

TEST_F(ReferenceValuesTest, NumericLookupValuesShowAsNumbers) {
  tables_.rfcontrol.find(2)->second["BAND"] = 2.5;
  locale_ = NumberLocale{","};
  pulse_ = "0";
  run();
  EXPECT_EQ(cells_.value[3], "2,5");
}

TEST_F(ReferenceValuesTest, ExtremeSlotValuesNeverCrash) {
  const int extremes[] = {-32768, -2, -1, 0, 1, 255, 32767};
  for (int slot = 0; slot < 32; ++slot) {
    for (int v : extremes) {
      const SlotValue before = slots_[static_cast<std::size_t>(slot)];
      set(slot, v);
      try {
        run();
      } catch (const KuError& e) {
        EXPECT_TRUE(e.code() == kDivisionByZero || e.code() == kInvalidArgument ||
                    e.code() == kOverflow)
            << "S(" << slot << ") = " << v << ": " << e.what();
      }
      slots_[static_cast<std::size_t>(slot)] = before;
    }
  }
  for (const auto& [row, text] : cells_.value) {
    EXPECT_EQ(text.find("inf"), std::string::npos) << row;
    EXPECT_EQ(text.find("nan"), std::string::npos) << row;
  }
}

}  // namespace
}  // namespace ku
