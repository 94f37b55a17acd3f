// kuctl's set-up files and backups against the simulated unit: save, diff,
// apply, restore, and the two ways a unit used to lose its set-up.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <thread>

#include "app/backups.h"
#include "expected.h"
#include "simulator.h"
#include "unit_pace.h"

namespace ku {
namespace {

struct Outcome {
  int status;
  std::string out, err;
};

// The unit's values 0..29 as an upload sends them.
test::UploadValues uploadValues(const std::array<std::int32_t, 32>& v) {
  test::UploadValues u{};
  for (int s = 0; s < kValueSlots; ++s) u[s] = v[s];
  return u;
}

class SetupsOnSim : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid() && state.isValid());
    ASSERT_TRUE(QFile::copy(QStringLiteral(KU_BIN_DIR "/kuctl"), dir.filePath("kuctl")));
    ASSERT_TRUE(
        QFile::copy(QStringLiteral(KU_BIN_DIR "/TKUUtil.mdb"), dir.filePath("TKUUtil.mdb")));
    writeCommsIni("\"Port\",1\r\n");
    unit.start();
    unit.makeLink(dir.filePath("com1").toStdString());
    unit.makeLink(dir.filePath("com7").toStdString());
  }
  void TearDown() override { unit.stop(); }

  void writeCommsIni(const QByteArray& text) {
    QFile ini(dir.filePath("comms.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(text);
  }

  Outcome kuctl(const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), state.path());
    p.setProcessEnvironment(env);
    p.start(dir.filePath("kuctl"), args);
    EXPECT_TRUE(p.waitForFinished(60000));
    std::this_thread::sleep_for(
        std::chrono::milliseconds(100));  // the unit takes in the last bytes
    return {p.exitCode(), p.readAllStandardOutput().toStdString(),
            p.readAllStandardError().toStdString()};
  }

  std::string bytes() const {
    std::string s;
    for (const sim::LoggedByte& b : unit.log()) s += static_cast<char>(b.byte);
    return s;
  }
  // Whether the unit took every value byte of the pass after the first read-back
  // in time (on a busy machine its thread may fall behind and drop a command).
  bool keptUp() const {
    return test::longestValueWait(unit.log(), 3) <= test::kUnitValueWaitMicros;
  }
  std::string backupsDir() const { return state.filePath("ku-utility/backups").toStdString(); }
  std::string path(const char* name) const { return dir.filePath(name).toStdString(); }

  QTemporaryDir dir, state;
  sim::Simulator unit;
};

