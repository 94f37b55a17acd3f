// Typing: one keystroke in an entry box, from the change to every reference cell
// written, through the main window's own handlers (UnitController with the in-memory
// view; ready, the set-up read back beforehand). Against the shipped and the
// large reference database, each through the engine alone and through the cache.
// Then one lookup beside mdbtools' own command line answering the same query.
//
//   bench_typing [--quick]
// KU_BENCH_DB and KU_BENCH_LARGE_DB name other database files.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/unit_controller.h"
#include "bench_support.h"
#include "reference/db_cache.h"
#include "simulator.h"

extern char** environ;

namespace ku::bench {
namespace {

struct Keystroke {
  int slot;
  std::string text;  // the box's text after the key
};

// A typing session: values typed digit by digit into the boxes, then erased key
// by key (the empty box takes the read-back value again). A fifth of the entries
// go to the RF-control box and a fifth to the CONFIG box, whose values are the
// keys of the two lookups.
std::vector<Keystroke> typingScript(int entries, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<int> others;
  for (int s = 1; s <= 29; ++s) {
    if (isEnterable(s) && s != 3 && s != 6) others.push_back(s);
  }
  std::vector<Keystroke> keys;
  for (int e = 0; e < entries; ++e) {
    const int pick = static_cast<int>(rng() % 10);
    const int slot = pick < 2 ? 3 : pick < 4 ? 6 : others[rng() % others.size()];
    const int value = static_cast<int>(rng() % (static_cast<unsigned>(entryLimit(slot)) + 1));
    const std::string text = std::to_string(value);
    for (std::size_t n = 1; n <= text.size(); ++n) keys.push_back({slot, text.substr(0, n)});
    for (std::size_t n = text.size(); n-- > 0;) keys.push_back({slot, text.substr(0, n)});
  }
  return keys;
}

// The main window's controller on a program folder with the given database.
class Window {
 public:
  Window(const std::string& database, bool cached) {
    prepareProgramDir(dir_, database, 1);
    initAppContext(context_, dir_.path());
    context_.locale.decimalPoint = ".";
    if (cached) {
      auto cache = std::make_unique<CachingOpener>(makeMdbOpener());
      cache_ = cache.get();
      opener_ = std::move(cache);
    } else {
      opener_ = makeMdbOpener();
    }
    sim::Simulator unit;  // only for its record of the unit's own defaults
    controller_ =
        std::make_unique<UnitController>(context_, view_, notifier_, sleeper_,
                                         std::make_unique<RecordPort>(unit.record()), *opener_);
    view_.attach(controller_.get());
    context_.port.portNumberAccepted = true;
    controller_->readBack();
    if (notifier_.count != 0 || !controller_->lastRefreshError().empty()) {
      throw std::runtime_error("the read-back failed: " + notifier_.last + " " +
                               controller_->lastRefreshError());
    }
  }

  // Types the keys; the time of each, in milliseconds.
  std::vector<double> type(const std::vector<Keystroke>& keys) {
    std::vector<double> ms;
    ms.reserve(keys.size());
    for (const Keystroke& k : keys) {
      const auto t0 = monotonicNs();
      view_.setEntryText(k.slot, k.text);
      const auto t1 = monotonicNs();
      ms.push_back(static_cast<double>(t1 - t0) / 1e6);
      if (!controller_->lastRefreshError().empty()) {
        throw std::runtime_error("a refresh failed: " + controller_->lastRefreshError());
      }
      fingerprint_ = std::hash<std::string>{}(std::to_string(fingerprint_) + screen());
    }
    return ms;
  }

  // Everything the refresh writes, as one text.
  std::string screen() const {
    std::string s;
    for (const auto& r : view_.rows)
      s += r.reference + '|' + r.referenceUnit + '|' + r.description + '|';
    return s;
  }
  std::size_t fingerprint() const { return fingerprint_; }
  const CachingOpener* cache() const { return cache_; }

