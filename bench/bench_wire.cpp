// The wire: how close the pauses on the line come to what they should be, from
// the simulated unit's log of every byte with its arrival time: the upload's
// pauses, the read-back's seconds, and the unit's second after "x" (the record
// is read as soon as it is in, but no byte follows "x" sooner than a second).
// The program side is the main window's controller with the real serial port and the
// real pauses, once with the plain deadline sleeper and once with the window's
// (which repaints while it waits), and then the kuctl program in a process of
// its own. The controller and kuctl run once more with the wire trace written
// to a file, to show what the trace costs the pacing.
//
//   bench_wire [--quick]
// On a pseudo-terminal there is no baud delay: a byte arrives as soon as it is
// written, so an upload's transmission time counts as zero here and whatever the
// line adds between write and arrival is counted against the program.
#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/unit_controller.h"
#include "bench_support.h"
#include "link/qt_serial_port.h"
#include "link/wire_trace.h"
#include "reference/db_cache.h"
#include "simulator.h"

namespace ku::bench {
namespace {

constexpr int kUploadBytes = 69;
constexpr double kUploadPausesMs = 1400.0;
constexpr double kRequestPausesMs = 2000.0;  // " " and "q", a second each
constexpr int kRecordSecondMs = 1000;        // after "x", before any other byte
constexpr std::size_t kLookBack = 4;         // gaps looked back over for a byte logged late
constexpr double kBaudSecondsPerByte = 10.0 / 4800.0;  // start, 8 data, stop bits

struct Expected {
  std::uint8_t byte;
  int pauseMs;  // the pause that follows it
};

// The upload's bytes and pauses for the given slot values.
std::vector<Expected> uploadPlan(const std::function<int(int)>& value) {
  std::vector<Expected> plan;
  for (int s = 0; s <= 33; ++s) {
    const auto command = static_cast<std::uint8_t>(slotInfo(s).commandByte);
    if (s > 29) {
      plan.push_back({command, 50});
      continue;
    }
    plan.push_back({command, 20});
    const int v = value(s);
    if (isWideSlot(s)) {
      plan.push_back({static_cast<std::uint8_t>((v >> 8) & 0xff), 0});
      plan.push_back({static_cast<std::uint8_t>(v & 0xff), 20});
    } else {
      plan.push_back({static_cast<std::uint8_t>(v & 0xff), 20});
    }
  }
  if (plan.size() != kUploadBytes) throw std::logic_error("the upload plan is not 69 bytes");
  return plan;
}

// The real port, with the time at which each write returned (the byte has then
// left the program): the pauses as the program kept them, free of the receiver's
// scheduling jitter.
class TimedPort : public ForwardingSerialPort {
 public:
  explicit TimedPort(std::unique_ptr<SerialPort> port)
      : ForwardingSerialPort(*port), port_(std::move(port)) {}
  void write(const std::string& bytes) override {
    starts.push_back(monotonicNs());
    port_->write(bytes);
    const auto t = monotonicNs();
    for (char c : bytes) writes.push_back({static_cast<std::uint8_t>(c), t / 1000});
  }

  std::vector<sim::LoggedByte> writes;  // same shape as the unit's log
  std::vector<std::int64_t> starts;     // when each write began, ns

