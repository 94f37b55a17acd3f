// Automatic backups: names, never replacing a file, listing newest first.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <string>

#include "app/backups.h"

namespace ku {
namespace {

UnitSetup setupFrom(const std::string& device, std::int16_t slot4) {
  UnitSetup s;
  s.saved = "2026-03-01T09:15:02.481Z";
  s.program = "kuutil 1.2";
  s.device = device;
  for (int i = 0; i < 32; ++i) s.values[i] = static_cast<std::int16_t>(i == 4 ? slot4 : 1);
  return s;
}

QDateTime at(const char* iso) {
  QDateTime t = QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs);
  return t.toUTC();
}

std::string contentOf(const std::string& path) {
  QFile f(QString::fromStdString(path));
  if (!f.open(QIODevice::ReadOnly)) return "<unreadable>";
  return f.readAll().toStdString();
}

// Under CTest every test gets its whole environment: its own entries, the
// offscreen platform and a state folder inside the build, so that backups
// written by programs under test never reach the home folder of whoever runs
// them. Run by hand, the test has nothing to check.
TEST(TestEnvironment, CtestSetsEveryEntry) {
  if (!std::getenv("KU_TEST_RUNNER")) GTEST_SKIP() << "not run by CTest";
  EXPECT_STREQ(std::getenv("KU_TEST_RUNNER"), "ctest");
  EXPECT_STREQ(std::getenv("KU_TEST_SECOND_ENTRY"), "second entry");
  EXPECT_STREQ(std::getenv("QT_QPA_PLATFORM"), "offscreen");
  const char* state = std::getenv("XDG_STATE_HOME");
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(QDir::cleanPath(QString::fromLocal8Bit(state)),
            QDir::cleanPath(QStringLiteral(KU_BIN_DIR "/../test-state")));
}

TEST(BackupName, UtcTimeToTheMillisecond) {
  EXPECT_EQ(backupFileName(at("2026-03-01T09:15:02.481Z")), "2026-03-01T09-15-02.481Z.json");
  EXPECT_EQ(backupFileName(at("2026-03-01T10:15:02.007+01:00")), "2026-03-01T09-15-02.007Z.json");
  EXPECT_EQ(backupFileName(at("2026-03-01T09:15:02.481Z"), 2), "2026-03-01T09-15-02.481Z-2.json");
  EXPECT_EQ(backupTimeText(at("2026-12-31T23:59:59.999Z")), "2026-12-31 23:59:59.999 UTC");
}

class Backups : public ::testing::Test {
 protected:
  std::string folder() const { return dir.filePath("state/ku-utility/backups").toStdString(); }
  QTemporaryDir dir;
};

TEST_F(Backups, MakesTheFolderAndWritesTheSetUpFile) {
  const std::string p =
      writeBackup(folder(), setupFrom("/dev/ttyS0", 799), at("2026-03-01T09:15:02.481Z"));
  EXPECT_EQ(p, folder() + "/2026-03-01T09-15-02.481Z.json");
  EXPECT_EQ(contentOf(p), setupToJson(setupFrom("/dev/ttyS0", 799)).toStdString());
  // Nothing else is left in the folder: the temporary file became the backup.
  EXPECT_EQ(QDir(QString::fromStdString(folder()))
                .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot)
                .size(),
            1);
}

TEST_F(Backups, NeverReplacesAFileOfTheSameName) {
  const QDateTime t = at("2026-03-01T09:15:02.481Z");
  const std::string first = writeBackup(folder(), setupFrom("/dev/a", 1), t);
  const std::string second = writeBackup(folder(), setupFrom("/dev/b", 2), t);
  const std::string third = writeBackup(folder(), setupFrom("/dev/c", 3), t);
  EXPECT_EQ(first, folder() + "/2026-03-01T09-15-02.481Z.json");
  EXPECT_EQ(second, folder() + "/2026-03-01T09-15-02.481Z-1.json");
  EXPECT_EQ(third, folder() + "/2026-03-01T09-15-02.481Z-2.json");
  EXPECT_EQ(readSetupFile(first).device, "/dev/a");
  EXPECT_EQ(readSetupFile(second).device, "/dev/b");

  // Newest first; within one millisecond the later attempt is the newer one.
  writeBackup(folder(), setupFrom("/dev/old", 4), at("2025-12-31T23:59:59.999Z"));
  writeBackup(folder(), setupFrom("/dev/new", 5), at("2026-03-01T09:15:02.482Z"));
  QFile stray(QString::fromStdString(folder() + "/notes.txt"));
  ASSERT_TRUE(stray.open(QIODevice::WriteOnly));
  stray.close();
  const std::vector<BackupEntry> list = listBackups(folder());
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(list[0].unit.device, "/dev/new");
  EXPECT_EQ(list[1].unit.device, "/dev/c");
  EXPECT_EQ(list[2].unit.device, "/dev/b");
  EXPECT_EQ(list[3].unit.device, "/dev/a");
  EXPECT_EQ(list[4].unit.device, "/dev/old");
  EXPECT_EQ(list[0].time, "2026-03-01 09:15:02.482 UTC");
  EXPECT_EQ(list[4].time, "2025-12-31 23:59:59.999 UTC");
  for (const BackupEntry& e : list) EXPECT_EQ(e.problem, "") << e.path;
}

