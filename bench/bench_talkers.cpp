// Another talker on the unit's line: "kuctl update 8=50" against ku-sim with an
// NMEA 0183 talker beside or instead of the unit, noise from a random byte on,
// noise after or instead of the record, and a clean line to compare with. Each
// case runs several kuctl at once, each against its own unit; the figure that
// counts is the number of uploads that carried a value the unit did not hold.
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "link/protocol.h"
#include "model/slot_table.h"
#include "simulator.h"

namespace ku::bench {
namespace {

struct Case {
  std::string name;
  std::function<sim::Faults(std::mt19937&)> faults;
};

struct Run {
  TempDir dir;
  sim::Simulator unit;
  std::array<std::int32_t, 32> held{};
  QProcess kuctl;
  std::int64_t startedNs = 0;
};

struct Tally {
  int unitsValues = 0, refused = 0, notHeld = 0;
  std::vector<double> ms;
};

// The pass that sends the unit's own values with slot 8 set to 50.
std::string passOf(const std::array<std::int32_t, 32>& held) {
  UploadValues v{};
  for (int s = 0; s < kValueSlots; ++s) v[s] = static_cast<std::int16_t>(held[s]);
  v[8] = 50;
  return frameBytes(buildUploadFrame(v));
}

Tally runCase(const Case& c, int runs, std::mt19937& random, const std::string& bin,
              const std::string& database) {
  std::vector<std::unique_ptr<Run>> all;
  for (int i = 0; i < runs; ++i) {
    auto r = std::make_unique<Run>();
    prepareProgramDir(r->dir, database, 1);
    std::filesystem::copy_file(bin + "/kuctl", r->dir.file("kuctl"));
    for (int slot = 1; slot < kValueSlots; ++slot)
      r->unit.setSlotValue(slot, static_cast<std::int32_t>(random() % 200));
    r->held = r->unit.slotValues();
    r->unit.setFaults(c.faults(random));
    r->unit.start();
    r->unit.makeLink(r->dir.file("com1"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), QString::fromStdString(r->dir.file("state")));
    r->kuctl.setProcessEnvironment(env);
    r->startedNs = monotonicNs();
    r->kuctl.start(QString::fromStdString(r->dir.file("kuctl")), {"update", "8=50"});
    all.push_back(std::move(r));
  }
  Tally t;
  for (auto& r : all) {
    r->kuctl.waitForFinished(90000);
    t.ms.push_back(static_cast<double>(monotonicNs() - r->startedNs) / 1e6);
    for (int i = 0; i < 200 && (r->unit.log().empty() || r->unit.log().back().byte != '!'); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::string got;
    for (const sim::LoggedByte& b : r->unit.log()) got += static_cast<char>(b.byte);
    r->unit.stop();
    // Anything beyond the read-back requests and the close byte is an upload.
    std::string rest = got;
    for (std::size_t at; (at = rest.find(" qx")) != std::string::npos;) rest.erase(at, 3);
    if (!rest.empty() && rest.back() == '!') rest.pop_back();
    if (rest.empty()) {
      ++t.refused;
    } else if (rest == passOf(r->held)) {
      ++t.unitsValues;
    } else {
      ++t.notHeld;
    }
  }
  return t;
}

int run(bool quick) {
  const std::string bin = KU_BIN_DIR;
  const std::string database = envOr("KU_BENCH_DB", bin + "/TKUUtil.mdb");
  const int runs = quick ? 3 : 6;
  std::mt19937 random(20261208);
  const std::vector<Case> cases = {
      {"clean line", [](std::mt19937&) { return sim::Faults{}; }},
      {"NMEA talker beside the unit",
       [](std::mt19937&) {
         sim::Faults f;
         f.nmeaTalker = true;
         return f;
       }},
      {"NMEA talker instead of the unit",
       [](std::mt19937&) {
         sim::Faults f;
         f.nmeaTalker = true;
         f.silent = true;
         return f;
       }},
      {"noise from a random byte 0..59 on",
       [](std::mt19937& r) {
         sim::Faults f;
         f.noiseFrom = static_cast<long>(r() % 60);
         return f;
       }},
      {"1..300 bytes of noise after the record",
       [](std::mt19937& r) {
         sim::Faults f;
         f.noiseAfterRecord = 1 + static_cast<int>(r() % 300);
         return f;
       }},
      {"39..600 bytes of noise instead of the record",
       [](std::mt19937& r) {
         sim::Faults f;
         f.floodBytes = 39 + static_cast<long>(r() % 562);
         return f;
       }},
  };
  section("Another talker on the line: kuctl update 8=50, " + std::to_string(runs) +
          " at once per case, each against its own unit");
  int notHeld = 0;
  for (const Case& c : cases) {
    const Tally t = runCase(c, runs, random, bin, database);
    notHeld += t.notHeld;
    const Summary s = summarise(t.ms);
    note(c.name + ": " + std::to_string(t.unitsValues) + " uploads of the unit's values, " +
         std::to_string(t.refused) + " refused, " + std::to_string(t.notHeld) +
         " carrying a value it did not hold");
    info(c.name + ": kuctl update, start to end, median", s.median, "ms");
  }
  goal("uploads carrying a value the unit did not hold, all cases", notHeld, "", "0", notHeld == 0);
  return 0;
}

}  // namespace
}  // namespace ku::bench

int main(int argc, char** argv) {
  return ku::bench::benchMain(argc, argv, "bench_talkers", ku::bench::run);
}
