// The two lookups, over the Access fixtures and over a fake database.
#include <dirent.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define KU_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KU_TEST_ASAN 1
#endif
#endif
#ifndef KU_TEST_ASAN
#define KU_TEST_ASAN 0
#endif
#include <cstddef>
#if KU_TEST_ASAN
#include <sanitizer/lsan_interface.h>
// From the sanitizer runtime (gcc ships no header for it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "model/errors.h"
#include "model/slot_table.h"
#include "process_usage.h"
#include "reference/lookups.h"
#include "reference/reference_values.h"

namespace ku {
namespace {

namespace fs = std::filesystem;

std::string fixture(const std::string& name) {
  return std::string(KU_TEST_DATA_DIR) + "/" + name;
}

std::string text(const DbValue& v) {
  return dbValueText(v, NumberLocale{});
}

// While it lives, allocations are not reported as leaks (under LeakSanitizer).
struct IgnoreLeaks {
#if KU_TEST_ASAN
  IgnoreLeaks() {
    __lsan_disable();
  }
  ~IgnoreLeaks() {
    __lsan_enable();
  }
#endif
};

int errorCode(const std::function<void()>& f) {
  try {
    f();
  } catch (const KuError& e) {
    return e.code();
  }
  return 0;
}

using test::openDescriptors;

class FixtureLookups : public ::testing::Test {
 protected:
  ReferenceLookups on(const std::string& name) {
    return ReferenceLookups(*opener_, fixture(name), values_);
  }
  std::unique_ptr<ReferenceDatabaseOpener> opener_ = makeMdbOpener();
  LookupValues values_;
};

TEST(QueryText, TwoBlanksThenThePlainKey) {
  EXPECT_EQ(rfControlQuery(2), "SELECT * FROM RFcontrol WHERE DECVAL =  2");
  EXPECT_EQ(configQuery(-5), "SELECT * FROM CONFIG WHERE CDV =  -5");
  EXPECT_EQ(rfControlQuery(-5), "SELECT * FROM RFcontrol WHERE DECVAL =  -5");
  EXPECT_EQ(configQuery(2), "SELECT * FROM CONFIG WHERE CDV =  2");
  EXPECT_EQ(configQuery(-32768), "SELECT * FROM CONFIG WHERE CDV =  -32768");
}

TEST_F(FixtureLookups, ShippedDatabaseGivesTheDefaultsMeanings) {
  auto lookups = on("TKUUtil.mdb");
  lookups.lookUpRfControl(2);
  lookups.lookUpConfig(10);
  EXPECT_EQ(text(values_.band), "HF");
  EXPECT_EQ(text(values_.testSignal), "OFF");
  EXPECT_EQ(text(values_.nbl), "4");
  EXPECT_EQ(text(values_.nbf), "Enab");
  EXPECT_EQ(values_.cfg3Text, "2");
  EXPECT_TRUE(values_.cfg3Set);
}

TEST_F(FixtureLookups, EveryKeyFollowsTheTableFormulas) {
  auto lookups = on("TKUUtil.mdb");
  static const char* bands[] = {"LF", "MF", "HF", "DUAL"};
  static const char* nbl[] = {"1", "2", "4", "8"};
  for (int v : {0, 1, 3, 4, 7, 8, 12, 127, 255}) {
    lookups.lookUpRfControl(static_cast<std::int16_t>(v));
    lookups.lookUpConfig(static_cast<std::int16_t>(v));
    EXPECT_EQ(text(values_.band), bands[v & 3]) << v;
    EXPECT_EQ(text(values_.testSignal), (v & 4) ? "ON" : "OFF") << v;
    EXPECT_EQ(text(values_.nbl), nbl[v & 3]) << v;
    EXPECT_EQ(text(values_.nbf), (v & 8) ? "Enab" : "Disb") << v;
    EXPECT_EQ(values_.cfg3Text, (v & 4) ? "4" : "2") << v;
  }
}

TEST_F(FixtureLookups, NoMatchingRowChangesNothing) {
  auto lookups = on("TKUUtil.mdb");
  lookups.lookUpRfControl(300);
  lookups.lookUpConfig(-1);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(values_.band));
  EXPECT_TRUE(std::holds_alternative<std::monostate>(values_.nbl));
  EXPECT_FALSE(values_.cfg3Set);
  lookups.lookUpRfControl(1);
  lookups.lookUpRfControl(256);
  EXPECT_EQ(text(values_.band), "MF");
}

TEST_F(FixtureLookups, DuplicateKeysLeaveTheSecondRow) {
  auto lookups = on("duplicates.mdb");
  lookups.lookUpRfControl(2);
  lookups.lookUpConfig(10);
  EXPECT_EQ(text(values_.testSignal), "ON");
  EXPECT_EQ(text(values_.band), "SECOND");
  EXPECT_EQ(text(values_.nbl), "8");
  EXPECT_EQ(text(values_.nbf), "Enab");
  EXPECT_EQ(values_.cfg3Text, "16");
}

TEST_F(FixtureLookups, SparseAndExtremeKeys) {
  auto lookups = on("sparse.mdb");
  lookups.lookUpRfControl(-5);
  EXPECT_EQ(text(values_.testSignal), "NEG");
  EXPECT_EQ(text(values_.band), "MINUS5");
  lookups.lookUpRfControl(32767);
  EXPECT_EQ(text(values_.band), "HIGHEST");
  lookups.lookUpRfControl(3);  // odd keys are missing
  EXPECT_EQ(text(values_.band), "HIGHEST");
  lookups.lookUpConfig(-5);
  EXPECT_EQ(text(values_.nbl), "N5");
  EXPECT_EQ(values_.cfg3Text, "55");
  lookups.lookUpConfig(-32768);
  EXPECT_EQ(text(values_.nbl), "MIN");
  EXPECT_EQ(text(values_.nbf), "LOWEST");
  EXPECT_EQ(values_.cfg3Text, "99");
  lookups.lookUpConfig(5);
  EXPECT_EQ(values_.cfg3Text, "99");
}

TEST_F(FixtureLookups, NullsAreKeptAsNullAndFailWhenShown) {
  auto lookups = on("nulls.mdb");
  lookups.lookUpRfControl(5);
  EXPECT_TRUE(std::holds_alternative<DbNull>(values_.band));
  EXPECT_EQ(text(values_.testSignal), "ON");
  EXPECT_EQ(errorCode([&] { text(values_.band); }), kInvalidUseOfNull);
  lookups.lookUpRfControl(6);
  EXPECT_TRUE(std::holds_alternative<DbNull>(values_.testSignal));
  EXPECT_EQ(text(values_.band), "HF");

  lookups.lookUpConfig(13);
  EXPECT_TRUE(std::holds_alternative<DbNull>(values_.nbl));
  EXPECT_EQ(values_.cfg3Text, "4");

  // CFG3 Null cannot become text: the lookup fails after NBL and NBF were taken.
  values_.cfg3Text = "before";
  EXPECT_EQ(errorCode([&] { lookups.lookUpConfig(12); }), kInvalidUseOfNull);
  EXPECT_EQ(text(values_.nbl), "1");
  EXPECT_EQ(text(values_.nbf), "Enab");
  EXPECT_EQ(values_.cfg3Text, "before");
}

TEST_F(FixtureLookups, NumericBandIsANumber) {
  auto lookups = on("numeric-band.mdb");
  lookups.lookUpRfControl(2);
  ASSERT_TRUE(std::holds_alternative<double>(values_.band));
  EXPECT_EQ(std::get<double>(values_.band), 2.5);
  EXPECT_EQ(dbValueText(values_.band, NumberLocale{"."}), "2.5");
  EXPECT_EQ(dbValueText(values_.band, NumberLocale{","}), "2,5");
}

TEST_F(FixtureLookups, EngineFailures) {
  struct Case {
    const char* file;
    bool rf;
    int code;
  };
  const Case cases[] = {
      {"no-config-table.mdb", false, kDbTableNotFound},
      {"text-keys.mdb", true, kDbTypeMismatch},
      {"wrong-password.mdb", true, kDbNotValidPassword},
      {"wrong-password.mdb", false, kDbNotValidPassword},
      {"missing.mdb", true, kDbFileNotFound},
      {"missing.mdb", false, kDbFileNotFound},
  };
  for (const auto& c : cases) {
    LookupValues untouched;
    values_ = untouched;
    auto lookups = on(c.file);
    EXPECT_EQ(errorCode([&] { c.rf ? lookups.lookUpRfControl(2) : lookups.lookUpConfig(10); }),
              c.code)
        << c.file;
    EXPECT_TRUE(std::holds_alternative<std::monostate>(values_.band)) << c.file;
    EXPECT_TRUE(std::holds_alternative<std::monostate>(values_.nbl)) << c.file;
  }
  // The tables that do exist still answer.
  auto lookups = on("no-config-table.mdb");
  lookups.lookUpRfControl(2);
  EXPECT_EQ(text(values_.band), "HF");
  auto textKeys = on("text-keys.mdb");
  textKeys.lookUpConfig(10);
  EXPECT_EQ(text(values_.nbf), "Enab");
}

TEST_F(FixtureLookups, PasswordsAsTheEngineChecksThem) {
  auto db = opener_->open(fixture("no-password.mdb"), "MS Access;PWD=anything");
  db->close();
  db = opener_->open(fixture("no-password.mdb"), "MS Access");
  db->close();
  db = opener_->open(fixture("wrong-password.mdb"), "MS Access;PWD=SECRET");
  db->close();
  EXPECT_EQ(errorCode([&] { opener_->open(fixture("TKUUtil.mdb"), "MS Access;PWD=morel"); }),
            kDbNotValidPassword);
  EXPECT_EQ(errorCode([&] { opener_->open(fixture("TKUUtil.mdb"), "MS Access"); }),
            kDbNotValidPassword);
  auto lookups = on("no-password.mdb");
  lookups.lookUpConfig(10);
  EXPECT_EQ(values_.cfg3Text, "2");
}

TEST_F(FixtureLookups, QueryFailuresOfTheEngine) {
  auto db = opener_->open(fixture("TKUUtil.mdb"), kReferenceConnect);
  EXPECT_EQ(errorCode([&] { db->query("SELECT * FROM Nothing WHERE X =  1"); }), kDbTableNotFound);
  EXPECT_NE(errorCode([&] { db->query("SELECT * FROM CONFIG WHERE NOCOLUMN =  1"); }), 0);
  {
    // mdbtools' parser keeps the words of text it cannot parse (a few bytes);
    // the lookups never send such text, so that leak is not the program's.
    [[maybe_unused]] IgnoreLeaks engineParser;
    EXPECT_NE(errorCode([&] { db->query("this is not a query"); }), 0);
  }
  EXPECT_EQ(errorCode([&] { db->query("SELECT * FROM CONFIG WHERE CDV = 'a'"); }), kDbTypeMismatch);
  db->query(configQuery(10));
  ASSERT_FALSE(db->atEnd());
  EXPECT_EQ(errorCode([&] { db->field("NOSUCH"); }), kDbItemNotFound);
  EXPECT_EQ(text(db->field("nbf")), "Enab");  // column names ignore case
  db->moveNext();
  EXPECT_TRUE(db->atEnd());
  EXPECT_NE(errorCode([&] { db->field("NBF"); }), 0);
  db->close();
  db->close();
}

class DamagedFiles : public FixtureLookups {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) / ("ku-damaged-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string write(const std::string& name, const std::string& bytes) {
    const auto p = dir_ / name;
    std::ofstream(p, std::ios::binary) << bytes;
    return p.string();
  }
  static std::string original() {
    std::ifstream in(fixture("TKUUtil.mdb"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // The file at p is refused as a whole, whichever table is asked first, and
  // nothing of it reaches the shared values.
  void expectRefused(const std::string& p) {
    for (bool rfFirst : {true, false}) {
      SCOPED_TRACE(rfFirst ? "RFcontrol first" : "CONFIG first");
      LookupValues values;
      ReferenceLookups lookups(*opener_, p, values);
      int rf = 0;
      if (rfFirst) rf = errorCode([&] { lookups.lookUpRfControl(2); });
      const int config = errorCode([&] { lookups.lookUpConfig(10); });
      if (!rfFirst) rf = errorCode([&] { lookups.lookUpRfControl(2); });
      EXPECT_EQ(rf, kDbUnrecognised);
      EXPECT_EQ(config, kDbUnrecognised);
      EXPECT_TRUE(std::holds_alternative<std::monostate>(values.testSignal));
      EXPECT_TRUE(std::holds_alternative<std::monostate>(values.band));
      EXPECT_TRUE(std::holds_alternative<std::monostate>(values.nbl));
      EXPECT_TRUE(std::holds_alternative<std::monostate>(values.nbf));
      EXPECT_FALSE(values.cfg3Set);
    }
  }
  fs::path dir_;
};

TEST_F(DamagedFiles, FailWithAnErrorNeverACrash) {
  const std::string good = original();
  std::vector<std::string> paths;
  paths.push_back(write("empty.mdb", ""));
  std::mt19937 rng(7);
  std::string noise(good.size(), '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  paths.push_back(write("noise.mdb", noise));
  for (std::size_t cut : {std::size_t{100}, std::size_t{4096}, std::size_t{5000}, std::size_t{8192},
                          good.size() / 2, good.size() - 4096, good.size() - 1}) {
    paths.push_back(write("cut" + std::to_string(cut) + ".mdb", good.substr(0, cut)));
  }
  // The header intact, every later page noise.
  std::string headerOnly = good.substr(0, 4096) + noise.substr(4096);
  paths.push_back(write("header-only.mdb", headerOnly));
  paths.push_back(dir_.string());  // a folder

  for (const auto& p : paths) {
    SCOPED_TRACE(p);
    expectRefused(p);
  }
}

// A row that claims to have no columns at all (its column count and Null mask
// zeroed) used to take the program down inside mdbtools, which tested the key
// of every row through a null pointer. The row is skipped; the others answer.
TEST_F(DamagedFiles, ARowWithoutColumnsIsSkipped) {
  std::string bytes = original();
  constexpr std::size_t kPage = 4096;
  const std::size_t firstConfigRow = 32 * kPage + 4063;  // first row of CONFIG's first data page
  const std::size_t itsNullMask = 32 * kPage + kPage - 1;
  ASSERT_EQ(bytes[firstConfigRow], 5);  // CONFIG's five columns
  ASSERT_EQ(bytes[itsNullMask], 0x1f);
  bytes[firstConfigRow] = 0;
  bytes[itsNullMask] = 0;
  const std::string p = write("row-without-columns.mdb", bytes);

  LookupValues values;
  ReferenceLookups lookups(*opener_, p, values);
  EXPECT_EQ(errorCode([&] { lookups.lookUpConfig(0); }), 0);  // the damaged row's key
  EXPECT_FALSE(values.cfg3Set);
  EXPECT_EQ(errorCode([&] { lookups.lookUpConfig(10); }), 0);
  EXPECT_EQ(text(values.nbf), "Enab");
  EXPECT_EQ(values.cfg3Text, "2");
  EXPECT_EQ(errorCode([&] { lookups.lookUpRfControl(2); }), 0);
  EXPECT_EQ(text(values.band), "HF");
}

// Bytes changed in place, each refused as damaged with the values untouched.
//  - Page pointers that lead outside the file (36 pages), or to a page that is
//    not what they promise. mdbtools took a page beyond the end for an empty one
//    and went on with whatever it had read before: rows vanished without an
//    error, or the table was leaked on every lookup.
//  - A table definition whose counts or names run past its pages: mdbtools gave
//    up on the columns of such a table and leaked it on every lookup.
TEST_F(DamagedFiles, DamagedPointersAndDefinitionsAreRefused) {
  constexpr std::size_t kPage = 4096;
  constexpr std::size_t kConfigDefinition = 30 * kPage;
  struct Case {
    const char* what;
    std::size_t at;      // offset in the file
    std::string before;  // the bytes there in the shipped file
    std::string after;
  };
  const std::string beyond("\x24\x00\x00", 3);  // page 36, one past the last
  const std::string far("\xff\xff\xff", 3);
  const Case cases[] = {
      {"catalog entry of RFcontrol: its definition page", 14 * kPage + 2413,
       std::string("\x18\x00\x00", 3), beyond},
      {"catalog entry of RFcontrol, far out", 14 * kPage + 2413, std::string("\x18\x00\x00", 3),
       far},
      {"catalog's own usage map", 2 * kPage + 0x38, std::string("\x06\x00\x00", 3), beyond},
      {"RFcontrol's usage map", 24 * kPage + 0x38, std::string("\x19\x00\x00", 3), beyond},
      {"RFcontrol's definition continued", 24 * kPage + 4, std::string("\x00\x00\x00", 3), beyond},
      {"RFcontrol's usage bitmap page", 25 * kPage + 4028, std::string("\x1b\x00\x00", 3), far},
      {"a data page of RFcontrol owned by no table", 26 * kPage + 4, std::string("\x18\x00\x00", 3),
       beyond},
      {"a data page of RFcontrol owned by CONFIG", 26 * kPage + 4, std::string("\x18\x00\x00", 3),
       std::string("\x1e\x00\x00", 3)},
      {"CONFIG with 2^28 real indexes", kConfigDefinition + 0x33,
       std::string("\x00\x00\x00\x00", 4), std::string("\x00\x00\x00\x10", 4)},
      {"CONFIG with 65535 columns", kConfigDefinition + 0x2d, std::string("\x05\x00", 2),
       std::string("\xff\xff", 2)},
      {"CONFIG's first column name 65535 bytes long", kConfigDefinition + 188,
       std::string("\x06\x00", 2), std::string("\xff\xff", 2)},
  };
  const std::string good = original();
  const int descriptors = openDescriptors();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = good;
    ASSERT_EQ(bytes.substr(c.at, c.before.size()), c.before);
    bytes.replace(c.at, c.after.size(), c.after);
    expectRefused(write("damaged.mdb", bytes));
  }
  EXPECT_EQ(openDescriptors(), descriptors);
}

// Runs f in a child process as an unprivileged user (nobody) and returns the
// KuError code it ended with (0 for none, -1 when it could not run).
int codeAsNobody(const std::function<void()>& f) {
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(255);
    int code = 0;
    try {
      f();
    } catch (const KuError& e) {
      code = e.code();
    } catch (...) {
      ::_exit(254);
    }
    // Exit statuses hold one byte: report which of the expected codes it was.
    ::_exit(code == 0 ? 0 : code == 3051 ? 1 : code == kDbUnrecognised ? 2 : 3);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  switch (WEXITSTATUS(status)) {
    case 0:
      return 0;
    case 1:
      return 3051;
    case 2:
      return kDbUnrecognised;
    default:
      return -1;
  }
}

TEST_F(DamagedFiles, AFileThatCannotBeReadIsRefused) {
  const std::string p = write("locked.mdb", original());
  ::chmod(p.c_str(), 0);
  LookupValues values;
  ReferenceLookups lookups(*opener_, p, values);
  auto lookUp = [&] { lookups.lookUpRfControl(2); };
  // As root the file stays readable: the refusal is checked as an ordinary user.
  const int code =
      ::geteuid() == 0 ? (::chmod(dir_.c_str(), 0755), codeAsNobody(lookUp)) : errorCode(lookUp);
  EXPECT_EQ(code, 3051);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(values.band));
}

TEST_F(DamagedFiles, NoFileOfItsOwnInItsPlace) {
  struct Case {
    std::string path;
    int code;
  };
  const std::string fifo = (dir_ / "fifo.mdb").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const std::string loop = (dir_ / "loop.mdb").string();
  fs::create_symlink(loop, loop);
  const std::string dangling = (dir_ / "dangling.mdb").string();
  fs::create_symlink(dir_ / "nowhere.mdb", dangling);
  const std::string file = write("plain.mdb", original());
  const Case cases[] = {
      {fifo, kDbUnrecognised},                   // a pipe: never opened, so never waited on
      {"/dev/zero", kDbUnrecognised},            // a device that never ends
      {"/dev/null", kDbUnrecognised},            // a device with nothing in it
      {"/proc/self/mem", kDbUnrecognised},       // reads fail
      {loop, 3051},                              // a link to itself
      {dangling, kDbFileNotFound},               // a link to nothing
      {file + "/TKUUtil.mdb", kDbFileNotFound},  // a file where a folder should be
  };
  for (const auto& c : cases) {
    LookupValues values;
    ReferenceLookups lookups(*opener_, c.path, values);
    EXPECT_EQ(errorCode([&] { lookups.lookUpRfControl(2); }), c.code) << c.path;
    EXPECT_EQ(errorCode([&] { lookups.lookUpConfig(10); }), c.code) << c.path;
  }
}

TEST_F(FixtureLookups, NothingStaysOpen) {
  auto good = on("TKUUtil.mdb");
  auto noTable = on("no-config-table.mdb");
  auto nulls = on("nulls.mdb");
  auto missing = on("missing.mdb");
  auto wrong = on("wrong-password.mdb");
  const int before = openDescriptors();
  for (int i = 0; i < 40; ++i) {
    good.lookUpRfControl(static_cast<std::int16_t>(i));
    good.lookUpConfig(static_cast<std::int16_t>(i));
    errorCode([&] { noTable.lookUpConfig(1); });
    errorCode([&] { nulls.lookUpConfig(12); });
    errorCode([&] { missing.lookUpConfig(1); });
    errorCode([&] { wrong.lookUpRfControl(1); });
  }
  EXPECT_EQ(openDescriptors(), before);
}

// Heap bytes in use: the sanitizer's count under AddressSanitizer, glibc's otherwise.
std::size_t heapInUse() {
#if KU_TEST_ASAN
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

// Every query used to leave its search tree (over 300 bytes) behind in the
// engine: two lookups on every keystroke, so the program grew as it was used.
TEST_F(FixtureLookups, RepeatedLookupsDoNotGrowTheHeap) {
  auto lookups = on("TKUUtil.mdb");
  auto noRow = on("sparse.mdb");
  for (int i = 0; i < 20; ++i) {
    lookups.lookUpRfControl(2);
    lookups.lookUpConfig(10);
    noRow.lookUpConfig(-1);
  }
  const std::size_t before = heapInUse();
  for (int i = 0; i < 300; ++i) {
    lookups.lookUpRfControl(2);
    lookups.lookUpConfig(10);
    noRow.lookUpConfig(-1);
  }
  const std::size_t after = heapInUse();
  // 900 queries leaking 300 bytes each would be over 270 KB.
  EXPECT_LT(after, before + 32 * 1024)
      << "grew by " << static_cast<long long>(after) - static_cast<long long>(before) << " bytes";
}

// A database whose row lacks a column: the fields before it stay assigned.
class RowWithoutBand : public ReferenceDatabase {
 public:
  explicit RowWithoutBand(int& closes) : closes_(closes) {}
  void query(const std::string&) override {}
  bool atEnd() const override { return done_; }
  DbValue field(const std::string& column) const override {
    if (column == "TESTSIGNAL") return std::string("ON");
    if (column == "NBL") return std::string("8");
    throw KuError(kDbItemNotFound, "Item not found in this collection.");
  }
  void moveNext() override { done_ = true; }
  void close() override { ++closes_; }

 private:
  int& closes_;
  bool done_ = false;
};

class RowWithoutBandOpener : public ReferenceDatabaseOpener {
 public:
  std::unique_ptr<ReferenceDatabase> open(const std::string&, const std::string& connect) override {
    EXPECT_EQ(connect, "MS Access;PWD=MOREL");
    return std::make_unique<RowWithoutBand>(closes);
  }
  int closes = 0;
};

TEST(LookupFailures, MissingColumnKeepsEarlierFieldsAndClosesTheDatabase) {
  RowWithoutBandOpener opener;
  LookupValues values;
  values.band = std::string("old");
  values.nbf = std::string("old");
  ReferenceLookups lookups(opener, "any", values);
  EXPECT_EQ(errorCode([&] { lookups.lookUpRfControl(1); }), kDbItemNotFound);
  EXPECT_EQ(text(values.testSignal), "ON");
  EXPECT_EQ(text(values.band), "old");
  EXPECT_EQ(errorCode([&] { lookups.lookUpConfig(1); }), kDbItemNotFound);
  EXPECT_EQ(text(values.nbl), "8");
  EXPECT_EQ(text(values.nbf), "old");
  EXPECT_EQ(opener.closes, 2);
}

// One refresh against the shipped database, as the window runs it.
struct Cells : ReferenceCells {
  std::map<int, std::string> value, unit, description;
  void setReferenceValue(int row, const std::string& t) override { value[row] = t; }
  void setReferenceUnit(int row, const std::string& t) override { unit[row] = t; }
  void setDescriptionValue(int row, const std::string& t) override { description[row] = t; }
};

TEST_F(FixtureLookups, RefreshAgainstTheShippedDatabase) {
  SlotValueArray slots{};
  for (int s = 0; s < kValueSlots; ++s)
    slots[static_cast<std::size_t>(s)] = slotInfo(s).builtInDefault;
  slots[30] = 210;
  slots[31] = 0;
  const std::string pulse = "0";
  const NumberLocale loc{"."};
  ReferenceInputs in{slots, pulse, true, loc};
  auto lookups = on("TKUUtil.mdb");
  Cells cells;
  refreshReferenceValues(in, lookups, values_, cells);
  EXPECT_EQ(cells.value[3], "HF");
  EXPECT_EQ(cells.unit[3], "OFF");
  EXPECT_EQ(cells.value[6], "4");
  EXPECT_EQ(cells.description[6], "2");
  EXPECT_EQ(cells.description[7], "Enab");
  EXPECT_EQ(cells.value[31], "ON");

  // A missing database ends the refresh at step 4.
  auto missing = ReferenceLookups(*opener_, fixture("nothing-here.mdb"), values_);
  Cells after;
  EXPECT_EQ(errorCode([&] { refreshReferenceValues(in, missing, values_, after); }),
            kDbFileNotFound);
  EXPECT_EQ(after.value.size(), 2u);
  EXPECT_TRUE(after.unit.empty());
}

}  // namespace
}  // namespace ku
