// The connection check: its verdict on the unit's answers, and every verdict
// against the simulated unit or a device node as the check meets it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <fstream>
#include <functional>

#include "app/connection_check.h"
#include "link/qt_serial_port.h"
#include "qt_app.h"
#include "simulator.h"

namespace ku {
namespace {

const auto* const kQtApp = ::testing::AddGlobalTestEnvironment(new test::QtAppEnvironment);

struct Judged {
  const char* name;
  UnitAnswers answers;
  CheckVerdict verdict;
};

void PrintTo(const Judged& j, std::ostream* os) {
  *os << j.name;
}

// Literal answers, among them mixtures that no mode of the simulated unit gives.
class JudgeAnswers : public ::testing::TestWithParam<Judged> {};

TEST_P(JudgeAnswers, GivesTheVerdictOfTheFirstSignature) {
  EXPECT_STREQ(verdictWord(judgeAnswers(GetParam().answers)), verdictWord(GetParam().verdict));
}

const std::string kRecord(38, '\x01');
const std::string kNmea = "$GPGGA,123519,4807.038,N*47\r\n";

INSTANTIATE_TEST_SUITE_P(
    Answers, JudgeAnswers,
    ::testing::Values(Judged{"nothing", {}, CheckVerdict::Silent},
                      // An echo with the unit behind it is still wired back on itself.
                      Judged{"echoAndUnit", {"", " ", "q", "x" + kRecord}, CheckVerdict::Echo},
                      Judged{"halfEcho", {"", " ", "", "x"}, CheckVerdict::Noise},
                      Judged{"nmeaBefore", {kNmea, "", "", kRecord}, CheckVerdict::Nmea},
                      Judged{"nmeaToX", {"", "", "", kNmea}, CheckVerdict::Nmea},
                      Judged{"answerToQ", {"", "", "\x81\x02", ""}, CheckVerdict::Noise},
                      Judged{"noiseAndRecord", {"", "\x81", "", kRecord}, CheckVerdict::Ok},
                      Judged{
                          "short", {"", "", "", kRecord.substr(0, 12)}, CheckVerdict::ShortRecord},
                      Judged{"long", {"", "", "", kRecord + "\x7F"}, CheckVerdict::LongReply}),
    [](const auto& info) { return std::string(info.param.name); });

// The check against the simulated unit, as kuctl runs it.
class CheckOnSim : public ::testing::Test {
 protected:
  void SetUp() override { unit.start(); }
  void TearDown() override { unit.stop(); }

  ConnectionCheckResult check(PortSource source) {
    ConnectionCheckEnv env;
    env.sleeper = &sleeper;
    env.makePort = [] { return std::make_unique<QtSerialPort>(std::string()); };
    env.sysRoot = sysRoot;
    env.installed = [this](const std::string& p) { return p == installed; };
    env.trace = &trace;
    return runConnectionCheck(source, env);
  }
  ConnectionCheckResult checkDevice(const std::string& device) {
    PortSource source;
    source.device = device;
    return check(source);
  }

