// The serial ports' stable names and the user's choice of port 1, in scratch
// folders standing in for /dev and the user's settings folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <climits>

#include "app/folders.h"
#include "app/serial_ports.h"
#include "link/comms_ini.h"

namespace ku {
namespace {

std::string linkTarget(const std::string& link) {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
  return n < 0 ? std::string() : std::string(buf, static_cast<std::size_t>(n));
}

class SerialPortsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.isValid());
    base = root.path().toStdString();
    ASSERT_TRUE(QDir().mkpath(root.filePath("dev/serial/by-id")));
    for (const char* name : {"dev/ttyUSB0", "dev/ttyUSB1", "dev/ttyS0"}) {
      QFile f(root.filePath(name));
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
  }
  void link(const std::string& target, const std::string& path) {
    ASSERT_EQ(::symlink(target.c_str(), (base + "/" + path).c_str()), 0) << path;
  }

  QTemporaryDir root;
  std::string base;
};

TEST_F(SerialPortsTest, StableNameIsTheByIdLinkThatLeadsToTheDevice) {
  const std::string byId = base + "/dev/serial/by-id";
  // As udev makes them: relative links, one per adapter.
  link("../../ttyUSB1", "dev/serial/by-id/usb-Maker_Adapter_B-if00-port0");
  link("../../ttyUSB0", "dev/serial/by-id/usb-Maker_Adapter_A-if00-port0");
  link("../../gone", "dev/serial/by-id/usb-Dangling-if00-port0");
  QFile plain(QString::fromStdString(byId + "/not-a-link"));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));

  EXPECT_EQ(stablePathFor(base + "/dev/ttyUSB0", byId), byId + "/usb-Maker_Adapter_A-if00-port0");
  EXPECT_EQ(stablePathFor(base + "/dev/ttyUSB1", byId), byId + "/usb-Maker_Adapter_B-if00-port0");
  EXPECT_EQ(stablePathFor(base + "/dev/ttyS0", byId), "");  // on-board: no stable name
  EXPECT_EQ(stablePathFor(base + "/dev/missing", byId), "");
  EXPECT_EQ(stablePathFor(base + "/dev/ttyUSB0", base + "/no/such/folder"), "");

  SerialPortEntry e;
  e.device = "/dev/ttyUSB0";
  EXPECT_EQ(e.preferredPath(), "/dev/ttyUSB0");
  e.stablePath = "/dev/serial/by-id/usb-x";
  EXPECT_EQ(e.preferredPath(), "/dev/serial/by-id/usb-x");
}

TEST_F(SerialPortsTest, ChoosingAPortWritesCommsIniAndTheCom1LinkTheLoadThenUses) {
  const std::string config = base + "/config";
  const std::string folder = config + "/ku-utility";  // not there yet
  const std::string first = base + "/dev/serial/by-id/usb-A";
  link("../../ttyUSB0", "dev/serial/by-id/usb-A");

  ASSERT_EQ(writePortSettings(folder, first), "");
  QFile ini(QString::fromStdString(folder + "/comms.ini"));
  ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
  EXPECT_EQ(ini.readAll(), QByteArray("Port,1\n"));
  EXPECT_EQ(linkTarget(folder + "/com1"), first);

  // The window and kuctl then open port 1 through that link.
  FolderEnvironment env;
  env.programDir = base + "/bin";
  env.variable = [&](const std::string& name) {
    return name == "XDG_CONFIG_HOME" ? config : name == "HOME" ? base : std::string();
  };
  const Folders f = resolveFolders(env);
  ASSERT_EQ(f.settingsFile.path, folder + "/comms.ini");
  PortNumberValue number, firstItem;
  readCommsIni(f.settingsFile.path, number, firstItem);
  ASSERT_EQ(portNumberToInt16(number), 1);
  const ChosenPath device = portDevice(f.linkFolderFor(1), 1);
  EXPECT_EQ(device.path, folder + "/com1");
  EXPECT_TRUE(device.exists);

  // Another choice replaces both and leaves no scratch file behind.
  ASSERT_EQ(writePortSettings(folder, base + "/dev/ttyUSB1"), "");
  EXPECT_EQ(linkTarget(folder + "/com1"), base + "/dev/ttyUSB1");
  EXPECT_EQ(QDir(QString::fromStdString(folder))
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList({"com1", "comms.ini"}));
}

TEST_F(SerialPortsTest, AFileNamedCom1IsNeverReplaced) {
  const std::string folder = base + "/settings";
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
  QFile mine(QString::fromStdString(folder + "/com1"));
  ASSERT_TRUE(mine.open(QIODevice::WriteOnly));
  mine.write("the user's own file");
  mine.close();

  EXPECT_EQ(writePortSettings(folder, "/dev/ttyUSB0"),
            folder + "/com1 is not a symbolic link; it was left as it is");
  ASSERT_TRUE(mine.open(QIODevice::ReadOnly));
  EXPECT_EQ(mine.readAll(), QByteArray("the user's own file"));
  EXPECT_FALSE(QFile::exists(QString::fromStdString(folder + "/comms.ini")));

  EXPECT_EQ(writePortSettings(folder, ""), "no device was chosen");
  // A folder that cannot be made: a file stands in its way.
  EXPECT_EQ(writePortSettings(folder + "/com1/below", "/dev/ttyUSB0"),
            "cannot make the folder " + folder + "/com1/below");
}

}  // namespace
}  // namespace ku