TEST_F(SetupsOnSim, SaveDefaultsDiffApplyDiff) {
  unit.setSlotValue(0, 2);
  unit.setSlotValue(4, 1000);
  unit.setSlotValue(8, 17);
  unit.setSlotValue(29, 321);
  const auto tuned = unit.slotValues();

  Outcome r = kuctl({"save", dir.filePath("a.json")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(bytes(), " qx!");
  const UnitSetup saved = readSetupFile(path("a.json"));
  for (int s = 0; s < 32; ++s) EXPECT_EQ(saved.values[s], tuned[s]) << s;
  EXPECT_EQ(saved.device, path("com1"));

  unit.clearLog();
  ASSERT_EQ(kuctl({"defaults"}).status, 0);
  if (!keptUp()) GTEST_SKIP() << "the unit fell behind the upload";
  unit.clearLog();
  r = kuctl({"diff", dir.filePath("a.json")});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out,
            "slot name                  unit     file\n"
            "4    Test Frequency        799      1000\n"
            "8    Ramp Start            205      17\n"
            "29   Tx Int Const          0        321\n");
  EXPECT_EQ(bytes(), " qx!");  // diff uploads nothing

  unit.clearLog();
  r = kuctl({"apply", dir.filePath("a.json")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(bytes(), " qx" + test::uploadOf(uploadValues(tuned)) + " qx!");
  if (!keptUp()) GTEST_SKIP() << "the unit fell behind the upload";
  EXPECT_EQ(unit.slotValues(), tuned);

  r = kuctl({"diff", dir.filePath("a.json")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "The unit's slots 1 to 29 hold the file's values.\n");
}

TEST_F(SetupsOnSim, UpdateKeepsABackupAndRestorePutsItBack) {
  unit.setSlotValue(4, 2345);
  unit.setSlotValue(12, 99);
  const auto before = unit.slotValues();

  Outcome r = kuctl({"update", "4=1000"});
  ASSERT_EQ(r.status, 0) << r.err;
  if (!keptUp()) GTEST_SKIP() << "the unit fell behind the upload";
  EXPECT_EQ(unit.slotValues()[4], 1000);
  const std::vector<BackupEntry> list = listBackups(backupsDir());
  ASSERT_EQ(list.size(), 1u);
  const UnitSetup kept = readSetupFile(list[0].path);
  for (int s = 0; s < 32; ++s) EXPECT_EQ(kept.values[s], before[s]) << s;

  r = kuctl({"backups"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find(list[0].time), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(path("com1")), std::string::npos) << r.out;

  unit.clearLog();
  r = kuctl({"restore"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(bytes(), " qx" + test::uploadOf(uploadValues(before)) + " qx!");
  if (!keptUp()) GTEST_SKIP() << "the unit fell behind the upload";
  EXPECT_EQ(unit.slotValues(), before);
  // Restoring is an upload too: the set-up it replaced was kept first.
  const std::vector<BackupEntry> after = listBackups(backupsDir());
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(readSetupFile(after[0].path).values[4], 1000);
}

TEST_F(SetupsOnSim, AnEditorsEmptyLastLineInCommsIniStillReadsTheUnit) {
  writeCommsIni("\"COM\",7\n\n");
  unit.setSlotValue(4, 2345);
  const Outcome r = kuctl({"update", "8=1"});
  ASSERT_EQ(r.status, 0) << r.err;
  if (!keptUp()) GTEST_SKIP() << "the unit fell behind the upload";
  auto expected = unit.slotValues();
  EXPECT_EQ(expected[4], 2345);  // the unit's other values survive
  EXPECT_EQ(expected[8], 1);
}

TEST_F(SetupsOnSim, ARecordCutShortLeavesTheUnitIntact) {
  unit.setSlotValue(20, 77);
  const auto before = unit.slotValues();
  sim::Faults f;
  f.shortRecord = 20;
  unit.setFaults(f);
  Outcome r = kuctl({"update", "4=1000"});
  EXPECT_EQ(r.status, 5) << r.err;
  EXPECT_EQ(bytes(), " qx!");
  EXPECT_EQ(unit.slotValues(), before);

  // A file gives every slot a value, but 20 characters are not the unit's
  // record: nothing goes out and no backup is written.
  UnitSetup file;
  for (int s = 0; s < 32; ++s) file.values[s] = static_cast<std::int16_t>(before[s]);
  writeSetupFile(path("x.json"), file);
  unit.clearLog();
  r = kuctl({"apply", dir.filePath("x.json")});
  EXPECT_EQ(r.status, 5) << r.err;
  EXPECT_NE(r.err.find("kuctl: The unit's reply held 20 characters where its record has 38: "
                       "another device or noise on this line? Nothing was sent.\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(bytes(), " qx!");
  EXPECT_EQ(unit.slotValues(), before);

  unit.clearLog();
  r = kuctl({"restore"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("there is no backup to restore in "), std::string::npos) << r.err;
  EXPECT_EQ(bytes(), "");
}

TEST_F(SetupsOnSim, NoBackupNoUploadUnlessAsked) {
  QFile blocker(state.filePath("ku-utility"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));  // a file where the folder belongs
  blocker.close();
  Outcome r = kuctl({"update", "4=1000"});
  EXPECT_EQ(r.status, 8);
  EXPECT_EQ(r.err, "kuctl: The backup of the unit's set-up could not be written to \"" +
                       backupsDir() +
                       "\": Not a directory. Nothing was uploaded (--no-backup uploads without a "
                       "backup).\n");
  EXPECT_EQ(bytes(), " qx!");
  EXPECT_EQ(unit.slotValues()[4], 799);

  unit.clearLog();
  r = kuctl({"--no-backup", "update", "4=1000"});
  EXPECT_EQ(r.status, 0) << r.err;
  if (keptUp()) {
    EXPECT_EQ(unit.slotValues()[4], 1000);
  }
  EXPECT_FALSE(QFileInfo(QString::fromStdString(backupsDir())).exists());
}

// The backup of another unit (another channel, another port) is not restored
// without --force; a second restore does not undo the first; a unit that
// holds the backup already is sent nothing.
TEST_F(SetupsOnSim, RestoreTakesOnlyThisUnitsBackup) {
  unit.setSlotValue(4, 2345);
  const auto before = unit.slotValues();  // channel 1
  ASSERT_EQ(kuctl({"update", "4=1000"}).status, 0);
  const std::string first = listBackups(backupsDir()).at(0).path;
  Outcome r = kuctl({"restore"});
  ASSERT_EQ(r.status, 0) << r.err;
  if (!keptUp()) GTEST_SKIP() << "the unit fell behind the upload";
  EXPECT_EQ(unit.slotValues(), before);
  const std::string said = " (" + path("com1") + ", channel 1, written before update): " + first;
  EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
  // The restore's own backup is passed over: the same one again, already held.
  unit.clearLog();
  r = kuctl({"restore"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find(said + "\nkuctl: the unit already holds this set-up (slots 1 to 29); "
                              "nothing was sent\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(bytes(), " qx!");

  unit.setSlotValue(0, 2);  // channel 3
  unit.setSlotValue(8, 17);
  unit.clearLog();
  r = kuctl({"restore"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("(" + path("com1") +
                       ", channel 1): restore it with --force; nothing was "
                       "sent\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(bytes(), " qx!");
  r = kuctl({"restore", "--force"});
  EXPECT_EQ(r.status, 0) << r.err;
  if (keptUp()) {
    EXPECT_EQ(unit.slotValues()[8], before[8]);
  }

  // Another port (com7 reaches the same unit under another name): refused.
  writeCommsIni("Port,7\n");
  r = kuctl({"restore", QString::fromStdString(first)});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("this unit is on " + path("com7")), std::string::npos) << r.err;
}

// On a full disk save refuses with the reason and the file saved before stays
// whole (a 16 KiB tmpfs; mounting it needs root).
TEST_F(SetupsOnSim, SaveOnAFullDiskLeavesTheFileWhole) {
  const std::string small = path("small");
  ASSERT_EQ(::mkdir(small.c_str(), 0700), 0);
  if (::geteuid() != 0 || ::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=16k") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  const QString saved = QString::fromStdString(small + "/tuned.json");
  EXPECT_EQ(kuctl({"save", saved}).status, 0);
  QFile fill(QString::fromStdString(small + "/fill"));
  if (fill.open(QIODevice::WriteOnly)) {
    while (fill.write(QByteArray(1024, 'x')) == 1024 && fill.flush()) {
    }
    fill.close();
  }
  unit.setSlotValue(8, 17);
  const Outcome r = kuctl({"save", saved});
  std::string kept = "unreadable";
  try {
    kept = std::to_string(readSetupFile(saved.toStdString()).values[8].value_or(-1));
  } catch (const SetupFileError&) {
  }
  ::umount(small.c_str());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("No space left on device; the file was left as it was."), std::string::npos)
      << r.err;
  EXPECT_EQ(kept, "205");  // as saved before the disk was full
}

TEST_F(SetupsOnSim, AFileThatCannotBeUsedSendsNoByte) {
  QFile f(dir.filePath("bad.json"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("{\"format\": \"ku-setup\", \"version\": 1, \"slots\": [{\"slot\": 3, \"value\": 2.5}]}");
  f.close();
  for (const char* command : {"apply", "diff", "restore"}) {
    SCOPED_TRACE(command);
    const Outcome r = kuctl({command, dir.filePath("bad.json")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "kuctl: Cannot use the set-up file \"" + path("bad.json") +
                         "\": slot 3 (RFCONT Byte) holds 2.5, not a whole number. Nothing was "
                         "sent.\n");
  }
  const Outcome r = kuctl({"apply", dir.path()});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("it is a folder"), std::string::npos) << r.err;
  EXPECT_EQ(bytes(), "");
}

}  // namespace
}  // namespace ku
