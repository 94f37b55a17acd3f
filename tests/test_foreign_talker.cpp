// Another talker on the unit's line: NMEA 0183 sentences of a GPS or a sounder,
// noise before, instead of or after the record, noise from a random moment. The
// main window's controller runs on a fake port and a virtual clock with a scripted
// unit; every byte it puts on the line is compared with what the unit held, and
// every backup with the unit's values.
#include <gtest/gtest.h>

#include <array>
#include <iostream>
#include <memory>
#include <random>
#include <string>

#include "app/setup_file.h"
#include "app/unit_controller.h"
#include "expected.h"
#include "fakes.h"
#include "timeline.h"

namespace ku {
namespace {

// Sentences as a GPS and a sounder send them, checksums included.
const std::string kTalk =
    "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"
    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n"
    "$SDDPT,23.4,0.5,*5A\r\n";

enum class Talker { None, Nmea, Noise };

// How the unit answers "x" (noise around its record, or instead of it), and
// what else talks on the line from a moment on (virtual ms).
struct Scenario {
  bool unitAnswers = true;
  bool lineEnd = false;  // the unit ends its record with CR LF
  int noiseBefore = 0, noiseAfter = 0;
  Talker talker = Talker::None;
  long talkFromMs = 0;
};

// The main window's controller on the fakes, a unit holding random values behind
// the port, and a talker at 480 characters a second beside it.
struct Line {
  test::TempDir dir;
  test::FakeSleeper sleeper;
  test::RecordingNotifier notifier;
  test::EmptyDatabaseOpener opener;
  AppContext context;
  RecordingUnitView view;
  test::FakeSerialPort* port = new test::FakeSerialPort;
  std::unique_ptr<UnitController> controller;
  std::array<int, 32> held{};
  std::string answer;  // the unit's answer, due at the end of the first wait after "x"
  long long talked = 0;