  sim::Simulator unit;
  RealSleeper sleeper;
  std::string sysRoot = "/sys";
  std::string installed;  // the one program the check finds installed
  WireTrace trace;
};

struct SimMode {
  const char* name;
  sim::Faults faults;
  CheckVerdict verdict;
  const char* found;  // in the unit step's line
};

sim::Faults faults(const std::function<void(sim::Faults&)>& set) {
  sim::Faults f;
  set(f);
  return f;
}

void PrintTo(const SimMode& m, std::ostream* os) {
  *os << m.name;
}

class CheckOnSimModes : public CheckOnSim, public ::testing::WithParamInterface<SimMode> {};

TEST_P(CheckOnSimModes, NamesTheCauseInTheUnitsLine) {
  unit.setFaults(GetParam().faults);
  const ConnectionCheckResult r = checkDevice(unit.devicePath());
  EXPECT_STREQ(verdictWord(r.verdict), verdictWord(GetParam().verdict)) << r.text();
  ASSERT_EQ(r.lines.size(), 7u) << r.text();
  const char* steps[] = {"settings", "device", "access", "holders", "adapter", "line", "unit"};
  for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(r.lines[i].check, steps[i]);
  EXPECT_EQ(r.lines[5].found.rfind("4800 baud, 8 data bits, no parity, 1 stop bit", 0), 0u)
      << r.lines[5].found;
  EXPECT_NE(r.lines[6].found.find(GetParam().found), std::string::npos) << r.lines[6].found;
  EXPECT_EQ(r.lines[6].passed, GetParam().verdict == CheckVerdict::Ok);
  // Nothing but the three requests and the close byte reached the unit.
  unit.waitForLogSize(4, 5000);
  std::string heard;
  for (const sim::LoggedByte& b : unit.log()) heard += static_cast<char>(b.byte);
  EXPECT_EQ(heard, " qx!");
  // The trace holds the same bytes, and what came back.
  std::string written, read;
  for (const std::string& line : trace.lines()) {
    TraceLine t;
    if (!parseTraceLine(line, t)) continue;
    if (t.event == "write") written += t.bytes;
    if (t.event == "read") read += t.bytes;
  }
  EXPECT_EQ(written, " qx!");
  EXPECT_EQ(read.empty(), GetParam().verdict == CheckVerdict::Silent);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, CheckOnSimModes,
    ::testing::Values(
        SimMode{"ok",
                {},
                CheckVerdict::Ok,
                "\"x\" 38; first bytes 00 00 00 02 03 1F 02 66 0A 0E CD 12 13 0E 3F 18 ...: the "
                "unit's 38-character record, channel 1, Test Frequency 799 (50 kHz)"},
        SimMode{"silent", faults([](sim::Faults& f) { f.silent = true; }), CheckVerdict::Silent,
                "\" \" brought 0 characters, \"q\" 0, \"x\" 0: nothing came back"},
        SimMode{"echo", faults([](sim::Faults& f) { f.echo = true; }), CheckVerdict::Echo,
                "first bytes 20 71 78: every byte came straight back"},
        SimMode{"nmea", faults([](sim::Faults& f) {
                  f.nmeaTalker = true;
                  f.silent = true;
                }),
                CheckVerdict::Nmea, "NMEA 0183 sentences (\"$"},
        SimMode{"otherBaud", faults([](sim::Faults& f) { f.otherBaud = 9600; }),
                CheckVerdict::Noise, "\" \" brought 18 characters, \"q\" 18, \"x\" 18"},
        SimMode{"noise", faults([](sim::Faults& f) { f.noiseFrom = 0; }), CheckVerdict::Noise,
                "the unit never sends"},
        SimMode{"short", faults([](sim::Faults& f) { f.shortRecord = 12; }),
                CheckVerdict::ShortRecord, "only 12 of the record's 38 characters"},
        SimMode{"long", faults([](sim::Faults& f) { f.floodBytes = 412; }), CheckVerdict::LongReply,
                "412 characters in answer to \"x\""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CheckOnSim, NoSettingsAndNoDeviceStopBeforeThePort) {
  QTemporaryDir dir;
  PortSource source;
  source.settingsFile = dir.filePath("comms.ini").toStdString();
  source.settingsLookedIn = "in " + dir.path().toStdString();
  source.linkFolderFor = [&](int) { return dir.path().toStdString(); };
  ConnectionCheckResult r = check(source);
  EXPECT_EQ(r.verdict, CheckVerdict::NoSettings);
  EXPECT_EQ(r.lines.size(), 1u);

  std::ofstream(source.settingsFile) << "\"Port\",0\r\n";
  source.settingsFileExists = true;
  r = check(source);
  EXPECT_EQ(r.verdict, CheckVerdict::NoSettings) << r.text();
  EXPECT_NE(r.lines[0].found.find("names port 0"), std::string::npos);

  // Port 1 through a com1 link to a device that is gone.
  std::ofstream(source.settingsFile) << "\"Port\",1\r\n";
  const std::string link = dir.filePath("com1").toStdString();
  ASSERT_EQ(::symlink("/dev/ku-no-such-device", link.c_str()), 0);
  r = check(source);
  EXPECT_EQ(r.verdict, CheckVerdict::NoDevice) << r.text();
  EXPECT_EQ(r.lines[1].found, link + ", a link to /dev/ku-no-such-device, does not exist");

  r = checkDevice(dir.path().toStdString());  // a folder
  EXPECT_EQ(r.verdict, CheckVerdict::NoDevice);
  EXPECT_EQ(unit.log().size(), 0u);
}

TEST_F(CheckOnSim, BusyNamesAProcessHoldingThePortAndSeesThePortLock) {
  QProcess holder;
  holder.start(
      QStringLiteral("/bin/sh"),
      {QStringLiteral("-c"),
       QStringLiteral("exec sleep 30 <>%1").arg(QString::fromStdString(unit.devicePath()))});
  ASSERT_TRUE(holder.waitForStarted());
  const std::string pid = std::to_string(holder.processId());
  // Until sh has become sleep with the device open.
  ConnectionCheckResult r;
  for (int i = 0; i < 100 && r.verdict != CheckVerdict::Busy; ++i) {
    QThread::msleep(20);
    r = checkDevice(unit.devicePath());
  }
  EXPECT_EQ(r.verdict, CheckVerdict::Busy) << r.text();
  EXPECT_NE(r.text().find("is open in sleep (pid " + pid + ")"), std::string::npos) << r.text();
  EXPECT_NE(r.text().find("kill " + pid), std::string::npos);
  holder.kill();
  holder.waitForFinished();

  // The lock of another KU utility or kuctl (here a port of this process).
  QtSerialPort other{std::string()};
  other.openDevice(unit.devicePath(), kUnitLine);
  r = checkDevice(unit.devicePath());
  EXPECT_EQ(r.verdict, CheckVerdict::Busy) << r.text();
  EXPECT_NE(r.lines.back().found.find("is locked by another program"), std::string::npos);
  other.close();
  EXPECT_EQ(unit.log().size(), 0u);  // nothing went to a port that another program holds
}

// kuctl doctor run as nobody (uid 65534, no groups) on the unit's device with
// the given mode bits: its exit status and JSON.
class CheckAsAnotherUser : public CheckOnSim {
 protected:
  void SetUp() override {
    setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (::geteuid() != 0 || setpriv.isEmpty())
      GTEST_SKIP() << "needs root and setpriv to run the check as another user";
    CheckOnSim::SetUp();
  }
  QJsonObject doctorAsNobody(mode_t mode, int& status) {
    const std::string device = unit.devicePath();
    EXPECT_EQ(::chmod(device.c_str(), mode), 0);
    QProcess p;
    p.setWorkingDirectory(QStringLiteral("/"));
    p.start(setpriv, {"--reuid=65534", "--regid=65534", "--clear-groups", KU_BIN_DIR "/kuctl",
                      "--json", "--device", QString::fromStdString(device), "doctor"});
    EXPECT_TRUE(p.waitForFinished(30000));
    status = p.exitCode();
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
  }
  QString setpriv;
};

TEST_F(CheckAsAnotherUser, NoPermissionForAUserOutsideTheDevicesGroup) {
  int status = -1;
  const QJsonObject doc = doctorAsNobody(0660, status);
  EXPECT_EQ(status, 12);
  EXPECT_EQ(doc["verdict"].toString(), QStringLiteral("no-permission"));
  const QJsonArray checks = doc["checks"].toArray();
  ASSERT_EQ(checks.size(), 3);
  const QJsonObject access = checks[2].toObject();
  EXPECT_EQ(access["check"].toString(), QStringLiteral("access"));
  EXPECT_FALSE(access["passed"].toBool());
  EXPECT_TRUE(access["found"].toString().contains(QStringLiteral("crw-rw----")));
  EXPECT_TRUE(
      access["advice"].toString().startsWith(QStringLiteral("Join the group: sudo usermod -aG ")));
  EXPECT_EQ(unit.log().size(), 0u);
}

// A user who may open the port is not root: the port refuses a second open
// while it is open, so the line settings come from the open port itself.
TEST_F(CheckAsAnotherUser, AnOrdinaryUserGetsTheLineSettingsWithoutAFalseAlarm) {
  int status = -1;
  const QJsonObject doc = doctorAsNobody(0666, status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(doc["verdict"].toString(), QStringLiteral("ok"));
  const QJsonArray checks = doc["checks"].toArray();
  ASSERT_EQ(checks.size(), 7);
  const QJsonObject line = checks[5].toObject();
  EXPECT_EQ(line["check"].toString(), QStringLiteral("line"));
  EXPECT_TRUE(line["found"].toString().startsWith(QStringLiteral("4800 baud, 8 data bits")))
      << line["found"].toString().toStdString();
  EXPECT_TRUE(line["advice"].isNull()) << line["advice"].toString().toStdString();
}

TEST_F(CheckOnSim, NamesTheUsbAdapterAndWhoMayClaimIt) {
  // A sysfs of one CH340 adapter under the name of the simulated unit's device.
  QTemporaryDir sys;
  sysRoot = sys.path().toStdString();
  installed = "brltty";
  const std::string name = unit.devicePath().substr(unit.devicePath().rfind('/') + 1);
  const std::string usb = sysRoot + "/devices/usb1/1-1", iface = usb + "/1-1:1.0/" + name;
  const std::string driver = sysRoot + "/drivers/ch341";
  ASSERT_EQ(::system(("mkdir -p " + iface + " " + driver + " " + sysRoot + "/class/tty").c_str()),
            0);
  for (const auto& [file, text] :
       {std::pair{"idVendor", "1a86"}, std::pair{"idProduct", "7523"},
        std::pair{"manufacturer", "QinHeng Electronics"}, std::pair{"product", "USB Serial"}})
    std::ofstream(usb + "/" + file) << text << "\n";
  // class/tty/NAME, and its device, lead to the adapter's port; its driver beside.
  ASSERT_EQ(::symlink(iface.c_str(), (sysRoot + "/class/tty/" + name).c_str()), 0);
  ASSERT_EQ(::symlink(iface.c_str(), (iface + "/device").c_str()), 0);
  ASSERT_EQ(::symlink(driver.c_str(), (iface + "/driver").c_str()), 0);

  const ConnectionCheckResult r = checkDevice(unit.devicePath());
  ASSERT_GE(r.lines.size(), 5u) << r.text();
  EXPECT_EQ(r.lines[4].found,
            "USB adapter 1a86:7523, QinHeng Electronics, USB Serial (driver ch341)");
  EXPECT_EQ(r.lines[4].advice,
            "brltty is installed and takes 1a86:7523 adapters for braille displays: if the port "
            "goes away after plugging in, remove it (sudo apt remove brltty)");
}

}  // namespace
}  // namespace ku
