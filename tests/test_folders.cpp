// Where comms.ini, the comN links, TKUUtil.mdb and the backups folder are looked
// for, in scratch folders with the environment the test gives.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <map>

#include "app/folders.h"
#include "app/unit_controller.h"

namespace ku {
namespace {

class FoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.isValid());
    base = root.path().toStdString();
    // A package unpacked anywhere: <base>/usr/bin holds the program.
    programDir = base + "/usr/bin";
    home = base + "/home";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(programDir)));
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(home)));
    vars["HOME"] = home;
  }

  // An empty file at path, with the folders above it.
  void touch(const std::string& path) {
    const QString p = QString::fromStdString(path);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(p).path()));
    QFile f(p);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  void link(const std::string& target, const std::string& path) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(QString::fromStdString(path)).path()));
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0) << path;
  }

  Folders resolve() {
    FolderEnvironment env;
    env.programDir = programDir;
    env.variable = [this](const std::string& name) {
      const auto it = vars.find(name);
      return it == vars.end() ? std::string() : it->second;
    };
    return resolveFolders(env);
  }

  QTemporaryDir root;
  std::string base, programDir, home;
  std::map<std::string, std::string> vars;
};

TEST_F(FoldersTest, CommsIniBesideTheProgramWinsOverTheUsersFolder) {
  touch(programDir + "/comms.ini");
  touch(home + "/.config/ku-utility/comms.ini");
  vars["XDG_CONFIG_HOME"] = base + "/config";
  touch(base + "/config/ku-utility/comms.ini");

  const Folders f = resolve();
  EXPECT_EQ(f.settingsFile.path, programDir + "/comms.ini");
  EXPECT_EQ(f.settingsFile.reason, "beside the program");
  EXPECT_TRUE(f.settingsFile.exists);
  EXPECT_EQ(f.userSettingsDir, base + "/config/ku-utility");
  // comN links are looked for where comms.ini was found, whatever the number.
  link("/dev/null", base + "/config/ku-utility/com4");
  EXPECT_EQ(f.linkFolderFor(4), programDir);
}

