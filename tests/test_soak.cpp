// Soak: long runs of the main window's work, to catch what only shows over time:
// memory that grows, file descriptors that leak, a unit that drifts out of step.
//  - 1,000 "Update" and "Default" commands in turn against ku-sim on the real
//    serial port, every byte on the line checked;
//  - 10,000 reference refreshes (each with both database lookups) against the
//    shipped TKUUtil.mdb; 100,000 in the long run (label soak-long, which runs
//    only with KU_SOAK_LONG=1 set).
// Resident memory and open descriptors are taken after a warm-up and again at
// the end; the figures go to the test's output and its XML properties. Under
// AddressSanitizer the runs are shorter and LeakSanitizer checks for leaks.
#include <dirent.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/unit_controller.h"
#include "expected.h"
#include "fakes.h"
#include "link/qt_serial_port.h"
#include "model/slot_table.h"
#include "process_usage.h"
#include "qt_app.h"
#include "reference/db_cache.h"
#include "reference/reference_database.h"
#include "simulator.h"

namespace ku {
namespace {

using Clock = std::chrono::steady_clock;

const auto* const kQtApp = ::testing::AddGlobalTestEnvironment(new test::QtAppEnvironment);

struct Usage {
  long rssKb = -1;  // VmRSS
  int fds = -1;     // entries of /proc/self/fd
};

Usage usage() {
  return Usage{test::residentKb(), test::openDescriptors()};
}

// Growth allowed beyond noise (allocator pools, Qt's and mdbtools' first-use
// caches settle during the warm-up).
constexpr long kRssMarginKb = 8 * 1024;

using test::kUnderAsan;
// LeakSanitizer reports a leak of one command or one refresh as surely as of a
// thousand, and the sanitized build runs some ten times slower: there the runs
// are a fifth as long.
constexpr long runLength(long n) {
  return kUnderAsan ? n / 5 : n;
}

void report(const char* what, const Usage& before, const Usage& after, double seconds, long count) {
  std::cout << what << ": " << count << " in " << seconds << " s; VmRSS " << before.rssKb
            << " kB -> " << after.rssKb << " kB; fds " << before.fds << " -> " << after.fds << "\n";
  ::testing::Test::RecordProperty("rss_before_kb", std::to_string(before.rssKb));
  ::testing::Test::RecordProperty("rss_after_kb", std::to_string(after.rssKb));
  ::testing::Test::RecordProperty("fds_before", std::to_string(before.fds));
  ::testing::Test::RecordProperty("fds_after", std::to_string(after.fds));
  ::testing::Test::RecordProperty("seconds", std::to_string(seconds));
}

void expectNoGrowth(const Usage& before, const Usage& after) {
  ASSERT_GT(before.rssKb, 0);
  ASSERT_GT(before.fds, 0);
  EXPECT_EQ(after.fds, before.fds);
  if (kUnderAsan) {
    std::cout << "resident memory not compared under AddressSanitizer\n";
    return;
  }
  EXPECT_LT(after.rssKb - before.rssKb, kRssMarginKb)
      << "VmRSS " << before.rssKb << " kB -> " << after.rssKb << " kB";
}

// The program's folder: the shipped reference database and comms.ini naming port 1.
class ProgramFolder {
 public:
  ProgramFolder() {
    EXPECT_TRUE(dir_.isValid());
    EXPECT_TRUE(
        QFile::copy(QStringLiteral(KU_BIN_DIR "/TKUUtil.mdb"), dir_.filePath("TKUUtil.mdb")));
    QFile ini(dir_.filePath("comms.ini"));
    EXPECT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("\"Port\",1\r\n");
  }
  std::string path() const { return dir_.path().toStdString(); }
  std::string file(const char* name) const { return dir_.filePath(name).toStdString(); }

 private:
  QTemporaryDir dir_;
};

// ---------------------------------------------------------------------------
// Commands against the unit

// The real port on a compressed time base: the one-second pause after "x" is
// cut short, so reading the record waits until its 38 characters are in (or
// two seconds pass), as if the second had run out just after they came. The
// answers to " " and "q", and everything else, are read as they stand.
class PatientPort : public ForwardingSerialPort {
 public:
  explicit PatientPort(const std::string& programDir)
      : ForwardingSerialPort(port_), port_(programDir) {}
  void write(const std::string& b) override {
    const std::int64_t start = micros();
    const long long waitedBefore = test::runQueueWaitMicros();
    port_.write(b);
    const long long waitedAfter = test::runQueueWaitMicros();
    writes.push_back({start, micros(), waitedBefore, waitedAfter});
    if (!b.empty()) last_ = b.back();
  }
  std::string readAll() override {
    std::string got = port_.readAll();
    // Only the first look after "x" waits for the record; a look at the rest
    // of its second takes what is there.
    if (last_ != 'x') return got;
    last_ = '\0';
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (got.size() < static_cast<std::size_t>(kRecordLength) && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      got += port_.readAll();
    }
    return got;
  }

