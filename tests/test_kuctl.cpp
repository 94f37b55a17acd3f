// kuctl's command line and outcomes, on the fake port: what is sent, what is
// printed, and the exit status for each of the system's messages.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <regex>
#include <sstream>

#include "app/backups.h"
#include "app/unit_controller.h"
#include "cli/kuctl.h"
#include "fakes.h"
#include "model/slot_table.h"

namespace ku {
namespace {

using cli::Environment;
using test::FakeSerialPort;
using test::FakeSleeper;

// Hands kuctl a port that forwards to a fake the test keeps.
using ForwardingPort = ForwardingSerialPort;

std::string defaultRecord() {
  std::string r;
  for (int s = 0; s < 30; ++s) {
    const int v = slotInfo(s).builtInDefault;
    if (isWideSlot(s)) r += static_cast<char>(v >> 8);
    r += static_cast<char>(v & 0xFF);
  }
  r += static_cast<char>(210);  // slot 30, low byte first
  r += static_cast<char>(0);
  r += static_cast<char>(0);  // slot 31
  return r;
}

struct Outcome {
  int status;
  std::string out, err;
};

class KuctlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    QFile::copy(QStringLiteral(KU_BIN_DIR "/TKUUtil.mdb"), dir.filePath("TKUUtil.mdb"));
    writeCommsIni("Port,1\n");
    // A unit that answers "x" with its record.
    port.onByte = [this](unsigned char c) {
      if (c == 'x') port.replies.push_back(record);
      if (c == 'q') port.replies.push_back("noise before the record");
    };
    opener = makeMdbOpener();
    // No standard folder holds anything: only the program's folder counts.
    env.folders.programDir = dir.path().toStdString();
    env.folders.variable = [this](const std::string& name) {
      return name == "HOME" ? home.path().toStdString() : std::string();
    };
    env.makePort = [this](const std::string& folder) {
      linkFolder = folder;
      return std::make_unique<ForwardingPort>(port);
    };
    env.sleeper = &sleeper;
    env.opener = opener.get();
  }
  void writeCommsIni(const std::string& text) {
    QFile f(dir.filePath("comms.ini"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.data(), static_cast<qint64>(text.size()));
  }
  Outcome run(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = cli::run(args, env, out, err);
    return {status, out.str(), err.str()};
  }

  QTemporaryDir dir, home;
  FakeSerialPort port;
  FakeSleeper sleeper;
  std::unique_ptr<ReferenceDatabaseOpener> opener;
  Environment env;
  std::string record = defaultRecord();
  std::string linkFolder;  // where kuctl's port looks for comN
};

TEST_F(KuctlTest, ReadPrintsEveryRowWithReferenceColumnsAndSendsTheCloseByte) {
  record[0] = 2;  // channel 2 shows as 3
  const Outcome r = run({"read"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(port.written, " qx!");
  EXPECT_FALSE(port.isOpen());
  EXPECT_NE(r.out.find("Channel No.(1-4)      3"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Test Frequency        799      50"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("IF Frequency  15.041"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("RFCONT Byte           2        HF          OFF"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("E/S Min Pulse width   N/A"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "");
}

// An output that passes its text on only when it is flushed, noting the time
// on the virtual clock of each flush.
class FlushedOutput : public std::stringbuf {
 public:
  explicit FlushedOutput(const FakeSleeper& clock) : clock_(clock) {}
  std::string flushed;
  std::vector<long long> flushedAt;

 protected:
  int sync() override {
    if (!str().empty()) {
      flushed += str();
      str(std::string());
      flushedAt.push_back(clock_.elapsedMs);
    }
    return 0;
  }

 private:
  const FakeSleeper& clock_;
};

TEST_F(KuctlTest, ResultsAreOutBeforeTheCloseByteWhichWaitsOutTheUnitsSecond) {
  struct Case {
    std::vector<std::string> args;
    long long resultsAt, closeByteAt;  // ms on the virtual clock
  };
  // read: "x" at 2000 ms, the record at the first look (2010), "!" at 3000.
  // update: the upload's first byte waits until 3000, its pauses take 1400 ms,
  // then " q" and "x" at 6400: results at 6410 where they used to come at 7400.
  const Case cases[] = {{{"read"}, 2010, 3000}, {{"update", "8=7"}, 6410, 7400}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front());
    port.written.clear();
    sleeper.elapsedMs = 0;
    FlushedOutput outBuf(sleeper), errBuf(sleeper);
    std::ostream out(&outBuf), err(&errBuf);
    std::string outAtClose = "(no close byte)";
    long long closeAt = -1;
    port.onByte = [&](unsigned char ch) {
      if (ch == 'x') port.replies.push_back(record);
      if (ch == '!') {
        outAtClose = outBuf.flushed;
        closeAt = sleeper.elapsedMs;
      }
    };
    EXPECT_EQ(cli::run(c.args, env, out, err), 0) << errBuf.flushed << errBuf.str();
    EXPECT_EQ(outBuf.str(), "");  // nothing left unflushed
    EXPECT_NE(outBuf.flushed.find("Tolvek String"), std::string::npos) << outBuf.flushed;
    EXPECT_EQ(outAtClose, outBuf.flushed);  // every row was out when "!" went
    ASSERT_FALSE(outBuf.flushedAt.empty());
    EXPECT_EQ(outBuf.flushedAt.front(), c.resultsAt);
    EXPECT_EQ(closeAt, c.closeByteAt);
    EXPECT_EQ(port.written.back(), '!');
  }
}

TEST_F(KuctlTest, JsonCarriesTheSameCells) {
  const Outcome r = run({"--json", "--pulse-width", "1", "read"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"descriptionValue\": \"7.56\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"name\": \"Tx Pulse Integral\""), std::string::npos);
  EXPECT_NE(r.out.find("\"reference\": \"210\""), std::string::npos);
}

TEST_F(KuctlTest, UpdateLaysEntriesOverTheReadBackAndUploadsThemAll) {
  const Outcome r = run({"update", "4=32000", "8=255", "3=2.5"});
  ASSERT_EQ(r.status, 0) << r.err;
  // " qx", 69 upload bytes, " qx", "!".
  ASSERT_EQ(port.written.size(), 3u + 69u + 3u + 1u);
  const std::string upload = port.written.substr(3, 69);
  EXPECT_EQ(upload.substr(0, 2), std::string("r\x00", 2));
  EXPECT_EQ(upload.substr(6, 2), std::string("@\x02", 2));  // 2.5 rounds to 2
  EXPECT_EQ(upload.substr(8, 3), std::string("A\x7D\x00", 3));
  EXPECT_EQ(upload.find(std::string("E\xFF", 2)), 18u);
}

TEST_F(KuctlTest, RejectedEntriesStopBeforeAnyByte) {
  for (const char* entry : {"8=300", "4=32001", "0=1", "30=5", "5=-1", "7=abc", "9="}) {
    port.written.clear();
    const Outcome r = run({"update", entry});
    EXPECT_EQ(r.status, cli::kExitUsage) << entry;
    EXPECT_EQ(port.written, "") << entry;
    EXPECT_EQ(port.openCalls, 0) << entry;
    EXPECT_NE(r.err.find("nothing was sent"), std::string::npos) << entry << r.err;
  }
}

TEST_F(KuctlTest, BadCommandLinesAreUsageErrors) {
  for (std::vector<std::string> args : {std::vector<std::string>{},
                                        {"frobnicate"},
                                        {"update"},
                                        {"read", "4=1"},
                                        {"--port", "0", "read"},
                                        {"--port"},
                                        {"--bogus", "read"},
                                        {"update", "40=1"}}) {
    const Outcome r = run(args);
    EXPECT_EQ(r.status, cli::kExitUsage);
    EXPECT_FALSE(r.err.empty());
    EXPECT_EQ(port.openCalls, 0);
  }
  const Outcome help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Exit status"), std::string::npos);
  for (const char* line : {"\n  save FILE ", "\n  apply FILE ", "\n  diff FILE ", "\n  backups ",
                           "\n  restore [FILE] ", "\n  --no-backup ", "\n  1  diff: ",
                           "\n  8  the backup before an upload could not be written"})
    EXPECT_NE(help.out.find(line), std::string::npos) << line;
}

TEST_F(KuctlTest, UsageErrorsNameTheFaultExactly) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{},
       "no command given (read, defaults, update, save, apply, diff, backups, restore, info, "
       "ports or doctor)"},
      {{"frobnicate"}, "unknown command frobnicate"},
      {{"update"}, "update needs at least one SLOT=VALUE"},
      {{"read", "4=1"}, "'read' takes no entries: 4=1"},
      {{"save"}, "save needs a FILE"},
      {{"diff", "a.json", "b.json"}, "'diff' takes one FILE: b.json"},
      {{"backups", "a.json"}, "'backups' takes no entries: a.json"},
      {{"update", "40=1"}, "an entry is SLOT=VALUE with a slot from 0 to 31: 40=1"},
      {{"update", "x=1"}, "an entry is SLOT=VALUE with a slot from 0 to 31: x=1"},
      {{"--port", "0", "read"}, "--port takes a port number from 1 to 32767"},
      {{"--port", "32768", "read"}, "--port takes a port number from 1 to 32767"},
      {{"read", "--port", "3x"}, "--port takes a port number from 1 to 32767"},
      {{"read", "--port"}, "--port takes a port number from 1 to 32767"},
      {{"read", "--pulse-width"}, "--pulse-width takes the text of the pulse-width box"},
      {{"read", "--device"}, "--device takes the path of a serial device"},
      {{"--device", "", "read"}, "--device takes the path of a serial device"},
      {{"read", "--trace"}, "--trace takes the path of the file to write the wire trace to"},
      {{"--trace=", "read"}, "--trace takes the path of the file to write the wire trace to"},
      {{"--device", "/dev/ttyUSB0", "--port", "1", "read"},
       "--device and --port cannot be used together"},
      {{"--bogus", "read"}, "unknown option --bogus"},
      {{"read", "-x"}, "unknown option -x"},
      {{"read", "--bogus=1"}, "unknown option --bogus=1"},
      {{"update", "8=1", "4=2", "8=2"},
       "slot 8 (Ramp Start) is given twice (8=1 and 8=2); nothing was sent"},
      {{"--force", "apply", "a.json"}, "--force belongs to restore"},
  };
  for (const auto& [args, text] : cases) {
    const Outcome r = run(args);
    EXPECT_EQ(r.status, cli::kExitUsage) << text;
    EXPECT_EQ(r.err, "kuctl: " + text + "\n(kuctl --help shows the usage)\n");
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(port.openCalls, 0);
}

TEST_F(KuctlTest, OptionsMayFollowTheCommandAndTakeTheirValueAfterAnEqualsSign) {
  const Outcome r = run({"read", "--pulse-width=1", "--json", "--port=2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(port.portNumber, 2);
  EXPECT_NE(r.out.find("\"descriptionValue\": \"7.56\""), std::string::npos) << r.out;
  // "--" ends the options: what follows is the command.
  EXPECT_EQ(run({"--", "--json"}).err,
            "kuctl: unknown command --json\n(kuctl --help shows the usage)\n");
}

TEST_F(KuctlTest, HelpAndVersionWinOverAFaultyCommandLine) {
  for (std::vector<std::string> args : {std::vector<std::string>{"--help", "--bogus"},
                                        {"frobnicate", "-h"},
                                        {"--port", "0", "--help"}}) {
    const Outcome r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: kuctl [OPTIONS] COMMAND", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("--version"), std::string::npos);
    EXPECT_EQ(r.err, "");
  }
  const Outcome v = run({"read", "--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_TRUE(std::regex_match(v.out, std::regex("kuctl [0-9]+\\.[0-9]+(\\.[0-9]+)*\n"))) << v.out;
  EXPECT_EQ(port.openCalls, 0);
}

TEST_F(KuctlTest, SettingsFromTheUsersFolderWhenNoneBesideTheProgram) {
  const QString userDir = home.filePath(".config/ku-utility");
  ASSERT_TRUE(QDir().mkpath(userDir));
  QFile user(userDir + "/comms.ini");
  ASSERT_TRUE(user.open(QIODevice::WriteOnly));
  user.write("Port,2\n");
  user.close();

  Outcome r = run({"read"});  // the program's folder still wins
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(port.portNumber, 1);
  EXPECT_EQ(linkFolder, dir.path().toStdString());

  QFile::remove(dir.filePath("comms.ini"));
  r = run({"read"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(port.portNumber, 2);
  EXPECT_EQ(linkFolder, userDir.toStdString());
}

TEST_F(KuctlTest, InfoNamesEveryPathAndWhyAndTouchesNoPort) {
  const std::string d = dir.path().toStdString(), h = home.path().toStdString();
  ASSERT_EQ(::symlink("/dev/null", dir.filePath("com1").toLocal8Bit().constData()), 0);
  const Outcome r = run({"info"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string version = r.out.substr(0, r.out.find('\n') + 1);
  EXPECT_TRUE(std::regex_match(version, std::regex("kuctl [0-9.]+\n"))) << r.out;
  EXPECT_EQ(r.out.substr(version.size()),
            "program folder:     " + d +
                "\n"
                "settings file:      " +
                d +
                "/comms.ini\n"
                "  beside the program\n"
                "device:             " +
                d +
                "/com1\n"
                "  port 1 from comms.ini; com1 in " +
                d +
                ", a link to /dev/null\n"
                "reference database: " +
                d +
                "/TKUUtil.mdb\n"
                "  beside the program\n"
                "backups folder:     " +
                h +
                "/.local/state/ku-utility/backups\n"
                "  ~/.local/state/ku-utility/backups ($XDG_STATE_HOME is not set); made at the "
                "first backup\n");

  const Outcome overridden = run({"--port", "7", "--json", "info"});
  EXPECT_NE(overridden.out.find("\"reason\": \"port 7 from --port; no com7 in " + d +
                                ": port 7 is /dev/ttyS6"),
            std::string::npos)
      << overridden.out;
  EXPECT_NE(overridden.out.find("\"path\": \"/dev/ttyS6\""), std::string::npos);

  writeCommsIni("Port,\"two\"\n");
  EXPECT_NE(run({"info"}).out.find("device:             -\n  none: comms.ini's port number is "
                                   "not usable"),
            std::string::npos);
  QFile::remove(dir.filePath("comms.ini"));
  EXPECT_NE(run({"info"}).out.find("device:             -\n  none: comms.ini is missing (the "
                                   "invalid-port message)\n"),
            std::string::npos);
  EXPECT_EQ(port.openCalls, 0);
  EXPECT_EQ(port.written, "");
}

TEST_F(KuctlTest, PortsListsWhatIsKnownOfEachPort) {
  SerialPortEntry usb;
  usb.device = "/dev/ttyUSB0";
  usb.description = "USB Serial";
  usb.manufacturer = "Maker";
  usb.serialNumber = "A1B2";
  usb.stablePath = "/dev/serial/by-id/usb-Maker_USB_Serial_A1B2-if00-port0";
  SerialPortEntry onBoard;
  onBoard.device = "/dev/ttyS0";
  std::vector<SerialPortEntry> ports{onBoard, usb};
  env.listPorts = [&] { return ports; };

  Outcome r = run({"ports"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "/dev/ttyS0\n"
            "/dev/ttyUSB0\n"
            "  description:   USB Serial\n"
            "  manufacturer:  Maker\n"
            "  serial number: A1B2\n"
            "  stable path:   /dev/serial/by-id/usb-Maker_USB_Serial_A1B2-if00-port0\n");
  r = run({"--json", "ports"});
  EXPECT_EQ(
      r.out,
      "{\n"
      "    \"ports\": [\n"
      "        {\n"
      "            \"description\": null,\n"
      "            \"device\": \"/dev/ttyS0\",\n"
      "            \"manufacturer\": null,\n"
      "            \"serialNumber\": null,\n"
      "            \"stablePath\": null\n"
      "        },\n"
      "        {\n"
      "            \"description\": \"USB Serial\",\n"
      "            \"device\": \"/dev/ttyUSB0\",\n"
      "            \"manufacturer\": \"Maker\",\n"
      "            \"serialNumber\": \"A1B2\",\n"
      "            \"stablePath\": \"/dev/serial/by-id/usb-Maker_USB_Serial_A1B2-if00-port0\"\n"
      "        }\n"
      "    ]\n"
      "}\n");
  ports.clear();
  EXPECT_EQ(run({"ports"}).out, "No serial ports found.\n");
  EXPECT_EQ(run({"ports", "extra"}).status, cli::kExitUsage);
  EXPECT_EQ(port.openCalls, 0);
}

TEST_F(KuctlTest, DoctorPrintsOneLinePerStepAndExitsWithItsVerdictsStatus) {
  // A pseudo-terminal of this test stands in for the device; the fake port talks.
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string device = ::ptsname(master);

  Outcome r = run({"--device", device, "doctor"});
  EXPECT_EQ(r.status, cli::kExitOk) << r.out;
  EXPECT_EQ(port.written, " qx!");  // the requests and the close byte, nothing uploaded
  EXPECT_NE(r.out.find("\nunit: \" \" brought 0 characters, \"q\" 23, \"x\" 38; first bytes "
                       "00 00 00 02 03 1F 02 66"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - 12), "verdict: ok\n");

  port.onByte = nullptr;  // silent
  r = run({"--json", "--device", device, "doctor"});
  EXPECT_EQ(r.status, 14);
  const QJsonObject doc = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object();
  EXPECT_EQ(doc["verdict"].toString(), QStringLiteral("silent"));
  ASSERT_EQ(doc["checks"].toArray().size(), 7);
  EXPECT_FALSE(doc["checks"].toArray()[6].toObject()["passed"].toBool());
  ::close(master);

  QFile::remove(dir.filePath("comms.ini"));
  r = run({"doctor"});
  EXPECT_EQ(r.status, 10);
  EXPECT_EQ(r.out.rfind(
                "settings: no comms.ini beside the program (" + dir.path().toStdString() + ")", 0),
            0u)
      << r.out;
  EXPECT_EQ(run({"doctor", "extra"}).status, cli::kExitUsage);
}

TEST_F(KuctlTest, EachMessageHasItsOwnExitStatus) {
  {  // no comms.ini: the invalid-port message, nothing sent, not even "!"
    QFile::remove(dir.filePath("comms.ini"));
    const Outcome r = run({"read"});
    EXPECT_EQ(r.status, cli::kExitInvalidPort);
    EXPECT_NE(r.err.find("Invalid Com Port.Either missing comms.ini file"), std::string::npos);
    EXPECT_EQ(port.written, "");
  }
  {  // --port overrides the missing file
    const Outcome r = run({"--port", "3", "read"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(port.portNumber, 3);
  }
  writeCommsIni("Port,1\n");
  {  // a short record
    record.resize(37);
    port.written.clear();
    const Outcome r = run({"read"});
    EXPECT_EQ(r.status, cli::kExitShortReply);
    EXPECT_NE(r.err.find("Couldnot get Any or Full string from KU"), std::string::npos);
    EXPECT_EQ(port.written, " qx!");
  }
  {  // the port held elsewhere: no message at load, but kuctl says why it stopped
    port.failures["Open"] = 8005;
    port.written.clear();
    const Outcome r = run({"defaults"});
    EXPECT_EQ(r.status, cli::kExitPortUnavailable);
    EXPECT_NE(r.err.find("could not be opened"), std::string::npos);
    EXPECT_EQ(port.written, "");
  }
}

TEST_F(KuctlTest, DeviceStandsInForCommsIniAndThePortNumber) {
  QFile::remove(dir.filePath("comms.ini"));
  Outcome r = run({"--device", "/dev/serial/by-id/usb-Maker-if00-port0", "update", "8=7"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(port.devicePath, "/dev/serial/by-id/usb-Maker-if00-port0");
  EXPECT_EQ(port.portNumber, 0);
  EXPECT_EQ(port.written.size(), 3u + 69u + 3u + 1u);
  EXPECT_NE(port.written.find(std::string("E\x07", 2)), std::string::npos);

  // Its outcomes are the port's: no such device, and a device held elsewhere.
  for (const auto& [code, status] :
       {std::pair{8002, cli::kExitInvalidPort}, std::pair{8005, cli::kExitPortUnavailable}}) {
    port.failures["Open"] = code;
    port.written.clear();
    r = run({"--device", "/dev/ttyUSB7", "read"});
    EXPECT_EQ(r.status, status) << code << r.err;
    EXPECT_EQ(port.written, "") << code;
  }
}

// The backups table sizes each column to its longest text; --json gives the
// same as a document; an unreadable folder is an error, not "No backups".
TEST_F(KuctlTest, BackupsListsPortChannelAndReasonInColumnsOrAsJson) {
  const std::string folder = home.filePath(".local/state/ku-utility/backups").toStdString();
  UnitSetup s;
  s.values.fill(std::int16_t{1});  // slot 0 holds 1: channel 2
  s.device = "/dev/ttyUSB0";
  s.deviceById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";  // 60 characters
  s.reason = "defaults";
  writeBackup(folder, s, QDateTime::fromString("2026-03-01T09:15:02.481Z", Qt::ISODateWithMs));
  s.values[0].reset();
  s.deviceById.clear();
  s.reason.clear();  // an older backup: neither channel nor reason known
  writeBackup(folder, s, QDateTime::fromString("2026-02-01T08:00:00.000Z", Qt::ISODateWithMs));
  Outcome r = run({"backups"});
  EXPECT_EQ(r.out, "time                         port" + std::string(58, ' ') +
                       "channel  reason    file\n2026-03-01 09:15:02.481 UTC  "
                       "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0  2        "
                       "defaults  " +
                       folder + "/2026-03-01T09-15-02.481Z.json\n2026-02-01 08:00:00.000 UTC  " +
                       "/dev/ttyUSB0" + std::string(50, ' ') + "?        ?         " + folder +
                       "/2026-02-01T08-00-00.000Z.json\n");
  r = run({"--json", "backups"});
  const QJsonObject first =
      QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object()["backups"][0].toObject();
  EXPECT_EQ(first["channel"].toInt(), 2);
  EXPECT_EQ(first["reason"].toString(), "defaults");

  QDir(QString::fromStdString(folder)).removeRecursively();
  QFile blocker(QString::fromStdString(folder));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  for (const char* command : {"backups", "restore"}) {
    r = run({command});
    EXPECT_EQ(r.status, cli::kExitUsage) << command;
    EXPECT_EQ(r.err.rfind("kuctl: The backups folder \"" + folder +
                              "\" cannot be read: Not a "
                              "directory.",
                          0),
              0u)
        << r.err;
  }
  EXPECT_EQ(port.written, "");
}

TEST_F(KuctlTest, DefaultsKeepTheUnitsChannel) {
  record[0] = 3;
  const Outcome r = run({"defaults"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_GE(port.written.size(), 5u);
  EXPECT_EQ(port.written.substr(3, 2), std::string("r\x03", 2));
}

TEST_F(KuctlTest, NoUploadOverASetUpThatCouldNotBeRead) {
  // Slots left unset by the first read-back would go out as 0.
  struct Case {
    const char* name;
    std::string record;
    std::vector<std::string> args;
    bool uploads;
  };
  std::string highByte = record;
  highByte[29] = static_cast<char>(0x81);  // slot 27's high byte: the pair fails
  const Case cases[] = {
      {"silent unit, update", "", {"update", "8=9"}, false},
      {"silent unit, defaults", "", {"defaults"}, false},
      {"short record, update", record.substr(0, 20), {"update", "8=9"}, false},
      {"failed pair, update", highByte, {"update", "8=9"}, false},
      {"failed pair entered, update", highByte, {"update", "8=9", "27=300"}, true},
      // The channel was read, but 20 characters are not the unit's record.
      {"short record, defaults", record.substr(0, 20), {"defaults"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    record = c.record;
    port.written.clear();
    const Outcome r = run(c.args);
    if (c.uploads) {
      EXPECT_EQ(port.written.size(), 3u + 69u + 3u + 1u);
    } else {
      EXPECT_EQ(r.status, cli::kExitShortReply);
      const bool said = r.err.find("nothing was uploaded") != std::string::npos ||
                        r.err.find(
                            "kuctl: The unit's reply held 20 characters where its record "
                            "has 38: another device or noise on this line? Nothing was "
                            "sent.\n") != std::string::npos;
      EXPECT_TRUE(said) << r.err;
      EXPECT_EQ(port.written, " qx!");
    }
  }
}

// Saving over an incomplete read-back is refused by the controller alone: kuctl
// words the refusal, the window's controller shows its message; neither writes.
TEST_F(KuctlTest, SaveOverUnreadSlotsIsRefusedAlikeThroughKuctlAndTheWindowsController) {
  struct Case {
    std::size_t length;  // of the record the unit sends
    const char* kuctlSays;
    std::vector<int> unread;
  };
  const Case cases[] = {
      {36, "(slot 30 31)", {30, 31}},
      {20,
       "(slot 18 19 20 21 22 23 24 25 26 27 28 29 30 31)",
       {18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31}},
  };
  const std::string full = record;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    record = full.substr(0, c.length);
    const QString file = dir.filePath("saved.json");
    const Outcome r = run({"save", file.toStdString()});
    EXPECT_EQ(r.status, cli::kExitShortReply);
    EXPECT_NE(r.err.find(std::string("kuctl: the unit's set-up could not be read completely ") +
                         c.kuctlSays + "; nothing was saved\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("was not saved"), std::string::npos) << r.err;
    EXPECT_FALSE(QFile::exists(file));

    AppContext context;
    initAppContext(context, dir.path().toStdString());
    RecordingUnitView view;
    test::RecordingNotifier notifier;
    UnitController window(context, view, notifier, sleeper, std::make_unique<ForwardingPort>(port),
                          *opener);
    view.attach(&window);
    window.openLink();
    notifier.messages.clear();
    const SetupSaving saving = window.saveSetupFile(file.toStdString());
    EXPECT_EQ(saving.outcome, SaveOutcome::UnreadSlots);
    EXPECT_EQ(saving.unread, c.unread);
    ASSERT_EQ(notifier.messages.size(), 1u);
    EXPECT_EQ(notifier.messages[0].rfind(
                  "The unit's set-up was not saved: the last read-back did not get slot ", 0),
              0u)
        << notifier.messages[0];
    EXPECT_FALSE(QFile::exists(file));
    window.closeLink();
  }
}

// The trace file is made before the port is touched: one that cannot be made
// stops the run with nothing sent.
TEST_F(KuctlTest, ATraceFileThatCannotBeMadeStopsTheRunFirst) {
  const std::string missing = dir.filePath("no/such/folder/t").toStdString();
  const Outcome r = run({"--trace", missing, "read"});
  EXPECT_EQ(r.status, cli::kExitUsage);
  EXPECT_EQ(r.err, "kuctl: the trace file " + missing +
                       " cannot be written (No such file or directory); nothing was sent\n");
  EXPECT_EQ(port.openCalls, 0);
}

TEST_F(KuctlTest, TheOptionsOfHelpAreTheParsersEachWithItsWords) {
  const Outcome r = run({"--help"});
  EXPECT_NE(r.out.find("\n\nOptions:\n"
                       "  --port <N>         use port number N instead of the one in comms.ini\n"),
            std::string::npos)
      << r.out;
  for (const char* line : {
           "\n  --pulse-width <T>  the text of the pulse-width box, in ms (default \"0\")\n",
           "\n  --force            restore: take a backup of another port or channel\n",
           "\n  -h, --help         show this text\n",
           "\n  --version          print kuctl's version\n\nEvery run ends as closing the window",
       })
    EXPECT_NE(r.out.find(line), std::string::npos) << line;
  // One line per option, none without its words.
  const std::size_t from = r.out.find("Options:\n"), to = r.out.find("\n\nEvery run");
  const std::string options = r.out.substr(from, to - from);
  EXPECT_EQ(std::regex_search(options, std::regex("\n  -[-a-z]+(, --[-a-z]+)?( <[A-Z]+>)? *\n")),
            false)
      << options;
}

TEST_F(KuctlTest, MissingReferenceDatabaseIsANoteNotAFailure) {
  QFile::remove(dir.filePath("TKUUtil.mdb"));
  const Outcome r = run({"read"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("reference values incomplete"), std::string::npos) << r.err;
  // Rows before the failed lookup are filled, the lookup's rows keep their texts.
  EXPECT_NE(r.out.find("UNCAL"), std::string::npos);
  EXPECT_NE(r.out.find("RFCONT Byte           2                    Band"), std::string::npos)
      << r.out;
}

}  // namespace
}  // namespace ku
