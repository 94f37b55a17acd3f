// The reference-database cache: answers identical to a fresh open for every
// fixture and key, files that change are read again, failures fail every time,
// nothing stays open, and the limits hold.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "model/errors.h"
#include "process_usage.h"
#include "reference/db_cache.h"
#include "reference/lookups.h"
#include "reference/number_text.h"
#include "scratch_dir.h"

namespace ku {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string fixture(const std::string& name) {
  return std::string(KU_TEST_DATA_DIR) + "/" + name;
}

using test::openDescriptors;

// Counts what reaches the engine, independently of the cache's own counters.
class CountingOpener : public ReferenceDatabaseOpener {
 public:
  explicit CountingOpener(std::unique_ptr<ReferenceDatabaseOpener> inner, int* count)
      : inner_(std::move(inner)), count_(count) {}
  std::unique_ptr<ReferenceDatabase> open(const std::string& path,
                                          const std::string& connect) override {
    ++*count_;
    return inner_->open(path, connect);
  }

 private:
  std::unique_ptr<ReferenceDatabaseOpener> inner_;
  int* count_;
};

DbCacheLimits noSettling() {
  DbCacheLimits limits;
  limits.settleTime = 0ns;
  return limits;
}

std::string describe(const DbValue& v) {
  if (std::holds_alternative<std::monostate>(v)) return "empty";
  if (std::holds_alternative<DbNull>(v)) return "null";
  if (const auto* s = std::get_if<std::string>(&v)) return "text[" + *s + "]";
  char buf[64];
  std::snprintf(buf, sizeof buf, "number[%a]", std::get<double>(v));
  return buf;
}

// Everything a caller can observe of one open and one query, in order: each
// row's values (or errors) for the asked columns, then reads past the end, the
// close and a query after it.
std::string transcript(ReferenceDatabaseOpener& opener, const std::string& path,
                       const std::string& connect, const std::string& sql) {
  static const char* const kAsked[] = {"TESTSIGNAL", "BAND", "NBL",    "NBF",  "CFG3",
                                       "DECVAL",     "CDV",  "HEXVAL", "band", "NOPE"};
  std::string t;
  auto step = [&t](const std::function<void()>& f) {
    try {
      f();
      return true;
    } catch (const KuError& e) {
      t += "error " + std::to_string(e.code()) + " '" + e.what() + "'; ";
      return false;
    }
  };
  std::unique_ptr<ReferenceDatabase> db;
  if (!step([&] { db = opener.open(path, connect); })) return t;
  if (step([&] { db->query(sql); })) {
    t += "columns";
    for (const auto& c : db->columns()) t += " " + c;
    t += "; ";
    int rows = 0;
    while (!db->atEnd() && rows < 1000) {
      ++rows;
      t += "row: ";
      for (const char* c : kAsked)
        step([&] { t += std::string(c) + "=" + describe(db->field(c)) + " "; });
      if (!step([&] { db->moveNext(); })) break;
    }
    t += "end: ";
    step([&] { t += describe(db->field("BAND")); });
    step([&] { db->moveNext(); });
  }
  t += db->atEnd() ? "at end; " : "not at end; ";
  step([&] { db->close(); });
  step([&] { db->query(sql); });
  t += db->atEnd() ? "closed at end" : "closed not at end";
  return t;
}

std::vector<std::string> allFixtures() {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(KU_TEST_DATA_DIR)) {
    if (e.path().extension() == ".mdb") names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> queriesToTry() {
  std::vector<std::string> q;
  for (int key :
       {-32768, -5, -1, 0, 1, 2, 3, 7, 10, 15, 16, 100, 127, 128, 200, 255, 256, 999, 32767}) {
    q.push_back(rfControlQuery(static_cast<std::int16_t>(key)));
    q.push_back(configQuery(static_cast<std::int16_t>(key)));
  }
  q.push_back("SELECT * FROM NOPE WHERE DECVAL =  1");
  q.push_back("SELECT * FROM RFcontrol WHERE NOPE =  1");
  q.push_back("SELECT * FROM RFcontrol WHERE DECVAL =  'x'");
  q.push_back("SELECT * FROM RFcontrol");
  q.push_back("SELECT BAND FROM RFcontrol WHERE DECVAL =  2");
  return q;
}

using TempDir = test::ScratchDir;

// A copy the test may write to (the fixtures are read-only).
void copyWritable(const std::string& from, const std::string& to) {
  fs::copy_file(from, to);
  fs::permissions(to, fs::perms::owner_write, fs::perm_options::add);
}

void setModified(const std::string& path, std::time_t seconds, long nanoseconds) {
  const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Overwrites the file in place (same inode) with another file's bytes.
void overwrite(const std::string& path, const std::string& from) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(path, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc);
  out << in.rdbuf();
}

std::string shown(const DbValue& v) {
  return describe(v);
}

struct Shown {
  std::string test, band, nbl, nbf, cfg3;
  bool operator==(const Shown& o) const {
    return test == o.test && band == o.band && nbl == o.nbl && nbf == o.nbf && cfg3 == o.cfg3;
  }
};

Shown snapshot(const LookupValues& v) {
  return {shown(v.testSignal), shown(v.band), shown(v.nbl), shown(v.nbf), v.cfg3Text};
}

// Both lookups for one key; the outcome's error code (0 when none).
int lookUp(ReferenceLookups& lookups, std::int16_t key) {
  try {
    lookups.lookUpRfControl(key);
    lookups.lookUpConfig(key);
  } catch (const KuError& e) {
    return e.code();
  }
  return 0;
}

TEST(DbCache, EveryFixtureAndQueryAnswersAsAFreshOpen) {
  auto fresh = makeMdbOpener();
  int engineOpens = 0;
  CachingOpener cached(std::make_unique<CountingOpener>(makeMdbOpener(), &engineOpens),
                       noSettling());
  const auto queries = queriesToTry();
  for (const auto& name : allFixtures()) {
    for (const char* connect : {kReferenceConnect, "MS Access;PWD=WRONG", "MS Access"}) {
      for (int pass = 0; pass < 3; ++pass) {
        for (const auto& sql : queries) {
          SCOPED_TRACE(name + " / " + connect + " / " + sql + " / pass " + std::to_string(pass));
          const std::string expected = transcript(*fresh, fixture(name), connect, sql);
          ASSERT_EQ(transcript(cached, fixture(name), connect, sql), expected);
        }
      }
    }
  }
  // Some of that came from memory, or this test proves nothing.
  EXPECT_GT(cached.counters().queriesFromMemory, 100u);
}

TEST(DbCache, SeenLookupsNeedNoEngine) {
  int engineOpens = 0;
  CachingOpener cached(std::make_unique<CountingOpener>(makeMdbOpener(), &engineOpens),
                       noSettling());
  auto fresh = makeMdbOpener();
  LookupValues cachedValues, freshValues;
  ReferenceLookups viaCache(cached, fixture("TKUUtil.mdb"), cachedValues);
  ReferenceLookups viaEngine(*fresh, fixture("TKUUtil.mdb"), freshValues);

  for (int pass = 0; pass < 2; ++pass) {
    const int before = engineOpens;
    for (int key = -2; key <= 258; ++key) {
      SCOPED_TRACE(key);
      const auto k = static_cast<std::int16_t>(key);
      ASSERT_EQ(lookUp(viaCache, k), lookUp(viaEngine, k));
      ASSERT_TRUE(snapshot(cachedValues) == snapshot(freshValues));
    }
    if (pass == 0) {
      EXPECT_EQ(engineOpens - before, 2 * 261);
    } else {
      EXPECT_EQ(engineOpens - before, 0);
    }
  }
  EXPECT_EQ(cached.cachedQueries(), 2u * 261u);
  EXPECT_EQ(cached.counters().queriesFromMemory, 2u * 261u);
}

TEST(DbCache, ChangedFileIsReadAgain) {
  TempDir dir;
  const std::string db = dir.file("TKUUtil.mdb");
  copyWritable(fixture("TKUUtil.mdb"), db);
  setModified(db, 1000000000, 0);

  int engineOpens = 0;
  CachingOpener cached(std::make_unique<CountingOpener>(makeMdbOpener(), &engineOpens),
                       noSettling());
  auto fresh = makeMdbOpener();
  LookupValues cachedValues, freshValues;
  ReferenceLookups viaCache(cached, db, cachedValues);
  ReferenceLookups viaEngine(*fresh, db, freshValues);

  auto agree = [&](std::int16_t key) {
    EXPECT_EQ(lookUp(viaCache, key), lookUp(viaEngine, key));
    EXPECT_TRUE(snapshot(cachedValues) == snapshot(freshValues));
  };
  agree(2);
  agree(2);
  EXPECT_EQ(engineOpens, 2);  // the second time from memory
  const Shown shipped = snapshot(cachedValues);

  // Rewritten in place with other contents (same size) and another time.
  ASSERT_EQ(fs::file_size(fixture("numeric-band.mdb")), fs::file_size(db));
  overwrite(db, fixture("numeric-band.mdb"));
  setModified(db, 1000000001, 0);
  agree(2);
  EXPECT_EQ(engineOpens, 4);
  EXPECT_FALSE(snapshot(cachedValues) == shipped);
  agree(2);
  EXPECT_EQ(engineOpens, 4);

  // Only touched, one nanosecond later: read again.
  setModified(db, 1000000001, 1);
  agree(2);
  EXPECT_EQ(engineOpens, 6);

  // Back to the shipped contents with the earlier time restored: the status
  // change time still tells, once the file system's clock has moved on (it
  // ticks coarsely; the rewrite is repeated until the change time differs).
  const auto changeTime = [&db] {
    struct stat st {};
    EXPECT_EQ(::stat(db.c_str(), &st), 0);
    return std::make_pair(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
  };
  const auto before = changeTime();
  for (int i = 0; i < 500 && changeTime() == before; ++i) {
    std::this_thread::sleep_for(10ms);
    overwrite(db, fixture("TKUUtil.mdb"));
    setModified(db, 1000000001, 1);
  }
  ASSERT_NE(changeTime(), before);
  agree(2);
  EXPECT_EQ(engineOpens, 8);
  EXPECT_TRUE(snapshot(cachedValues) == shipped);

  // Replaced by another file (a new inode) with the very same times.
  const std::string other = dir.file("other.mdb");
  copyWritable(fixture("numeric-band.mdb"), other);
  setModified(other, 1000000001, 1);
  fs::rename(other, db);
  agree(2);
  EXPECT_EQ(engineOpens, 10);
  EXPECT_FALSE(snapshot(cachedValues) == shipped);
}

TEST(DbCache, RecentlyChangedFileIsNotKeptUntilItSettles) {
  TempDir dir;
  const std::string db = dir.file("TKUUtil.mdb");
  copyWritable(fixture("TKUUtil.mdb"), db);  // changed just now

  int engineOpens = 0;
  DbCacheLimits limits;
  limits.settleTime = 1h;  // far longer than the lookups below take, however slowly
  CachingOpener cached(std::make_unique<CountingOpener>(makeMdbOpener(), &engineOpens), limits);
  LookupValues values;
  ReferenceLookups lookups(cached, db, values);
  for (int i = 0; i < 5; ++i) ASSERT_EQ(lookUp(lookups, 2), 0);
  EXPECT_EQ(engineOpens, 10);
  EXPECT_EQ(cached.cachedQueries(), 0u);

  // With a short settling time, kept once the file is older than it.
  engineOpens = 0;
  limits.settleTime = 50ms;
  CachingOpener shortSettle(std::make_unique<CountingOpener>(makeMdbOpener(), &engineOpens),
                            limits);
  ReferenceLookups later(shortSettle, db, values);
  ASSERT_EQ(lookUp(later, 2), 0);
  const auto changed = fs::last_write_time(db);
  while (fs::file_time_type::clock::now() - changed < 100ms) std::this_thread::sleep_for(10ms);
  ASSERT_EQ(lookUp(later, 2), 0);
  const int afterSettling = engineOpens;
  ASSERT_EQ(lookUp(later, 2), 0);
  ASSERT_EQ(lookUp(later, 2), 0);
  EXPECT_EQ(engineOpens, afterSettling);
  EXPECT_EQ(shortSettle.cachedQueries(), 2u);
}

TEST(DbCache, WrongPasswordFailsEveryTime) {
  int engineOpens = 0;
  CachingOpener cached(std::make_unique<CountingOpener>(makeMdbOpener(), &engineOpens),
                       noSettling());
  LookupValues values;
  ReferenceLookups right(cached, fixture("TKUUtil.mdb"), values);
  ASSERT_EQ(lookUp(right, 2), 0);
  ASSERT_EQ(lookUp(right, 2), 0);

  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    try {
      cached.open(fixture("TKUUtil.mdb"), "MS Access;PWD=WRONG");
      ADD_FAILURE() << "a wrong password was accepted";
    } catch (const KuError& e) {
      EXPECT_EQ(e.code(), kDbNotValidPassword);
    }
    // The right one is still answered from memory in between.
    const int before = engineOpens;
    EXPECT_EQ(lookUp(right, 2), 0);
    EXPECT_EQ(engineOpens, before);
  }

  // A file whose password is not ours fails on every lookup.
  ReferenceLookups other(cached, fixture("wrong-password.mdb"), values);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(lookUp(other, 2), kDbNotValidPassword);
}

TEST(DbCache, MissingFileFailsEveryTime) {
  TempDir dir;
  const std::string db = dir.file("TKUUtil.mdb");
  CachingOpener cached(makeMdbOpener(), noSettling());
  auto fresh = makeMdbOpener();
  LookupValues values, freshValues;
  ReferenceLookups lookups(cached, db, values);
  ReferenceLookups engine(*fresh, db, freshValues);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(lookUp(lookups, 2), kDbFileNotFound);

  // Present and answered from memory, then gone: it fails again at once.
  copyWritable(fixture("TKUUtil.mdb"), db);
  setModified(db, 1000000000, 0);
  EXPECT_EQ(lookUp(lookups, 2), 0);
  EXPECT_EQ(lookUp(lookups, 2), 0);
  fs::remove(db);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(lookUp(lookups, 2), kDbFileNotFound);
    EXPECT_EQ(transcript(cached, db, kReferenceConnect, rfControlQuery(2)),
              transcript(*fresh, db, kReferenceConnect, rfControlQuery(2)));
  }
}

TEST(DbCache, NoDescriptorStaysOpenBetweenLookups) {
  CachingOpener cached(makeMdbOpener(), noSettling());
  LookupValues values;
  ReferenceLookups shipped(cached, fixture("TKUUtil.mdb"), values);
  ReferenceLookups wrong(cached, fixture("wrong-password.mdb"), values);
  ReferenceLookups missing(cached, fixture("no-such.mdb"), values);
  ReferenceLookups nulls(cached, fixture("nulls.mdb"), values);
  ReferenceLookups noConfig(cached, fixture("no-config-table.mdb"), values);
  const int before = openDescriptors();
  for (int i = 0; i < 50; ++i) {
    lookUp(shipped, static_cast<std::int16_t>(i % 7));  // from the engine
    lookUp(shipped, static_cast<std::int16_t>(i % 7));  // from memory
    EXPECT_EQ(openDescriptors(), before);
    lookUp(wrong, 1);
    lookUp(missing, 1);
    lookUp(nulls, static_cast<std::int16_t>(i % 4));
    lookUp(noConfig, 2);
    EXPECT_EQ(openDescriptors(), before);
  }
  EXPECT_GT(cached.counters().queriesFromMemory, 0u);
}

TEST(DbCache, OnlyTheLatestFileIsKept) {
  int engineOpens = 0;
  CachingOpener cached(std::make_unique<CountingOpener>(makeMdbOpener(), &engineOpens),
                       noSettling());
  LookupValues values;
  ReferenceLookups a(cached, fixture("TKUUtil.mdb"), values);
  ReferenceLookups b(cached, fixture("sparse.mdb"), values);
  lookUp(a, 2);
  lookUp(a, 2);
  EXPECT_EQ(engineOpens, 2);
  lookUp(b, 2);
  EXPECT_EQ(engineOpens, 4);
  lookUp(a, 2);  // a's answers were dropped for b's
  EXPECT_EQ(engineOpens, 6);
}

TEST(DbCache, LimitsBoundWhatIsKept) {
  int engineOpens = 0;
  DbCacheLimits limits = noSettling();
  limits.maxQueries = 10;
  CachingOpener cached(std::make_unique<CountingOpener>(makeMdbOpener(), &engineOpens), limits);
  auto fresh = makeMdbOpener();
  LookupValues values, freshValues;
  ReferenceLookups lookups(cached, fixture("TKUUtil.mdb"), values);
  ReferenceLookups engine(*fresh, fixture("TKUUtil.mdb"), freshValues);
  for (int pass = 0; pass < 2; ++pass) {
    for (int key = 0; key < 20; ++key) {
      const auto k = static_cast<std::int16_t>(key);
      ASSERT_EQ(lookUp(lookups, k), lookUp(engine, k));
      ASSERT_TRUE(snapshot(values) == snapshot(freshValues));
    }
  }
  EXPECT_EQ(cached.cachedQueries(), 10u);
  EXPECT_EQ(engineOpens, 40 + 30);  // the second pass: 10 from memory, 30 from the engine

  // More rows than a kept result may hold: served by the engine, every time.
  limits.maxQueries = 1024;
  limits.maxRowsPerQuery = 1;
  engineOpens = 0;
  CachingOpener small(std::make_unique<CountingOpener>(makeMdbOpener(), &engineOpens), limits);
  for (int pass = 0; pass < 3; ++pass) {
    for (const auto& sql : queriesToTry()) {
      ASSERT_EQ(transcript(small, fixture("duplicates.mdb"), kReferenceConnect, sql),
                transcript(*fresh, fixture("duplicates.mdb"), kReferenceConnect, sql));
    }
  }
  LookupValues dupValues, dupFresh;
  ReferenceLookups dup(small, fixture("duplicates.mdb"), dupValues);
  ReferenceLookups dupEngine(*fresh, fixture("duplicates.mdb"), dupFresh);
  for (int key = 0; key < 20; ++key) {
    const auto k = static_cast<std::int16_t>(key);
    ASSERT_EQ(lookUp(dup, k), lookUp(dupEngine, k));
    ASSERT_TRUE(snapshot(dupValues) == snapshot(dupFresh));
  }

  // A byte budget too small for anything keeps nothing.
  limits = noSettling();
  limits.maxBytes = 16;
  CachingOpener tiny(makeMdbOpener(), limits);
  ReferenceLookups t(tiny, fixture("TKUUtil.mdb"), values);
  lookUp(t, 2);
  lookUp(t, 2);
  EXPECT_EQ(tiny.cachedQueries(), 0u);
  EXPECT_EQ(tiny.counters().queriesFromMemory, 0u);
}

// A scripted engine: two rows, and a failure at a chosen step.
class ScriptedDatabase : public ReferenceDatabase {
 public:
  ScriptedDatabase(int failAtRow, bool listColumns, int* queries)
      : failAtRow_(failAtRow), listColumns_(listColumns), queries_(queries) {}
  void query(const std::string&) override {
    ++*queries_;
    row_ = 0;
    queried_ = true;
  }
  bool atEnd() const override { return !queried_ || row_ >= 2; }
  DbValue field(const std::string& column) const override {
    if (atEnd()) throw KuError(3021, "No current record.");
    if (row_ == failAtRow_ && column == "BAND") throw KuError(3343, "damaged row");
    if (column == "TESTSIGNAL") return std::string(row_ == 0 ? "ON" : "OFF");
    if (column == "BAND") return row_ == 0 ? DbValue(1.5) : DbValue(DbNull{});
    throw KuError(kDbItemNotFound, "Item not found in this collection: " + column);
  }
  void moveNext() override {
    if (atEnd()) throw KuError(3021, "No current record.");
    ++row_;
  }
  void close() override { queried_ = false; }
  std::vector<std::string> columns() const override {
    if (!listColumns_ || !queried_) return {};
    return {"TESTSIGNAL", "BAND"};
  }