  Line(const Scenario& s, std::mt19937& random) {
    for (int slot = 0; slot < 32; ++slot)
      held[slot] =
          static_cast<int>(random() % (test::isPairSlot(slot) || slot == 30 ? 32001 : 256));
    auto noise = [&random](int n) {
      std::string b;
      for (int i = 0; i < n; ++i) b += static_cast<char>(random() & 0xFF);
      return b;
    };
    port->onByte = [this, s, noise](unsigned char c) {
      if (c != 'x') return;
      answer += noise(s.noiseBefore);
      if (s.unitAnswers) answer += test::makeRecord(held) + (s.lineEnd ? "\r\n" : "");
      answer += noise(s.noiseAfter);
    };
    sleeper.onSleep = [this, s, noise](int) {
      const long long due = (sleeper.elapsedMs - s.talkFromMs) * 480 / 1000;
      for (; s.talker != Talker::None && talked < due; ++talked)
        port->arriving +=
            s.talker == Talker::Noise ? noise(1) : kTalk.substr(talked % kTalk.size(), 1);
      port->arriving += answer;
      answer.clear();
    };
    dir.writeCommsIni("Port,1\n");
    initAppContext(context, dir.path());
    context.backupsDir = dir.path() + "/backups";
    controller = std::make_unique<UnitController>(context, view, notifier, sleeper,
                                                  std::unique_ptr<SerialPort>(port), opener);
    view.attach(controller.get());
  }
};

enum class RunEnd { Refused, SentTheUnitsValues, SentSomethingElse };

// Runs "update 8=50" once. Only read-back requests and the pass of the unit's
// own values may reach the line, and a backup only of those values.
RunEnd updateOnce(const Scenario& s, std::mt19937& random) {
  Line line(s, random);
  line.controller->openLink();
  line.view.setEntryText(8, "50");
  const bool sent = line.controller->runUpdateCommand() == UploadOutcome::Sent;
  test::UploadValues values{};
  for (int slot = 0; slot < 30; ++slot) values[slot] = slot == 8 ? 50 : line.held[slot];
  const std::string& w = line.port->written;
  const std::string rb = test::kReadBackRequest, pass = test::uploadOf(values);
  const std::vector<BackupEntry> backups = listBackups(line.context.backupsDir);
  if (!sent) {
    EXPECT_TRUE(w == rb || w == rb + rb) << w.size();
    EXPECT_TRUE(backups.empty()) << "a refused upload wrote a backup";
    EXPECT_FALSE(line.controller->saveSetupFile(line.dir.path() + "/saved.json").saved());
    return RunEnd::Refused;
  }
  EXPECT_EQ(backups.size(), 1u);
  for (const BackupEntry& b : backups) {
    const UnitSetup setup = readSetupFile(b.path);
    for (int slot = 0; slot < 32; ++slot)
      EXPECT_EQ(setup.values[slot].value_or(line.held[slot]), line.held[slot]) << slot;
  }
  const bool right = w == rb + pass + rb || w == rb + rb + pass + rb;
  EXPECT_TRUE(right) << "a pass that is not the unit's values went out";
  return right ? RunEnd::SentTheUnitsValues : RunEnd::SentSomethingElse;
}

TEST(ForeignTalker, KnownCasesUploadOrRefuseAsTheyMust) {
  std::mt19937 random(7);
  const RunEnd sent = RunEnd::SentTheUnitsValues, refused = RunEnd::Refused;
  const std::pair<Scenario, RunEnd> cases[] = {
      {{}, sent},                                     // a clean line
      {{true, true}, sent},                           // the unit ends with CR LF
      {{true, false, 0, 50}, sent},                   // noise after the record
      {{true, false, 5, 0}, refused},                 // noise before it
      {{false, false, 0, 100}, refused},              // 100 characters instead
      {{false, false, 0, 37}, refused},               // 37 characters instead
      {{true, false, 0, 0, Talker::Nmea}, refused},   // a GPS beside the unit
      {{false, false, 0, 0, Talker::Nmea}, refused},  // a GPS instead of it
      {{true, false, 0, 0, Talker::Noise}, refused},  // noise from the start
  };
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(updateOnce(cases[i].first, random), cases[i].second) << "case " << i;
}

// Many update runs, each with its own scenario, unit values and moment at which
// the talker starts; the seed is printed on failure.
TEST(ForeignTalker, ThousandUpdatesNeverUploadAValueTheUnitDidNotHold) {
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  constexpr int kRuns = 1000;
  std::array<int, 3> ends{};
  for (int run = 0; run < kRuns && !::testing::Test::HasFailure(); ++run) {
    Scenario s;
    s.unitAnswers = random() % 4 != 0;
    s.lineEnd = random() % 4 == 0;
    s.noiseBefore = random() % 4 == 0 ? 1 + static_cast<int>(random() % 100) : 0;
    s.noiseAfter = random() % 3 == 0 ? 1 + static_cast<int>(random() % 600) : 0;
    // Exactly 38 characters of noise instead of the record, then silence, is a
    // record to anything on the line (it has no checksum): not a case here.
    if (!s.unitAnswers && s.noiseBefore + s.noiseAfter == 38) ++s.noiseAfter;
    s.talker = static_cast<Talker>(random() % 3);
    s.talkFromMs = static_cast<long>(random() % 9000);
    SCOPED_TRACE("run " + std::to_string(run));
    ++ends[static_cast<std::size_t>(updateOnce(s, random))];
  }
  std::cout << "seed " << seed << ": " << ends[1] << " uploads of the unit's values, " << ends[0]
            << " refused; uploads carrying a value the unit did not hold: " << ends[2] << "\n";
  EXPECT_EQ(ends[2], 0);
  EXPECT_GT(ends[1], kRuns / 10);
  EXPECT_GT(ends[0], kRuns / 10);
}

}  // namespace
}  // namespace ku