TEST_F(Backups, ADamagedBackupIsListedWithItsProblem) {
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder())));
  const std::string p = folder() + "/2026-03-01T09-15-02.481Z.json";
  QFile f(QString::fromStdString(p));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("{\"format\": \"ku-setup\", \"vers");
  f.close();
  const std::vector<BackupEntry> list = listBackups(folder());
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].unit.device, "");
  EXPECT_EQ(list[0].problem.rfind("Cannot use the set-up file \"" + p + "\": it is not JSON", 0),
            0u)
      << list[0].problem;
}

TEST_F(Backups, NoFolderMeansNoBackups) {
  EXPECT_TRUE(listBackups(folder()).empty());
}

// A backup's own record of its time orders the list, not its name (the time of
// an older file without one is in its name); one dated after the moment of
// listing is marked.
TEST_F(Backups, OrderedByTheTimeEachRecordsAndAFutureOneIsMarked) {
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder())));
  for (const auto& [name, saved] :
       {std::pair{"2099-01-01T00-00-00.000Z", "2026-01-01T10:00:00.000Z"},
        {"2026-02-01T10-00-00.000Z", "2026-02-01T10:00:00.000Z"},
        {"2026-01-15T10-00-00.000Z", "2031-05-05T05:05:05.005Z"},
        {"2026-01-20T10-00-00.000Z", ""}}) {
    UnitSetup s = setupFrom(name, 1);
    s.saved = saved;
    QFile f(QString::fromStdString(folder() + "/" + name + ".json"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(setupToJson(s));
  }
  const std::vector<BackupEntry> list = listBackups(folder(), at("2026-03-01T00:00:00.000Z"));
  ASSERT_EQ(list.size(), 4u);
  const std::pair<std::string, bool> expected[] = {{"2031-05-05 05:05:05.005 UTC", true},
                                                   {"2026-02-01 10:00:00.000 UTC", false},
                                                   {"2026-01-20 10:00:00.000 UTC", false},
                                                   {"2026-01-01 10:00:00.000 UTC", false}};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(list[i].time, expected[i].first);
    EXPECT_EQ(list[i].inFuture, expected[i].second);
  }
  // A restore takes the newest with a believable time.
  EXPECT_EQ(newestBackupToRestore(list, {}, true), &list[1]);
}

TEST_F(Backups, AFolderThatCannotBeWrittenGivesTheReason) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder())));
  ASSERT_EQ(::chmod(folder().c_str(), 0500), 0);
  try {
    writeBackup(folder(), setupFrom("/dev/a", 1), at("2026-03-01T09:15:02.481Z"));
    ADD_FAILURE() << "written";
  } catch (const BackupError& e) {
    EXPECT_EQ(std::string(e.what()), "The backup of the unit's set-up could not be written to \"" +
                                         folder() + "\": Permission denied.");
  }
  ::chmod(folder().c_str(), 0700);
  EXPECT_TRUE(listBackups(folder()).empty());
}

TEST_F(Backups, AFileWhereTheFolderBelongsGivesTheReason) {
  const std::string blocked = dir.filePath("file").toStdString();
  QFile f(QString::fromStdString(blocked));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  try {
    writeBackup(blocked + "/backups", setupFrom("/dev/a", 1));
    ADD_FAILURE() << "written";
  } catch (const BackupError& e) {
    EXPECT_EQ(std::string(e.what()), "The backup of the unit's set-up could not be written to \"" +
                                         blocked + "/backups\": Not a directory.");
  }
}

}  // namespace
}  // namespace ku