 private:
  std::unique_ptr<SerialPort> port_;
};

// What the log says about the passes of one program side.
struct WireFigures {
  std::vector<double> gapOverPauseMs;         // every gap of every upload, minus its pause
  std::vector<double> uploadLogMs;            // first upload byte to the read-back's " "
  std::vector<double> uploadProgramMs;        // sendSlotValues's own duration, where measured
  std::vector<double> readBackGapOverMs;      // " " to "q" and "q" to "x", minus 1 s
  std::vector<double> readBackProgramMs;      // verify's own duration, where measured
  std::vector<double> heldMs;                 // the upload's call to its first write
  int shortGaps = 0;                          // gaps in the log shorter than their pause
  int shortNotLateArrival = 0;                // of those, not made up by the gaps before
  double loadMs = -1;                         // the load step (comms.ini, port, read-back)
  std::vector<double> programGapOverPauseMs;  // the same gaps at the program's writes
  // The whole log, every byte against the pause before the next one.
  std::vector<double> afterXOverMs;         // "x" to the next byte, minus 1 s (log)
  std::vector<double> programAfterXOverMs;  // the same at the program's writes
  int allGaps = 0, allShortGaps = 0, allShortNotLate = 0;
};

// The read-back's request: " ", "q" and "x", each followed by its second.
void appendReadBack(std::vector<Expected>& plan) {
  plan.push_back({' ', 1000});
  plan.push_back({'q', 1000});
  plan.push_back({'x', kRecordSecondMs});
}

// Every gap of a whole log against the pause after its byte; a gap shorter than
// its pause counts against the program only when the spans from the few bytes
// before it are short as well (a byte logged late lengthens the gap before it
// and shortens the one after). The last byte has no gap.
void checkWholeLog(const std::vector<sim::LoggedByte>& log, const std::vector<Expected>& plan,
                   bool programSide, WireFigures& out) {
  if (log.size() != plan.size()) {
    throw std::runtime_error("the log holds " + std::to_string(log.size()) + " bytes, planned " +
                             std::to_string(plan.size()));
  }
  for (std::size_t i = 0; i + 1 < log.size(); ++i) {
    if (log[i].byte != plan[i].byte) {
      throw std::runtime_error("byte " + std::to_string(i) + " of the log is " +
                               std::to_string(log[i].byte) + ", planned " +
                               std::to_string(plan[i].byte));
    }
    const double over =
        static_cast<double>(log[i + 1].micros - log[i].micros) / 1e3 - plan[i].pauseMs;
    if (plan[i].byte == 'x')
      (programSide ? out.programAfterXOverMs : out.afterXOverMs).push_back(over);
    if (programSide) continue;
    ++out.allGaps;
    if (over >= 0) continue;
    ++out.allShortGaps;
    double planned = plan[i].pauseMs;
    bool lateArrival = false;
    for (std::size_t back = 1; back <= kLookBack && back <= i; ++back) {
      planned += plan[i - back].pauseMs;
      const double span = static_cast<double>(log[i + 1].micros - log[i - back].micros) / 1e3;
      lateArrival = lateArrival || span >= planned;
    }
    if (!lateArrival) ++out.allShortNotLate;
  }
}

// The upload that starts at log[first], followed by a read-back.
void analyse(const std::vector<sim::LoggedByte>& log, std::size_t first,
             const std::vector<Expected>& plan, WireFigures& out) {
  if (log.size() < first + kUploadBytes + 3) throw std::runtime_error("the log is too short");
  for (std::size_t i = 0; i < plan.size(); ++i) {
    if (log[first + i].byte != plan[i].byte) {
      std::string seen;
      for (std::size_t j = 0; j < log.size() && j < first + i + 4; ++j) {
        seen += " " + std::to_string(log[j].byte);
      }
      throw std::runtime_error("byte " + std::to_string(i) + " of the upload is " +
                               std::to_string(log[first + i].byte) + ", planned " +
                               std::to_string(plan[i].byte) + "; the log begins" + seen);
    }
    const double gap = static_cast<double>(log[first + i + 1].micros - log[first + i].micros) / 1e3;
    out.gapOverPauseMs.push_back(gap - plan[i].pauseMs);
    // A byte that reaches the log late makes the gap before it longer and the
    // gap after it shorter by as much (bytes read together share one time); the
    // span from a byte a few places back shows what was sent.
    const double over = gap - plan[i].pauseMs;
    if (over < 0) {
      ++out.shortGaps;
      const std::size_t n = out.gapOverPauseMs.size();
      bool lateArrival = false;
      double span = over;
      for (std::size_t back = 2; back <= std::min<std::size_t>({n, kLookBack + 1, i + 1}); ++back) {
        span += out.gapOverPauseMs[n - back];
        lateArrival = lateArrival || span >= 0;
      }
      if (!lateArrival) ++out.shortNotLateArrival;
    }
  }
  const std::size_t space = first + kUploadBytes;
  if (log[space].byte != ' ' || log[space + 1].byte != 'q' || log[space + 2].byte != 'x') {
    throw std::runtime_error("the upload is not followed by a read-back");
  }
  out.uploadLogMs.push_back(static_cast<double>(log[space].micros - log[first].micros) / 1e3);
  for (std::size_t i = space; i < space + 2; ++i) {
    out.readBackGapOverMs.push_back(static_cast<double>(log[i + 1].micros - log[i].micros) / 1e3 -
                                    1000.0);
  }
}

void report(const std::string& who, const WireFigures& f) {
  const double uploadBudget = kUploadPausesMs * 1.02;
  const Summary log = summarise(f.uploadLogMs);
  goal(who + ": upload pass, slowest, unit's log", log.max, "ms",
       "<= " + std::to_string(static_cast<int>(uploadBudget)) + " ms", log.max <= uploadBudget);
  if (!f.uploadProgramMs.empty()) {
    const Summary prog = summarise(f.uploadProgramMs);
    goal(who + ": upload pass, slowest, sendSlotValues call", prog.max, "ms",
         "<= " + std::to_string(static_cast<int>(uploadBudget)) + " ms", prog.max <= uploadBudget);
  }
  const Summary g = summarise(f.gapOverPauseMs);
  goal(who + ": gap minus pause, min (" + std::to_string(g.count) + " gaps)", g.min, "ms", ">= 0",
       g.min >= 0);
  info(who + ": gap minus pause, median", g.median, "ms");
  goal(who + ": gap minus pause, 99th percentile", g.p99, "ms", "<= 1 ms", g.p99 <= 1.0);
  info(who + ": gap minus pause, max", g.max, "ms");
  info(who + ": gaps shorter than their pause in the log", f.shortGaps, "");
  info(who + ": of those, not made up by the 4 gaps before (bytes logged late)",
       f.shortNotLateArrival, "");
  if (!f.programGapOverPauseMs.empty()) {
    const Summary p = summarise(f.programGapOverPauseMs);
    goal(who + ": same gaps at the program's writes, min", p.min, "ms", ">= 0", p.min >= 0);
    info(who + ": same gaps at the program's writes, median", p.median, "ms");
    goal(who + ": same gaps at the program's writes, 99th percentile", p.p99, "ms", "<= 1 ms",
         p.p99 <= 1.0);
    info(who + ": same gaps at the program's writes, max", p.max, "ms");
  }
  const Summary rb = summarise(f.readBackGapOverMs);
  goal(who + ": read-back request gaps minus 1 s, min", rb.min, "ms", ">= 0", rb.min >= 0);
  info(who + ": read-back request gaps minus 1 s, max", rb.max, "ms");
  if (!f.readBackProgramMs.empty()) {
    const Summary v = summarise(f.readBackProgramMs);
    goal(who + ": read-back (verify), slowest (was 3000.7 ms)", v.max, "ms", "<= 2200 ms",
         v.max <= 2200.0);
    info(who + ": read-back (verify), median, over its 2 s of request pauses",
         v.median - kRequestPausesMs, "ms");
  }
  if (f.loadMs >= 0) info(who + ": load step with its read-back", f.loadMs, "ms");

  // The unit's second after "x", and every other pause, over the whole log.
  goal(who + ": gaps short of their pause or of 1 s after \"x\", late stamps aside (" +
           std::to_string(f.allGaps) + " gaps)",
       f.allShortNotLate, "", "0", f.allShortNotLate == 0);
  info(who + ": of all gaps, shorter than their pause in the log (bytes logged late)",
       f.allShortGaps, "");
  const Summary x = summarise(f.afterXOverMs);
  info(who + ": \"x\" to the next byte minus 1 s, log, min (" + std::to_string(x.count) + ")",
       x.min, "ms");
  info(who + ": \"x\" to the next byte minus 1 s, log, median", x.median, "ms");
  if (!f.programAfterXOverMs.empty()) {
    const Summary px = summarise(f.programAfterXOverMs);
    goal(who + ": \"x\" to the next byte minus 1 s, at the program's writes, min", px.min, "ms",
         ">= 0", px.min >= 0);
  }
  if (!f.heldMs.empty()) {
    const Summary h = summarise(f.heldMs);
    info(who + ": upload's first byte held after the read-back, median", h.median, "ms");
  }
}

// The window's controller on the real port against the unit; `passes` times an entry,
// the upload and the read-back, as behind "Update".
WireFigures throughTheCore(sim::Simulator& unit, const std::string& database, Sleeper& sleeper,
                           int passes, WireTrace* trace = nullptr) {
  TempDir dir;
  prepareProgramDir(dir, database, 3);
  unit.makeLink(dir.file("com3"));
  AppContext context;
  initAppContext(context, dir.path());
  context.locale.decimalPoint = ".";
  RecordingUnitView view;
  CountingNotifier notifier;
  auto opener = makeCachingMdbOpener();
  auto timed = std::make_unique<TimedPort>(std::make_unique<QtSerialPort>(dir.path()));
  TimedPort& port = *timed;
  UnitController controller(context, view, notifier, sleeper, std::move(timed), *opener);
  view.attach(&controller);
  controller.setTrace(trace);
  unit.clearLog();
  const auto t0 = monotonicNs();
  if (controller.openLink().outcome != LoadOutcome::Linked || notifier.count != 0) {
    throw std::runtime_error("the load step failed: " + notifier.last);
  }
  WireFigures f;
  f.loadMs = static_cast<double>(monotonicNs() - t0) / 1e6;
  std::vector<Expected> whole;
  appendReadBack(whole);

  // Each pass starts as soon as the read-back before it has its record: the
  // upload's first byte waits out the unit's second after "x".
  for (int pass = 0; pass < passes; ++pass) {
    view.setEntryText(4, std::to_string(1000 + pass));
    const auto values = controller.slotValues();
    const auto plan = uploadPlan([&](int s) { return values[s] ? *values[s] : 0; });
    const std::size_t first = whole.size();
    const std::size_t firstWrite = port.starts.size();
    controller.disableCommands();
    const auto a = monotonicNs();
    controller.sendSlotValues();
    const auto b = monotonicNs();
    controller.readBack();
    const auto c = monotonicNs();
    controller.enableCommands();
    if (notifier.count != 0) throw std::runtime_error("a message: " + notifier.last);
    whole.insert(whole.end(), plan.begin(), plan.end());
    appendReadBack(whole);
    if (!unit.waitForLogSize(whole.size(), 2000)) throw std::runtime_error("bytes missing");
    analyse(unit.log(), first, plan, f);
    WireFigures programSide;
    analyse(port.writes, first, plan, programSide);
    f.programGapOverPauseMs.insert(f.programGapOverPauseMs.end(),
                                   programSide.gapOverPauseMs.begin(),
                                   programSide.gapOverPauseMs.end());
    const std::int64_t uploadStart = port.starts.at(firstWrite);
    f.heldMs.push_back(static_cast<double>(uploadStart - a) / 1e6);
    f.uploadProgramMs.push_back(static_cast<double>(b - uploadStart) / 1e6);
    f.readBackProgramMs.push_back(static_cast<double>(c - b) / 1e6);
  }
  controller.closeLink();
  whole.push_back({'!', 0});
  if (!unit.waitForLogSize(whole.size(), 2000)) throw std::runtime_error("no close byte");
  checkWholeLog(unit.log(), whole, false, f);
  checkWholeLog(port.writes, whole, true, f);
  return f;
}

// kuctl update in its own process: read-back, upload, read-back, close.
WireFigures throughKuctl(sim::Simulator& unit, const std::string& database, int runs,
                         bool traced = false) {
  WireFigures f;
  const std::string kuctl = KU_BIN_DIR "/kuctl";
  if (access(kuctl.c_str(), X_OK) != 0) {
    note("no kuctl at " + kuctl + "; skipped");
    return f;
  }
  TempDir dir;
  prepareProgramDir(dir, database, 3);
  unit.makeLink(dir.file("com3"));
  std::filesystem::copy_file(kuctl, dir.file("kuctl"));  // its folder is the program's folder
  for (int run = 0; run < runs; ++run) {
    const int value = 2000 + run;
    auto values = unit.slotValues();
    values[4] = value;
    const auto plan = uploadPlan([&](int s) { return values[static_cast<std::size_t>(s)]; });
    unit.clearLog();
    const std::string command = dir.file("kuctl") +
                                (traced ? " --trace " + dir.file("trace") : std::string()) +
                                " update 4=" + std::to_string(value) + " >/dev/null";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("kuctl update failed");
    // Up to the close byte, so that none of this run reaches the next one's log.
    if (!unit.waitForLogSize(3 + kUploadBytes + 3 + 1, 2000))
      throw std::runtime_error("bytes missing");
    analyse(unit.log(), 3, plan, f);
    std::vector<Expected> whole;
    appendReadBack(whole);
    whole.insert(whole.end(), plan.begin(), plan.end());
    appendReadBack(whole);
    whole.push_back({'!', 0});
    checkWholeLog(unit.log(), whole, false, f);
  }
  return f;
}

int run(int argc, char** argv) {
  bool quick = false;
  for (int i = 1; i < argc; ++i) quick = quick || std::strcmp(argv[i], "--quick") == 0;
  const int passes = quick ? 2 : 5;
  const std::string database = envOr("KU_BENCH_DB", KU_BIN_DIR "/TKUUtil.mdb");

  sim::Simulator unit;
  unit.setSlotValue(0, 1);
  unit.start();

  section("The wire: uploads and read-backs as the unit's log sees them");
  note(
      "pseudo-terminal: no baud delay, transmission counted as 0 ms; the upload's budget is "
      "1400 ms of pauses + 2% = 1428 ms (at 4800 baud the 69 bytes would add " +
      std::to_string(kUploadBytes * kBaudSecondsPerByte * 1000.0).substr(0, 6) +
      " ms to both the pass and its budget)");
  note(std::to_string(passes) + " passes of entry, upload and read-back for each program side");

  RealSleeper plain;
  report("controller, deadline sleeper", throughTheCore(unit, database, plain, passes));

  // As the window runs it: the exchange on a thread of its own, while the
  // program's main thread goes on handling events.
  RealSleeper onItsThread;
  std::atomic<bool> over{false};
  decltype(throughTheCore(unit, database, onItsThread, passes)) threaded{};
  std::unique_ptr<QThread> exchange(QThread::create([&] {
    threaded = throughTheCore(unit, database, onItsThread, passes);
    over = true;
  }));
  exchange->start();
  while (!over) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  exchange->wait();
  report("controller on an exchange thread (as in the window)", threaded);

  report("kuctl update, own process", throughKuctl(unit, database, quick ? 1 : 2));

  // The same with the wire trace on: every event formatted and written to a
  // file, flushed line by line.
  TempDir traceDir;
  WireTrace trace;
  std::string why;
  if (!trace.writeTo(traceDir.file("bench.trace"), why))
    throw std::runtime_error("the trace file: " + why);
  RealSleeper tracedSleeper;
  report("controller, deadline sleeper, wire trace on",
         throughTheCore(unit, database, tracedSleeper, passes, &trace));
  report("kuctl update --trace, own process", throughKuctl(unit, database, quick ? 1 : 2, true));
  unit.stop();
  return 0;
}

}  // namespace
}  // namespace ku::bench

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  try {
    return ku::bench::run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_wire: %s\n", e.what());
    return 1;
  }
}