TEST_F(FoldersTest, CommsIniInTheUsersSettingsFolder) {
  struct Case {
    const char* name;
    const char* xdgConfigHome;  // nullptr: not set
    std::string folder;         // where comms.ini is expected
    std::string why;
  };
  const Case cases[] = {
      {"XDG_CONFIG_HOME set", "/config", base + "/config/ku-utility",
       "not beside the program; in the user's settings folder $XDG_CONFIG_HOME/ku-utility"},
      {"not set", nullptr, home + "/.config/ku-utility",
       "not beside the program; in the user's settings folder ~/.config/ku-utility "
       "($XDG_CONFIG_HOME is not set)"},
      {"relative: ignored", "config", home + "/.config/ku-utility",
       "not beside the program; in the user's settings folder ~/.config/ku-utility "
       "($XDG_CONFIG_HOME is not an absolute path)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vars.erase("XDG_CONFIG_HOME");
    if (c.xdgConfigHome != nullptr) {
      vars["XDG_CONFIG_HOME"] =
          c.xdgConfigHome[0] == '/' ? base + c.xdgConfigHome : c.xdgConfigHome;
    }
    touch(c.folder + "/comms.ini");
    const Folders f = resolve();
    EXPECT_EQ(f.settingsFile.path, c.folder + "/comms.ini");
    EXPECT_EQ(f.settingsFile.reason, c.why);
    EXPECT_TRUE(f.settingsFile.exists);
    EXPECT_EQ(f.linkFolderFor(1), c.folder);
    ASSERT_TRUE(QFile::remove(QString::fromStdString(c.folder + "/comms.ini")));
  }
}

TEST_F(FoldersTest, NoCommsIniAnywhere) {
  const Folders f = resolve();
  EXPECT_FALSE(f.settingsFile.exists);
  EXPECT_EQ(f.settingsFile.path, home + "/.config/ku-utility/comms.ini");
  EXPECT_EQ(f.settingsFile.reason,
            "missing: neither beside the program nor in the user's settings folder "
            "~/.config/ku-utility ($XDG_CONFIG_HOME is not set)");

  // A port number from the command line: comN beside the program, else in the
  // user's settings folder, else the program's folder (and /dev/ttyS<N-1>).
  link("/dev/null", home + "/.config/ku-utility/com2");
  link("/nowhere", programDir + "/com3");  // there, though dangling: it decides
  link("/dev/null", home + "/.config/ku-utility/com3");
  EXPECT_EQ(f.linkFolderFor(1), programDir);
  EXPECT_EQ(f.linkFolderFor(2), home + "/.config/ku-utility");
  EXPECT_EQ(f.linkFolderFor(3), programDir);

  // The window's context: the user's path (the load then finds no file, as
  // before) and the program's folder for links.
  AppContext m;
  initAppContext(m, programDir);
  useFolders(m, f);
  EXPECT_EQ(m.settingsFile, home + "/.config/ku-utility/comms.ini");
  EXPECT_EQ(m.linkFolder, programDir);
  EXPECT_EQ(m.referenceDatabase, programDir + "/TKUUtil.mdb");
}

TEST_F(FoldersTest, ReferenceDatabaseBesideThenShareThenDataDirs) {
  vars["XDG_DATA_DIRS"] = "relative/share:" + base + "/d1:" + base + "/d2";
  touch(base + "/d2/ku-utility/TKUUtil.mdb");
  touch(base + "/relative/share/ku-utility/TKUUtil.mdb");  // never looked at
  Folders f = resolve();
  EXPECT_EQ(f.referenceDatabase.path, base + "/d2/ku-utility/TKUUtil.mdb");
  EXPECT_EQ(
      f.referenceDatabase.reason,
      "not beside the program nor in ../share/ku-utility; in $XDG_DATA_DIRS (" + base + "/d2)");

  touch(base + "/d1/ku-utility/TKUUtil.mdb");
  EXPECT_EQ(resolve().referenceDatabase.path, base + "/d1/ku-utility/TKUUtil.mdb");

  touch(base + "/usr/share/ku-utility/TKUUtil.mdb");
  f = resolve();
  EXPECT_EQ(f.referenceDatabase.path, base + "/usr/share/ku-utility/TKUUtil.mdb");
  EXPECT_EQ(f.referenceDatabase.reason,
            "not beside the program; in the share folder next to its folder");

  touch(programDir + "/TKUUtil.mdb");
  f = resolve();
  EXPECT_EQ(f.referenceDatabase.path, programDir + "/TKUUtil.mdb");
  EXPECT_EQ(f.referenceDatabase.reason, "beside the program");
  EXPECT_TRUE(f.referenceDatabase.exists);
}

TEST_F(FoldersTest, MissingReferenceDatabaseStaysBesideTheProgram) {
  vars["XDG_DATA_DIRS"] = base + "/d1";
  const Folders f = resolve();
  EXPECT_FALSE(f.referenceDatabase.exists);
  EXPECT_EQ(f.referenceDatabase.path, programDir + "/TKUUtil.mdb");
  EXPECT_EQ(f.referenceDatabase.reason, "missing: looked beside the program, in " + base +
                                            "/usr/share/ku-utility/TKUUtil.mdb and in " + base +
                                            "/d1/ku-utility/TKUUtil.mdb");

  vars.erase("XDG_DATA_DIRS");  // the default folders
  const std::string reason = resolve().referenceDatabase.reason;
  if (QFile::exists("/usr/local/share/ku-utility/TKUUtil.mdb") ||
      QFile::exists("/usr/share/ku-utility/TKUUtil.mdb")) {
    GTEST_SKIP() << "the package is installed here: " << reason;
  }
  EXPECT_NE(reason.find("/usr/local/share/ku-utility/TKUUtil.mdb, "
                        "/usr/share/ku-utility/TKUUtil.mdb"),
            std::string::npos)
      << reason;
}

TEST_F(FoldersTest, BackupsFolderUnderTheStateHome) {
  Folders f = resolve();
  EXPECT_EQ(f.backupsDir.path, home + "/.local/state/ku-utility/backups");
  EXPECT_EQ(f.backupsDir.reason,
            "~/.local/state/ku-utility/backups ($XDG_STATE_HOME is not set); made at the first "
            "backup");
  EXPECT_FALSE(f.backupsDir.exists);
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(f.backupsDir.path)));  // nothing made

  vars["XDG_STATE_HOME"] = base + "/state";
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(base + "/state/ku-utility/backups")));
  f = resolve();
  EXPECT_EQ(f.backupsDir.path, base + "/state/ku-utility/backups");
  EXPECT_EQ(f.backupsDir.reason, "$XDG_STATE_HOME/ku-utility/backups");
  EXPECT_TRUE(f.backupsDir.exists);
}

TEST_F(FoldersTest, PortDeviceIsTheLinkElseTheNumberedSerialDevice) {
  touch(base + "/dev/unit");
  link(base + "/dev/unit", programDir + "/com1");
  link(base + "/dev/gone", programDir + "/com2");

  ChosenPath d = portDevice(programDir, 1);
  EXPECT_EQ(d.path, programDir + "/com1");
  EXPECT_EQ(d.reason, "com1 in " + programDir + ", a link to " + base + "/dev/unit");
  EXPECT_TRUE(d.exists);

  d = portDevice(programDir, 2);
  EXPECT_EQ(d.path, programDir + "/com2");
  EXPECT_EQ(d.reason, "com2 in " + programDir + ", a link to " + base + "/dev/gone (missing)");
  EXPECT_FALSE(d.exists);

  d = portDevice(programDir, 9);
  EXPECT_EQ(d.path, "/dev/ttyS8");
  EXPECT_EQ(d.reason.rfind("no com9 in " + programDir + ": port 9 is /dev/ttyS8", 0), 0u)
      << d.reason;
}

TEST(FolderEnvironment, ReadsThisProcesssVariables) {
  ::setenv("XDG_CONFIG_HOME", "/scratch/config", 1);
  ::setenv("HOME", "/scratch/home", 1);
  ::unsetenv("XDG_STATE_HOME");
  const Folders f = resolveFolders(FolderEnvironment::ofProcess("/scratch/bin"));
  EXPECT_EQ(f.userSettingsDir, "/scratch/config/ku-utility");
  EXPECT_EQ(f.backupsDir.path, "/scratch/home/.local/state/ku-utility/backups");

  // With no HOME the password database names the home folder.
  ::unsetenv("HOME");
  const std::string fallback = FolderEnvironment::ofProcess("/scratch/bin").variable("HOME");
  EXPECT_FALSE(fallback.empty());
  EXPECT_EQ(fallback.front(), '/');
}

}  // namespace
}  // namespace ku
