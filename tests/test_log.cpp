// The diagnostics: the link's lines when its category is switched on (every byte
// written and read in hex, pauses, holds, opens, closes, failures), silence when
// it is not, and the lines of the layers above it.
#include <gtest/gtest.h>

#include <QDateTime>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/backups.h"
#include "app/setup_file.h"
#include "app/unit_controller.h"
#include "cli/kuctl.h"
#include "fakes.h"
#include "link/unit_link.h"
#include "log_capture.h"
#include "model/log.h"
#include "scratch_dir.h"
#include "timeline.h"

namespace ku {
namespace {

using test::EmptyDatabaseOpener;
using test::FakeSerialPort;
using test::FakeSleeper;
using test::RecordingNotifier;

// A UnitLink on a fake port, with the messages captured.
class LinkLog : public test::LogCapture {
 protected:
  // A read-back that gets the record "000...0" (38 characters), then the close.
  void readBackAndClose() {
    port->replies = {"", std::string(38, '0')};
    ASSERT_EQ(link.openDevice("/dev/ttyUSB7").code, 0);
    ASSERT_EQ(link.readBack().code, 0);
    link.sendCloseByteAndClose();
  }
  FakeSerialPort* port = new FakeSerialPort;
  FakeSleeper sleeper;
  UnitLink link{std::unique_ptr<SerialPort>(port), sleeper};
};

TEST_F(LinkLog, AReadBackLogsEveryByteWrittenAndReadPausesAndHoldInOrder) {
  useRules("ku.link.debug=true");
  readBackAndClose();
  std::string record = "30";
  for (int i = 1; i < 38; ++i) record += " 30";
  const std::vector<std::string> expected = {
      "ku.link: /dev/ttyUSB7 open: 4800 baud, 8 data bits, no parity, 1 stop bit, no flow "
      "control, RTS on",
      "ku.link: wrote 1 byte(s): 20",
      "ku.link: pause 1000 ms",
      "ku.link: wrote 1 byte(s): 71",
      "ku.link: pause 1000 ms",
      "ku.link: wrote 1 byte(s): 78",
      "ku.link: awaiting the record, at most 1000 ms",
      "ku.link: read 38 byte(s): " + record,
      "ku.link: read-back: 38-byte reply, 32 of 32 slots, last error 0",
      "ku.link: holding the next byte 990 ms: the unit's second after \"x\" is not over",
      "ku.link: wrote 1 byte(s): 21",
      "ku.link: port closed",
  };
  EXPECT_EQ(lines(), expected);
}

TEST_F(LinkLog, FailuresAreLoggedWithTheirBytesAndReasons) {
  useRules("ku.*.debug=true");
  port->failures["Write"] = 57;
  ASSERT_EQ(link.openDevice("/dev/ttyUSB7").code, 0);
  // The missing record is the last failure of each read-back.
  EXPECT_EQ(link.readBack().code, kInvalidArgument);
  EXPECT_TRUE(logged("ku.link: write of 1 byte(s) failed: 20: Write failed"));
  EXPECT_TRUE(logged("ku.link: write of 1 byte(s) failed: 78: Write failed"));

  port->failures = {{"Read", 57}};
  EXPECT_EQ(link.readBack().code, kInvalidArgument);
  EXPECT_TRUE(logged("ku.link: read failed: Read failed"));

  port->failures = {{"Open", 8005}};
  port->portIsOpen = false;
  EXPECT_EQ(link.openDevice("/dev/ttyUSB9").code, 8005);
  EXPECT_TRUE(logged("ku.link: /dev/ttyUSB9 not opened: error 8005: Open failed"));
}

// Off by default, off when switched off, and a rule for another layer leaves
// the link silent.
TEST_F(LinkLog, WithoutItsRuleTheLinkSaysNothing) {
  for (const char* rules : {"", "ku.*.debug=false", "ku.link.debug=false", "ku.app.debug=true",
                            "ku.link.debug=true\nku.link.debug=false"}) {
    SCOPED_TRACE(rules);
    lines().clear();
    useRules(rules);
    port->portIsOpen = false;
    readBackAndClose();
    EXPECT_EQ(port->written, " qx!");
    EXPECT_EQ(lines(), std::vector<std::string>{});
    port->written.clear();
  }
}

// The controller's operations and the reference lookups of a load, each layer
// in its own category.
class ControllerLog : public test::LogCapture {
 protected:
  void SetUp() override {
    LogCapture::SetUp();
    view.attach(&controller);
  }
  static AppContext contextIn(const std::string& folder) {
    AppContext c;
    initAppContext(c, folder);
    return c;
  }
  AppContext context = contextIn("/opt/ku");
  RecordingUnitView view;
  RecordingNotifier notifier;
  FakeSleeper sleeper;
  EmptyDatabaseOpener opener;
  FakeSerialPort* port = new FakeSerialPort;
  UnitController controller{context, view, notifier, sleeper, std::unique_ptr<SerialPort>(port),
                            opener};
};

TEST_F(ControllerLog, ALoadLogsItsOperationsAndLookupsAndNothingOfTheLink) {
  useRules("ku.app.debug=true\nku.reference.debug=true");
  std::array<int, 32> values{};
  values[3] = 2;   // the RF control byte
  values[6] = 10;  // the CONFIG byte
  port->replies = {"", test::makeRecord(values)};
  EXPECT_EQ(controller.openLinkToDevice("/dev/ttyUSB7").outcome, LoadOutcome::Linked);
  const std::vector<std::string> expected = {
      "ku.app: load begins: device /dev/ttyUSB7",
      "ku.app: read-back begins",
      "ku.reference: opened /opt/ku/TKUUtil.mdb",
      "ku.reference: SELECT * FROM RFcontrol WHERE DECVAL =  2: 0 row(s)",
      "ku.reference: opened /opt/ku/TKUUtil.mdb",
      "ku.reference: SELECT * FROM CONFIG WHERE CDV =  10: 0 row(s)",
      // E1 Int Constant (slot 27) divides by the slot's 0.
      "ku.app: reference refresh failed: Division by zero",
      "ku.app: read-back ended: 32 of 32 slots (error 11: Division by zero)",
      "ku.app: load ended: read back",
  };
  EXPECT_EQ(lines(), expected);

  lines().clear();
  controller.closeLink();
  EXPECT_EQ(lines(),
            std::vector<std::string>{"ku.app: unload: the close byte, then the port closes"});
  EXPECT_EQ(port->written, " qx!");
}

TEST_F(ControllerLog, AnUploadRefusedForUnreadSlotsSaysSo) {
  useRules("ku.app.debug=true");
  EXPECT_EQ(controller.runDefaultCommand(), UploadOutcome::UnreadSlots);
  EXPECT_EQ(lines(), (std::vector<std::string>{
                         "ku.app: \"Default\" begins",
                         "ku.app: \"Default\" ended: refused, the last read-back left slots unread",
                     }));
  EXPECT_EQ(port->written, "");
}

TEST_F(ControllerLog, BackupsAndSetUpFilesWrittenAreLogged) {
  useRules("ku.app.debug=true");
  test::ScratchDir dir;
  UnitSetup setup;
  setup.reason = "update";
  const QDateTime at(QDate(2026, 3, 1), QTime(9, 15, 2, 481), Qt::UTC);
  writeBackup(dir.file("backups"), setup, at);
  writeSetupFile(dir.file("unit.json"), setup);
  EXPECT_EQ(lines(), (std::vector<std::string>{
                         "ku.app: backup written: " + dir.path() +
                             "/backups/2026-03-01T09-15-02.481Z.json (update)",
                         "ku.app: set-up file written: " + dir.path() + "/unit.json",
                     }));
}

// kuctl's command as chosen and its exit status; a refused command line too.
TEST_F(ControllerLog, KuctlLogsTheCommandAndItsExitStatus) {
  useRules("ku.cli.debug=true");
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> logged;
  };
  const Case cases[] = {
      {{"--version"}, {"ku.cli: command: no command (--version)", "ku.cli: exit status 0"}},
      {{"--json", "--port", "3", "update", "4=7", "8=300"},  // Ramp Start takes 0 to 255
       {"ku.cli: command: update 4=7 8=300 on port 3 (--json)", "ku.cli: exit status 2"}},
      {{"frobnicate"},
       {"ku.cli: command: no command - refused: unknown command frobnicate",
        "ku.cli: exit status 2"}},
  };
  for (const Case& c : cases) {
    lines().clear();
    // No port, database or sleeper is reached: each refusal comes first.
    cli::Environment env;
    env.folders.programDir = "/nonexistent/ku";
    env.folders.variable = [](const std::string&) { return std::string(); };
    std::ostringstream out, err;
    cli::run(c.args, env, out, err);
    EXPECT_EQ(lines(), c.logged) << err.str();
  }
}

TEST(LinkLogText, LineSettingsAndBytesAsTheLinesShowThem) {
  EXPECT_EQ(lineSettingsText(kUnitLine),
            "4800 baud, 8 data bits, no parity, 1 stop bit, no flow control, RTS on");
  const LineSettings odd{
      9600, 7, LineSettings::Parity::Even, 2, LineSettings::FlowControl::Hardware, false};
  EXPECT_EQ(lineSettingsText(odd),
            "9600 baud, 7 data bits, even parity, 2 stop bits, RTS/CTS flow control, RTS off");
  EXPECT_EQ(hexBytes(""), "");
  EXPECT_EQ(hexBytes(std::string(" qx!\0\x80\xff", 7)), "20 71 78 21 00 80 ff");
}

}  // namespace
}  // namespace ku
