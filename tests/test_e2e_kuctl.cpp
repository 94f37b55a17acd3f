// kuctl against the simulated unit on a pseudo-terminal: the bytes on the line,
// their order and spacing, what is printed and the exit status.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <chrono>
#include <csignal>
#include <functional>
#include <regex>
#include <thread>

#include "expected.h"
#include "link/wire_trace.h"
#include "simulator.h"
#include "unit_pace.h"

namespace ku {
namespace {

using sim::LoggedByte;
using sim::Simulator;

struct Outcome {
  int status;
  std::string out, err;
};

class KuctlOnSim : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    // The program's folder: kuctl, its reference database, comms.ini and com1.
    ASSERT_TRUE(QFile::copy(QStringLiteral(KU_BIN_DIR "/kuctl"), dir.filePath("kuctl")));
    ASSERT_TRUE(
        QFile::copy(QStringLiteral(KU_BIN_DIR "/TKUUtil.mdb"), dir.filePath("TKUUtil.mdb")));
    QFile ini(dir.filePath("comms.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("\"Port\",1\r\n");
    ini.close();
    unit.start();
    unit.makeLink(dir.filePath("com1").toStdString());
  }
  void TearDown() override { unit.stop(); }

  // language: the LANG kuctl runs under (LC_ALL and LC_NUMERIC unset); empty
  // leaves the environment's.
  Outcome kuctl(const QStringList& args, const QString& language = {}) {
    QProcess p;
    // Nothing of the user's own settings folder: only the program's folder counts.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir.filePath("no-settings"));
    env.insert("XDG_STATE_HOME", dir.filePath("state"));  // backups stay in the test's folder
    if (!language.isEmpty()) {
      env.remove("LC_ALL");
      env.remove("LC_NUMERIC");
      env.insert("LANG", language);
    }
    p.setProcessEnvironment(env);
    p.start(dir.filePath("kuctl"), args);
    EXPECT_TRUE(p.waitForFinished(60000));
    // Let the unit's thread take in the last bytes.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return {p.exitCode(), p.readAllStandardOutput().toStdString(),
            p.readAllStandardError().toStdString()};
  }

  // Runs kuctl for an upload, after prepare() has set the unit up. The unit
  // gives a command up when a value byte comes more than 30 ms after the byte
  // before it, and with the real 20 ms pauses a busy machine can keep its
  // thread waiting that long: then the run is made again (three times at
  // most). False when the unit never kept up; r is the last run's outcome.
  bool uploadTheUnitKeptUpWith(const std::function<void()>& prepare, const QStringList& args,
                               Outcome& r) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      prepare();
      unit.clearLog();
      r = kuctl(args);
      if (r.status != 0) return true;  // the caller reports it
      if (test::longestValueWait(unit.log(), 3) <= test::kUnitValueWaitMicros) return true;
    }
    return false;
  }
  static constexpr const char* kFellBehind =
      "the unit's thread took a value byte in late three times running";

  std::string bytes() const {
    std::string s;
    for (const LoggedByte& b : unit.log()) s += static_cast<char>(b.byte);
    return s;
  }

  QTemporaryDir dir;
  Simulator unit;
};

// The pause that must separate byte i from byte i+1 of a default upload pass, in ms.
std::vector<int> uploadPauses() {
  std::vector<int> p;
  for (int s = 0; s < 34; ++s) {
    if (s >= 30) {
      p.push_back(50);
    } else if (test::isPairSlot(s)) {
      p.insert(p.end(), {20, 0, 20});
    } else {
      p.insert(p.end(), {20, 20});
    }
  }
  return p;
}

using test::shortGap;