 private:
  int failAtRow_;
  bool listColumns_;
  int* queries_;
  int row_ = 0;
  bool queried_ = false;
};

class ScriptedOpener : public ReferenceDatabaseOpener {
 public:
  ScriptedOpener(int failAtRow, bool listColumns, int* queries)
      : failAtRow_(failAtRow), listColumns_(listColumns), queries_(queries) {}
  std::unique_ptr<ReferenceDatabase> open(const std::string&, const std::string&) override {
    return std::make_unique<ScriptedDatabase>(failAtRow_, listColumns_, queries_);
  }

 private:
  int failAtRow_;
  bool listColumns_;
  int* queries_;
};

TEST(DbCache, ResultsThatCannotBeReadWholeAreServedByTheEngineStepByStep) {
  const std::string anyFile = fixture("TKUUtil.mdb");  // only its identity is used
  for (int failAtRow : {-1, 0, 1}) {
    for (bool listColumns : {true, false}) {
      SCOPED_TRACE(std::to_string(failAtRow) + (listColumns ? " listed" : " unlisted"));
      int queries = 0;
      ScriptedOpener plain(failAtRow, listColumns, &queries);
      CachingOpener cached(std::make_unique<ScriptedOpener>(failAtRow, listColumns, &queries),
                           noSettling());
      for (int pass = 0; pass < 3; ++pass) {
        ASSERT_EQ(transcript(cached, anyFile, kReferenceConnect, "q"),
                  transcript(plain, anyFile, kReferenceConnect, "q"));
        LookupValues a, b;
        ReferenceLookups viaCache(cached, anyFile, a);
        ReferenceLookups viaPlain(plain, anyFile, b);
        int codeCache = 0, codePlain = 0;
        try {
          viaCache.lookUpRfControl(1);
        } catch (const KuError& e) {
          codeCache = e.code();
        }
        try {
          viaPlain.lookUpRfControl(1);
        } catch (const KuError& e) {
          codePlain = e.code();
        }
        EXPECT_EQ(codeCache, codePlain);
        EXPECT_EQ(describe(a.testSignal), describe(b.testSignal));
        EXPECT_EQ(describe(a.band), describe(b.band));
      }
      // Only a whole, listed result is kept.
      EXPECT_EQ(cached.cachedQueries() > 0, failAtRow < 0 && listColumns);
    }
  }
}

TEST(FileIdentity, TellsVersionsApart) {
  TempDir dir;
  const std::string f = dir.file("f");
  EXPECT_FALSE(fileIdentity(f).has_value());
  std::ofstream(f) << "abc";
  setModified(f, 1000000000, 5);
  const auto a = fileIdentity(f);
  ASSERT_TRUE(a.has_value());
  EXPECT_EQ(a->size, 3);
  EXPECT_EQ(a->modified.tv_sec, 1000000000);
  EXPECT_EQ(a->modified.tv_nsec, 5);
  EXPECT_TRUE(*a == *fileIdentity(f));
  setModified(f, 1000000000, 6);
  EXPECT_TRUE(*a != *fileIdentity(f));
}

}  // namespace
}  // namespace ku