  // When each write started and when it had returned (the byte had left), and
  // how long this thread had waited for a processor by then (-1: not known).
  struct Write {
    std::int64_t start, end;
    long long waitedAtStart, waitedAtEnd;
  };
  // The time the program itself took between write a and write b: from the end
  // of the one to the start of the other, less what its thread spent waiting
  // for a processor. Time inside a write is the terminal's: the kernel may hold
  // the writer until the unit's side, itself kept waiting, lets go of the line.
  std::int64_t programMicros(std::size_t a, std::size_t b) const {
    const Write& wa = writes[a];
    const Write& wb = writes[b];
    std::int64_t t = wb.start - wa.end;
    if (wa.waitedAtEnd >= 0 && wb.waitedAtStart >= 0) t -= wb.waitedAtStart - wa.waitedAtEnd;
    return t;
  }
  // The longest time one write took.
  std::int64_t longestWriteMicros() const {
    std::int64_t most = 0;
    for (const Write& w : writes) most = std::max(most, w.end - w.start);
    return most;
  }
  std::vector<Write> writes;
  static std::int64_t micros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
        .count();
  }

 private:
  QtSerialPort port_;
  char last_ = 0;
};

// Pauses at a 200th: 100 us after a command or value byte of an upload, 250 us
// after a command-only byte; 1 ms for a read-back's request second. The clock
// runs at its real pace: the record is awaited for up to a real second (and the
// port waits for it itself).
class QuickSleeper : public Sleeper {
 public:
  void sleepMs(int ms) override {
    std::this_thread::sleep_for(std::chrono::microseconds(ms >= 1000 ? 1000 : ms * 5));
  }
  MonotonicClock::time_point now() const override { return MonotonicClock::now(); }
};

using Values = test::UploadValues;
using test::kReadBackRequest;
using test::uploadOf;

TEST(Soak, UpdateAndDefaultCommandsAgainstTheUnit) {
  ProgramFolder folder;
  sim::Simulator unit;
  unit.start();
  unit.makeLink(folder.file("com1"));

  AppContext context;
  initAppContext(context, folder.path());
  RecordingUnitView view;
  test::RecordingNotifier notifier;
  QuickSleeper sleeper;
  auto opener = makeMdbOpener();
  auto patient = std::make_unique<PatientPort>(folder.path());
  PatientPort& port = *patient;
  UnitController controller(context, view, notifier, sleeper, std::move(patient), *opener);
  view.attach(&controller);
  ASSERT_EQ(controller.openLink().outcome, LoadOutcome::Linked);
  ASSERT_TRUE(notifier.messages.empty());

  const Values defaults = test::kBuiltInDefaults;

  // The longest time between a value byte and the byte before it: as the
  // program sent them (between the two writes, less the time its thread waited
  // for a processor) and as the unit took them in; and the longest write.
  std::int64_t longestSentMicros = 0, longestTakenMicros = 0, longestWrite = 0;
  int stalledCommands = 0;
  // One command: even i an "Update" with three typed values, odd i a "Default".
  auto command = [&](int i) {
    unit.clearLog();
    port.writes.clear();
    const long long stolenBefore = test::stolenMicros();
    Values wanted = defaults;
    wanted[0] = valueOf(controller.slotValues()[0]);  // the unit keeps its channel
    if (i % 2 == 0) {
      for (int s = 0; s < kValueSlots; ++s) wanted[s] = valueOf(controller.slotValues()[s]);
      wanted[8] = i % 256;
      wanted[4] = (i * 37) % 32001;
      wanted[27] = 1 + (i * 11) % 32000;
      view.setEntryText(8, std::to_string(wanted[8]));
      view.setEntryText(4, std::to_string(wanted[4]));
      view.setEntryText(27, std::to_string(wanted[27]));
      controller.runUpdateCommand();
    } else {
      controller.runDefaultCommand();
    }
    // The line carried exactly the pass and the read-back request. The unit's
    // thread may still be taking the last of them in (a reply that came early,
    // to a value byte it took in late for an "x", ends the read-back sooner):
    // wait for them, so that none is left over for the next command.
    const std::string pass =
        i % 2 == 0 ? uploadOf(wanted) : test::defaultUpload(static_cast<unsigned char>(wanted[0]));
    unit.waitForLogSize(pass.size() + kReadBackRequest.size(), 10000);
    const std::vector<sim::LoggedByte> log = unit.log();
    std::string bytes;
    for (const sim::LoggedByte& b : log) bytes += static_cast<char>(b.byte);
    if (bytes != pass + kReadBackRequest) {
      const std::string expected = pass + kReadBackRequest;
      std::size_t at = 0;
      while (at < bytes.size() && at < expected.size() && bytes[at] == expected[at]) ++at;
      ADD_FAILURE() << "command " << i << ": unexpected bytes on the line: " << bytes.size()
                    << " bytes where " << expected.size() << " were sent, the first difference at "
                    << at;
      return false;
    }
    // The unit gives a command up when its value byte comes more than 30 ms
    // after the byte before it. The program must never take that long of its
    // own; time its thread spent waiting for a processor does not count. The
    // unit's side can be late on a loaded machine (its thread or the terminal's
    // kernel work waits for a processor): it then takes a late value byte for a
    // command of its own and its state no longer follows the pass, so that
    // command is not compared; the next one sends every slot again and must be
    // right.
    std::int64_t sent = 0, taken = 0;
    std::size_t k = 0;
    for (int s = 0; s < kValueSlots; ++s) {
      const std::size_t n = isWideSlot(s) ? 2 : 1;
      for (std::size_t j = k + 1; j <= k + n; ++j) {
        sent = std::max(sent, port.programMicros(j - 1, j));
        taken = std::max(taken, log[j].micros - log[j - 1].micros);
      }
      k += 1 + n;
    }
    longestSentMicros = std::max(longestSentMicros, sent);
    longestWrite = std::max(longestWrite, port.longestWriteMicros());
    longestTakenMicros = std::max(longestTakenMicros, taken);
    if (sent >= 30000) {
      // Time the host of a virtual machine took from its processors looks like
      // the program's own: a gap that much time makes up is the machine's.
      const long long stolenAfter = test::stolenMicros();
      const long long stolen =
          stolenBefore >= 0 && stolenAfter >= 0 ? stolenAfter - stolenBefore : 0;
      if (sent - stolen >= 30000) {
        ADD_FAILURE() << "command " << i << ": the program sent a value byte " << sent
                      << " us after the byte before it (" << stolen
                      << " us taken by the host meanwhile)";
        return false;
      }
      ++stalledCommands;
      std::cout << "command " << i << ": sent after " << sent << " us, of which the host took up "
                << "to " << stolen << " us\n";
      notifier.messages.clear();
      return true;
    }
    if (taken > 30000) {
      ++stalledCommands;
      std::cout << "command " << i << ": sent within " << sent << " us, taken in after " << taken
                << " us\n";
      notifier.messages.clear();
      return true;
    }
    // The unit took it, and the window shows what the unit now holds.
    Values shown{};
    for (int s = 0; s < kValueSlots; ++s) shown[s] = valueOf(controller.slotValues()[s]);
    if (shown != wanted || !notifier.messages.empty() || !view.updateEnabled) {
      std::string why;
      for (const std::string& text : notifier.messages) why += " message \"" + text + "\";";
      for (int s = 0; s < kValueSlots; ++s) {
        if (shown[s] != wanted[s]) {
          why += " slot " + std::to_string(s) + " sent " + std::to_string(wanted[s]) + " read " +
                 std::to_string(shown[s]) + ";";
        }
      }
      ADD_FAILURE() << "command " << i << ":" << why;
      return false;
    }
    return true;
  };

  for (int i = 0; i < 20; ++i) ASSERT_TRUE(command(i));  // warm-up
  const Usage before = usage();
  const auto t0 = Clock::now();
  constexpr int kCommands = static_cast<int>(runLength(1000));
  for (int i = 0; i < kCommands; ++i) ASSERT_TRUE(command(i));
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  const Usage after = usage();
  report("commands", before, after, seconds, kCommands);
  std::cout << "longest gap before a value byte: sent " << longestSentMicros << " us, taken in "
            << longestTakenMicros
            << " us; commands not compared (the unit or the host late): " << stalledCommands
            << "\n";
  RecordProperty("longest_value_gap_sent_us", std::to_string(longestSentMicros));
  RecordProperty("longest_value_gap_taken_us", std::to_string(longestTakenMicros));
  RecordProperty("stalled_commands", std::to_string(stalledCommands));
  RecordProperty("longest_write_us", std::to_string(longestWrite));
  std::cout << "longest write: " << longestWrite << " us\n";
  expectNoGrowth(before, after);
  // Enough commands must be compared in full, or the run proves little. How many
  // the unit's side takes in late depends on the machine's load, not on the
  // program, so the bound is loose: a quarter of the run is still hundreds of
  // commands checked slot by slot.
  EXPECT_GE(kCommands - stalledCommands, kCommands / 4);

  unit.clearLog();
  controller.closeLink();
  EXPECT_TRUE(unit.waitForLogSize(1, 2000));
  EXPECT_EQ(unit.log().size(), 1u);
  EXPECT_EQ(unit.closeCount(), 1);
  unit.stop();
}

// ---------------------------------------------------------------------------
// Reference refreshes

// A window whose port was taken (so the refresh runs) that looks its reference
// values up through the given opener; no line is involved.
struct RefreshRig {
  RefreshRig(const ProgramFolder& folder, ReferenceDatabaseOpener& opener) {
    initAppContext(context, folder.path());
    context.port.portNumberAccepted = true;
    controller = std::make_unique<UnitController>(context, view, notifier, sleeper,
                                                  std::make_unique<test::FakeSerialPort>(), opener);
    view.attach(controller.get());
    // The built-in set-up typed in, so that every refresh runs to its end.
    for (int s = 1; s < kValueSlots; ++s)
      view.setEntryText(s, std::to_string(slotInfo(s).builtInDefault));
    view.setEntryText(30, "210");
  }
  ~RefreshRig() { view.attach(nullptr); }
  AppContext context;
  RecordingUnitView view;
  test::RecordingNotifier notifier;
  test::FakeSleeper sleeper;
  std::unique_ptr<UnitController> controller;
};

// The cells that the two lookups fill.
std::vector<std::string> lookupCells(const RecordingUnitView& v) {
  return {v.rows[3].reference, v.rows[3].referenceUnit, v.rows[6].reference, v.rows[6].description,
          v.rows[7].description};
}

// count refreshes: typing into the RF control box and the CONFIG box in turn,
// through every key of both tables; each keystroke runs one refresh with both
// lookups. The cells at the end must match a fresh window's for the same keys.
void soakRefreshes(ReferenceDatabaseOpener& opener, long count, const char* what) {
  ProgramFolder folder;
  RefreshRig rig(folder, opener);
  auto refresh = [&](long i) {
    const int box = i % 2 == 0 ? 3 : 6;
    rig.view.setEntryText(box, std::to_string((i / 2) % 256));
  };
  for (long i = 0; i < 200; ++i) refresh(i);  // warm-up
  const Usage before = usage();
  const auto t0 = Clock::now();
  for (long i = 0; i < count; ++i) {
    refresh(i);
    if (!rig.controller->lastRefreshError().empty()) {
      FAIL() << "refresh " << i << ": " << rig.controller->lastRefreshError();
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  const Usage after = usage();
  report(what, before, after, seconds, count);
  std::cout << "per refresh: " << seconds / static_cast<double>(count) * 1e6 << " us\n";
  EXPECT_TRUE(rig.notifier.messages.empty());
  expectNoGrowth(before, after);

  RefreshRig fresh(folder, opener);
  fresh.view.setEntryText(3, rig.view.rows[3].entry);
  fresh.view.setEntryText(6, rig.view.rows[6].entry);
  EXPECT_EQ(lookupCells(rig.view), lookupCells(fresh.view));
}

TEST(Soak, RefreshesOnTheShippedDatabase) {
  // As the window looks up: the file opened and closed for every lookup.
  auto opener = makeMdbOpener();
  soakRefreshes(*opener, runLength(10000), "refreshes");
}

TEST(Soak, RefreshesThroughTheCache) {
  // As kuctl looks up: the rows kept while the file is unchanged.
  auto opener = makeCachingMdbOpener();
  soakRefreshes(*opener, runLength(10000), "refreshes through the cache");
}

TEST(SoakLong, HundredThousandRefreshesOnTheShippedDatabase) {
  if (!std::getenv("KU_SOAK_LONG")) GTEST_SKIP() << "the long soak runs with KU_SOAK_LONG=1";
  auto opener = makeMdbOpener();
  soakRefreshes(*opener, 100000, "refreshes (long run)");
}

}  // namespace
}  // namespace ku