TEST_F(KuctlOnSim, DefaultsSendsTheDefaultTableBetweenTwoReadBacksAndReadShowsIt) {
  Outcome r;
  const bool keptUp = uploadTheUnitKeptUpWith(
      [&] {
        unit.setSlotValue(0, 2);     // channel 3
        unit.setSlotValue(4, 1000);  // not the default
        unit.setSlotValue(12, 7);
      },
      {"defaults"}, r);
  ASSERT_EQ(r.status, 0) << r.err;

  const std::vector<LoggedByte> log = unit.log();
  ASSERT_EQ(bytes(),
            test::kReadBackRequest + test::defaultUpload(2) + test::kReadBackRequest + "!");

  // Every gap at least its pause: 1 s after each request byte, the upload's own.
  std::vector<int> pauses = {1000, 1000, 1000};
  const auto up = uploadPauses();
  pauses.insert(pauses.end(), up.begin(), up.end());
  pauses.insert(pauses.end(), {1000, 1000, 1000});
  ASSERT_EQ(pauses.size() + 1, log.size());
  for (std::size_t i = 0; i + 1 < log.size(); ++i) EXPECT_EQ(shortGap(log, pauses, i), "");
  // And no pause much longer than asked: the whole run within its pauses and a
  // generous allowance for two processes on a busy machine.
  std::int64_t total = 0;
  for (int p : pauses) total += p * 1000LL;
  EXPECT_LT(log.back().micros - log.front().micros, total + 3000000);

  if (!keptUp) GTEST_SKIP() << kFellBehind;
  EXPECT_EQ(unit.slotValues()[4], 799);
  EXPECT_EQ(unit.slotValues()[0], 2);
  unit.clearLog();
  const Outcome read = kuctl({"read"});
  ASSERT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(bytes(), " qx!");
  EXPECT_NE(read.out.find("Test Frequency        799      50"), std::string::npos) << read.out;
  EXPECT_NE(read.out.find("Channel No.(1-4)      3"), std::string::npos) << read.out;
}

TEST_F(KuctlOnSim, UpdateStoresTheEntriesInTheUnit) {
  Outcome r;
  const bool keptUp = uploadTheUnitKeptUpWith([] {}, {"--json", "update", "4=32000", "8=255"}, r);
  ASSERT_EQ(r.status, 0) << r.err;
  if (!keptUp) GTEST_SKIP() << kFellBehind;
  EXPECT_EQ(unit.slotValues()[4], 32000);
  EXPECT_EQ(unit.slotValues()[8], 255);
  EXPECT_NE(r.out.find("\"current\": \"32000\""), std::string::npos) << r.out;
  const std::string sent = bytes();
  ASSERT_EQ(sent.size(), 3u + 69u + 3u + 1u);
  EXPECT_NE(sent.find(std::string("A\x7D\x00", 3)), std::string::npos);
  EXPECT_NE(sent.find(std::string("E\xFF", 2)), std::string::npos);
}

TEST_F(KuctlOnSim, SilentUnitAndShortRecordGiveTheShortReplyMessage) {
  sim::Faults f;
  f.silent = true;
  unit.setFaults(f);
  Outcome r = kuctl({"read"});
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(
      r.err.find(test::kShortReplyMessage +
                 std::string("\nkuctl: received nothing (kuctl doctor checks the connection)\n")),
      std::string::npos)
      << r.err;
  EXPECT_EQ(bytes(), " qx!");

  f.silent = false;
  f.shortRecord = 20;
  unit.setFaults(f);
  unit.clearLog();
  r = kuctl({"read"});
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.err.find("kuctl: received 20 of 38 characters (kuctl doctor checks the connection)"),
            std::string::npos)
      << r.err;
  // Slots 0..17 come from the 20 characters; the others stay empty, their
  // reference figures too (no 0 % from a gain the unit never reported).
  EXPECT_NE(r.out.find("Ref Clock             62 "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("E/S Gain" + std::string(14 + 9 + 12, ' ') + "%"), std::string::npos)
      << r.out;
}