 private:
  TempDir dir_;
  AppContext context_;
  RecordingUnitView view_;
  CountingNotifier notifier_;
  ZeroSleeper sleeper_;
  std::unique_ptr<ReferenceDatabaseOpener> opener_;
  CachingOpener* cache_ = nullptr;
  std::unique_ptr<UnitController> controller_;
  std::size_t fingerprint_ = 0;
};

// withGoals: the figures of what the program runs (the cache); otherwise a
// comparison, set beside the goals without counting as one.
void reportTyping(const std::string& what, const std::vector<double>& ms, bool withGoals) {
  const Summary s = summarise(ms);
  if (withGoals) {
    goal(what + ": median", s.median, "ms", "< 0.5 ms", s.median < 0.5);
    goal(what + ": 99th percentile", s.p99, "ms", "< 2 ms", s.p99 < 2.0);
  } else {
    beside(what + ": median", s.median, "ms", "< 0.5 ms", s.median < 0.5);
    beside(what + ": 99th percentile", s.p99, "ms", "< 2 ms", s.p99 < 2.0);
  }
  info(what + ": max (" + std::to_string(s.count) + " keys)", s.max, "ms");
}

// Runs mdb-sql on the database with one query on its standard input, output
// discarded; its wall time in milliseconds (process start included).
double mdbSqlOnce(const std::string& db, const std::string& sql) {
  int in[2];
  if (::pipe(in) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_addclose(&actions, in[1]);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::string prog = "mdb-sql", f = "-F", p = "-P";
  std::string file = db;
  char* argv[] = {prog.data(), f.data(), p.data(), file.data(), nullptr};
  const std::string input = sql + "\ngo\n";
  const auto t0 = monotonicNs();
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, "mdb-sql", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  if (rc != 0) {
    ::close(in[1]);
    return -1;
  }
  const ssize_t written = ::write(in[1], input.data(), input.size());
  ::close(in[1]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  const auto t1 = monotonicNs();
  if (written != static_cast<ssize_t>(input.size()) || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    return -1;
  }
  return static_cast<double>(t1 - t0) / 1e6;
}

void sideBySide(const std::string& label, const std::string& db, std::int16_t key, int rounds) {
  auto engine = makeMdbOpener();
  CachingOpener cache(makeMdbOpener());
  LookupValues values;
  ReferenceLookups viaEngine(*engine, db, values);
  ReferenceLookups viaCache(cache, db, values);
  viaCache.lookUpRfControl(key);  // seen once
  std::vector<double> ours, cached, theirs;
  for (int i = 0; i < rounds; ++i) {
    auto t0 = monotonicNs();
    viaEngine.lookUpRfControl(key);
    auto t1 = monotonicNs();
    viaCache.lookUpRfControl(key);
    auto t2 = monotonicNs();
    ours.push_back(static_cast<double>(t1 - t0) / 1e6);
    cached.push_back(static_cast<double>(t2 - t1) / 1e6);
    const double m = mdbSqlOnce(db, rfControlQuery(key));
    if (m < 0) {
      note("mdb-sql is not available or failed; no comparison for " + label);
      return;
    }
    theirs.push_back(m);
  }
  const double a = quantile(ours, 0.5), b = quantile(cached, 0.5), c = quantile(theirs, 0.5);
  info(label + ": one lookup, engine (open, query, close): median", a, "ms");
  info(label + ": one lookup, through the cache: median", b, "ms");
  info(label + ": mdb-sql answering the same query: median", c, "ms");
  info(label + ": ratio mdb-sql / engine lookup", c / a, "x");
  info(label + ": ratio mdb-sql / cached lookup", c / b, "x");
}

int run(bool quick) {
  const std::string shipped = envOr("KU_BENCH_DB", KU_BIN_DIR "/TKUUtil.mdb");
  const std::string large = envOr("KU_BENCH_LARGE_DB", KU_BENCH_LARGE_DB);

  const auto script = typingScript(quick ? 40 : 150, 20240611u);
  section("Typing: one keystroke through entryEdited, every reference cell written");
  note(std::to_string(script.size()) + " keys a pass: values typed digit by digit and erased, " +
       "40% of them in the RF-control and CONFIG boxes (the lookup keys)");

  // The shipped database.
  Window engineShipped(shipped, false);
  std::vector<double> e = engineShipped.type(script);
  const auto e2 = engineShipped.type(script);
  e.insert(e.end(), e2.begin(), e2.end());
  reportTyping("shipped db (256 rows), engine alone on every lookup", e, false);

  Window cachedShipped(shipped, true);
  std::vector<double> c1 = cachedShipped.type(script);
  const auto c2 = cachedShipped.type(script);
  if (cachedShipped.fingerprint() != engineShipped.fingerprint()) {
    throw std::runtime_error("the cache showed other reference values than the engine");
  }
  std::vector<double> c = c1;
  c.insert(c.end(), c2.begin(), c2.end());
  reportTyping("shipped db, cached, two passes (new keys included)", c, true);
  reportTyping("shipped db, cached, second pass (all keys seen)", c2, false);
  const auto counters = cachedShipped.cache()->counters();
  info("shipped db, cached: share of queries answered from memory",
       100.0 * static_cast<double>(counters.queriesFromMemory) /
           static_cast<double>(counters.queries),
       "%");

  // The large database: a pass through the engine alone takes seconds.
  if (access(large.c_str(), R_OK) != 0) {
    note("no large database at " + large + "; skipped");
    return 0;
  }
  Window engineLarge(large, false);
  const auto el = engineLarge.type(script);
  reportTyping("large db (65536 rows), engine alone on every lookup", el, false);
  Window cachedLarge(large, true);
  const auto cl1 = cachedLarge.type(script);
  if (cachedLarge.fingerprint() != engineLarge.fingerprint()) {
    throw std::runtime_error("the cache showed other reference values than the engine (large)");
  }
  const auto cl2 = cachedLarge.type(script);
  std::vector<double> cl = cl1;
  cl.insert(cl.end(), cl2.begin(), cl2.end());
  reportTyping("large db, cached, two passes (new keys included)", cl, false);
  reportTyping("large db, cached, second pass (all keys seen)", cl2, false);
  info("growth 256 -> 65536 rows, engine: median ratio",
       quantile(el, 0.5) / quantile(std::vector<double>(e.begin(), e.begin() + script.size()), 0.5),
       "x");
  info("growth 256 -> 65536 rows, cached second pass: median ratio",
       quantile(cl2, 0.5) / quantile(c2, 0.5), "x");

  section("One lookup beside mdbtools' command line (mdb-sql), same query, same run");
  sideBySide("shipped db, key 2", shipped, 2, quick ? 5 : 20);
  sideBySide("large db, key 32000", large, 32000, quick ? 3 : 10);
  return 0;
}

}  // namespace
}  // namespace ku::bench

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  try {
    ku::bench::run(quick);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_typing: %s\n", e.what());
    return 1;
  }
  return 0;
}