// The trace of an update (read-back, upload pass, read-back, close byte) holds
// the very bytes the unit received, spaced as the unit saw them, each pause
// before the byte it separates, and the unit's record as the last read-back
// read it.
TEST_F(KuctlOnSim, TheTraceOfAnUpdateLinesUpWithTheUnitsLog) {
  const QString file = dir.filePath("update.trace");
  Outcome r;
  const bool keptUp = uploadTheUnitKeptUpWith(
      [] {}, {"--trace", file, "--device", dir.filePath("com1"), "update", "8=50"}, r);
  ASSERT_EQ(r.status, 0) << r.err;
  if (!keptUp) GTEST_SKIP() << kFellBehind;

  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  std::vector<TraceLine> events;
  for (const QByteArray& line : f.readAll().split('\n')) {
    TraceLine t;
    if (parseTraceLine(line.toStdString(), t)) events.push_back(t);
  }
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().event, "open");
  EXPECT_EQ(events.front().micros, 0);
  EXPECT_EQ(events.back().event, "close");

  std::string written, readAfterX;
  std::vector<long long> at;      // each written byte's time, microseconds
  std::vector<int> pausedBefore;  // the pause traced since the byte before it, ms
  int pause = 0;
  for (const TraceLine& t : events) {
    if (t.event == "pause" || t.event == "hold") pause += std::stoi(t.details);
    if (t.event == "write") {
      ASSERT_EQ(t.bytes.size(), 1u) << t.details;
      written += t.bytes;
      at.push_back(t.micros);
      pausedBefore.push_back(pause);
      pause = 0;
    }
    // What came after the last "x": the record of the set-up just uploaded.
    if (t.event == "read" && written.size() == 3u + 69u + 3u) readAfterX += t.bytes;
  }
  const std::vector<LoggedByte> log = unit.log();
  ASSERT_EQ(written, bytes());
  ASSERT_EQ(written.size(), 3u + 69u + 3u + 1u);
  EXPECT_EQ(readAfterX, unit.record());

  // A gap on the program's clock and the same gap on the unit's agree within
  // 30 ms (the unit's thread takes a byte in a little late now and then), and
  // no gap is shorter than the pause traced in it.
  for (std::size_t i = 1; i < written.size(); ++i) {
    const long long traced = at[i] - at[i - 1];
    const long long seen = log[i].micros - log[i - 1].micros;
    EXPECT_LT(std::llabs(traced - seen), 30000) << "byte " << i;
    EXPECT_GE(traced, pausedBefore[i] * 1000LL) << "byte " << i;
  }
  EXPECT_GE(pausedBefore[1], 1000) << "the pause after \" \"";
  EXPECT_GE(pausedBefore[3], 900) << "the hold after \"x\"";
}

// The line drops partway through "update": the pass goes no further, standard
// error says how far it got and where the set-up from before is, the exit status
// is 9, and neither table nor JSON shows a value the unit did not report.
TEST_F(KuctlOnSim, AnUploadThatBreaksOffExitsNineAndNamesTheBackup) {
  sim::Faults f;
  f.hangUpAfter = 3 + 23;  // the read-back's " qx", then 23 bytes of the pass
  unit.setFaults(f);
  const Outcome r = kuctl({"--json", "update", "11=99"});
  EXPECT_EQ(r.status, 9) << r.err;
  const std::string backups = dir.filePath("state/ku-utility/backups/").toStdString();
  EXPECT_NE(r.err.find("kuctl: The upload stopped after 23 of 69 bytes, in slot 10, Depth Clock. "
                       "The unit may hold part of the new set-up. The set-up from before the "
                       "upload is in the backup " +
                       backups),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find(".json; File > Restore backup (kuctl restore with that file) puts it "
                       "back.\n"),
            std::string::npos)
      << r.err;
  // The unit holds the built-in defaults; the pass got as far as Depth Clock's command byte.
  EXPECT_EQ(bytes(), " qx" + test::uploadOf(test::kBuiltInDefaults).substr(0, 23));
  const QJsonArray rows =
      QJsonDocument::fromJson(QByteArray::fromStdString(r.out))["rows"].toArray();
  ASSERT_EQ(rows.size(), 33);
  for (int i = 0; i < 32; ++i) {
    EXPECT_TRUE(rows[i]["current"].isNull()) << i;
    EXPECT_TRUE(rows[i]["value"].isNull()) << i;
    // No figure from the entry or from a reading before the upload either.
    EXPECT_EQ(rows[i]["descriptionValue"].toString(), "") << i;
    const QString reference = rows[i]["reference"].toString();
    EXPECT_TRUE(reference.isEmpty() || reference == "N/A" || reference == "NA") << i;
  }
}

TEST_F(KuctlOnSim, InvalidPortAndHeldPortSendNothing) {
  QFile::remove(dir.filePath("comms.ini"));
  Outcome r = kuctl({"read"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find(test::kInvalidPortMessage), std::string::npos);
  EXPECT_EQ(bytes(), "");

  r = kuctl({"--port", "99", "read"});  // no com99 here and no such serial device
  EXPECT_EQ(r.status, 3) << r.err;

  // Another program holds the port.
  QSerialPort holder(dir.filePath("com1"));
  ASSERT_TRUE(holder.open(QIODevice::ReadWrite)) << holder.errorString().toStdString();
  r = kuctl({"--port", "1", "update", "8=1"});
  EXPECT_EQ(r.status, 4) << r.err;
  EXPECT_NE(r.err.find("could not be opened"), std::string::npos) << r.err;
  EXPECT_EQ(bytes(), "");
}

// Whatever stands where a port belongs, when it names no port the outcome is
// the invalid-port one (3), not "could not be opened" (4).
TEST_F(KuctlOnSim, WhatNamesNoPortIsTheInvalidPortOutcome) {
  QFile ini(dir.filePath("comms.ini"));
  for (const QByteArray& text :
       {QByteArray(), QByteArray("Port,\x01\xfe\x00\x00\x1b[2J\n", 15), QByteArray("Port,")}) {
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ini.write(text);
    // The empty text stands for a folder as the device; "Port," is followed by
    // one item of 200 MB of NULs (sparse).
    if (text == "Port,") {
      ASSERT_TRUE(ini.resize(200LL * 1024 * 1024));
    }
    ini.close();
    const Outcome r = kuctl(text.isEmpty() ? QStringList{"--device", dir.path(), "read"}
                                           : QStringList{"update", "8=1"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find(test::kInvalidPortMessage), std::string::npos) << r.err;
    EXPECT_EQ(bytes(), "");
  }
}

// The values are the unit's own: the same digits and point under a language
// that writes numbers with a comma, and entries are read with the point.
TEST_F(KuctlOnSim, NumbersAreTheSameInEveryLanguage) {
  const QString german = QStringLiteral("de_DE.UTF-8");
  Outcome r = kuctl({"read"}, german);
  EXPECT_NE(r.out.find("614      65.041      kHz       IF Frequency  15.041    kHz\n"),
            std::string::npos)
      << r.out;
  r = kuctl({"--json", "read"}, german);
  EXPECT_NE(r.out.find("\"reference\": \"65.041\""), std::string::npos) << r.out;
  unit.clearLog();
  EXPECT_EQ(kuctl({"update", "8=1,5"}, german).status, 2);
  EXPECT_EQ(bytes(), "");
  r = kuctl({"update", "8=1.5"}, german);
  EXPECT_EQ(r.status, 0) << r.err;
  if (test::longestValueWait(unit.log(), 3) <= test::kUnitValueWaitMicros) {
    EXPECT_EQ(unit.slotValues()[8], 2);  // 1.5 goes to the even neighbour
  }
}

TEST_F(KuctlOnSim, DeviceOptionNeedsNoCommsIniAnywhere) {
  QFile::remove(dir.filePath("comms.ini"));
  QFile::remove(dir.filePath("com1"));
  unit.setSlotValue(0, 1);  // channel 2
  Outcome r = kuctl({"--device", QString::fromStdString(unit.devicePath()), "read"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(bytes(), " qx!");
  EXPECT_NE(r.out.find("Channel No.(1-4)      2"), std::string::npos) << r.out;

  r = kuctl({"--device", QString::fromStdString(unit.devicePath()), "info"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("device:             " + unit.devicePath() + "\n  given with --device\n"),
            std::string::npos)
      << r.out;

  // No such device: the invalid-port message; a device held elsewhere: status 4.
  unit.clearLog();
  r = kuctl({"--device", dir.filePath("nothing-here"), "update", "8=1"});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("Invalid Com Port.Either missing comms.ini file or wrong port number,"),
            std::string::npos);
  QSerialPort holder(QString::fromStdString(unit.devicePath()));
  ASSERT_TRUE(holder.open(QIODevice::ReadWrite)) << holder.errorString().toStdString();
  r = kuctl({"--device", QString::fromStdString(unit.devicePath()), "defaults"});
  EXPECT_EQ(r.status, 4) << r.err;
  EXPECT_EQ(bytes(), "");
}

TEST_F(KuctlOnSim, RejectedEntrySendsNothing) {
  const Outcome r = kuctl({"update", "8=300"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(test::kEnterValidNumberMessage), std::string::npos);
  EXPECT_EQ(bytes(), "");
}

// Both programs name their version the same way and parse alike; ku-sim's usage
// errors name the option as typed.
TEST(Programs, VersionAndUsageTexts) {
  auto runProgram = [](const char* program, const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(KU_BIN_DIR "/") + QLatin1String(program), args);
    EXPECT_TRUE(p.waitForFinished(30000));
    return Outcome{p.exitCode(), p.readAllStandardOutput().toStdString(),
                   p.readAllStandardError().toStdString()};
  };
  const std::regex version("[0-9]+\\.[0-9]+(\\.[0-9]+)*\n");
  const Outcome kuctl = runProgram("kuctl", {"--version"});
  const Outcome sim = runProgram("ku-sim", {"--version"});
  EXPECT_EQ(kuctl.status, 0);
  EXPECT_EQ(sim.status, 0);
  ASSERT_EQ(kuctl.out.rfind("kuctl ", 0), 0u) << kuctl.out;
  ASSERT_EQ(sim.out.rfind("ku-sim ", 0), 0u) << sim.out;
  EXPECT_TRUE(std::regex_match(kuctl.out.substr(6), version)) << kuctl.out;
  EXPECT_EQ(kuctl.out.substr(6), sim.out.substr(7));

  const std::pair<QStringList, std::string> bad[] = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"stray"}, "unknown option 'stray'"},
      {{"--channel"}, "--channel needs a number 0..255"},
      {{"--channel", "x1"}, "--channel needs a number 0..255"},
      {{"--short", "-1"}, "--short needs a number 0..38"},
      {{"--high-byte", "6"}, "--high-byte needs one of the slots 4, 5, 27, 28, 29, 30"},
      {{"--silent", "--flood=0"}, "--flood needs a positive number of bytes"},
      {{"--log"}, "--log needs a path"},
      {{"--link", ""}, "--link needs a path"},
  };
  for (const auto& [args, text] : bad) {
    const Outcome r = runProgram("ku-sim", args);
    EXPECT_EQ(r.status, 2) << text;
    EXPECT_EQ(r.err, "ku-sim: " + text + "\nTry 'ku-sim --help'.\n");
  }
  const Outcome help = runProgram("ku-sim", {"--channel", "300", "-h"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: ku-sim [options]\n", 0), 0u) << help.out;
}

// --- One program on a port; signals ----------------------------------------

// kuctl left running, with its backups in the test's folder.
class KuctlRunning : public KuctlOnSim {
 protected:
  void start(const QStringList& args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir.filePath("no-settings"));
    env.insert("XDG_STATE_HOME", dir.filePath("state"));  // backups stay in the test's folder
    env.insert("XDG_STATE_HOME", dir.filePath("state"));
    running.setProcessEnvironment(env);
    running.start(dir.filePath("kuctl"), args);
  }
  Outcome finish() {
    EXPECT_TRUE(running.waitForFinished(60000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return {running.exitCode(), {}, running.readAllStandardError().toStdString()};
  }
  // The unit's slots 0..29 with slot 8 set to v.
  test::UploadValues withSlot8(int v) const {
    test::UploadValues values{};
    for (int s = 0; s < 30; ++s) values[static_cast<std::size_t>(s)] = unit.slotValues()[s];
    values[8] = v;
    return values;
  }
  QProcess running;
};

TEST_F(KuctlRunning, ASecondProgramOnThePortThroughAnotherNameSendsNothingAndExits4) {
  const std::string pass = test::uploadOf(withSlot8(33));
  start({"update", "8=33"});
  ASSERT_TRUE(unit.waitForLogSize(1, 10000));  // the first is reading the unit back
  const std::string device = unit.devicePath();
  const Outcome second = kuctl({"--device", QString::fromStdString(device), "update", "9=44"});
  EXPECT_EQ(second.status, 4);
  EXPECT_NE(second.err.find(device + " is held by another program"), std::string::npos)
      << second.err;
  EXPECT_EQ(finish().status, 0);
  EXPECT_EQ(bytes(), test::kReadBackRequest + pass + test::kReadBackRequest + "!");
}

struct SignalCase {
  int signal;
  const char* name;
  bool duringUpload;  // else during the first read-back
};

class KuctlSignalled : public KuctlRunning, public ::testing::WithParamInterface<SignalCase> {};

// During the upload the pass finishes, then "!" without a read-back, and the
// message names the backup; during a read-back "!" follows at once.
TEST_P(KuctlSignalled, EndsWithTheCloseByteAndNoHalfWrittenFrame) {
  const SignalCase& c = GetParam();
  const test::UploadValues want = withSlot8(50);
  start({"update", "8=50"});
  ASSERT_TRUE(unit.waitForLogSize(c.duringUpload ? 4 : 1, 10000));
  ASSERT_EQ(::kill(static_cast<pid_t>(running.processId()), c.signal), 0);
  const Outcome r = finish();
  EXPECT_EQ(r.status, 128 + c.signal);
  EXPECT_NE(r.err.find(std::string("stopped by ") + c.name), std::string::npos) << r.err;
  if (!c.duringUpload) {  // the pause after " " gives way at once
    EXPECT_EQ(bytes(), " !");
    EXPECT_LT(unit.log().back().micros - unit.log().front().micros, 900000);
    return;
  }
  EXPECT_EQ(bytes(), test::kReadBackRequest + test::uploadOf(want) + "!");
  std::smatch backup;
  ASSERT_TRUE(std::regex_search(r.err, backup, std::regex("kuctl restore (\\S+)"))) << r.err;
  EXPECT_TRUE(QFile::exists(QString::fromStdString(backup[1].str())));
  if (test::longestValueWait(unit.log(), 3) > test::kUnitValueWaitMicros)
    GTEST_SKIP() << kFellBehind;
  for (int s = 0; s < 30; ++s) EXPECT_EQ(unit.slotValues()[s], want[s]) << "slot " << s;
}

INSTANTIATE_TEST_SUITE_P(Signals, KuctlSignalled,
                         // Each signal on each byte is played on the fake port (test_stop);
                         // here one during the upload and one during the read-back.
                         ::testing::Values(SignalCase{SIGINT, "SIGINT", true},
                                           SignalCase{SIGHUP, "SIGHUP", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ku
