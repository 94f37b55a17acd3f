// The diagnostics: the link's lines when its category is switched on (every byte
// written and read in hex, pauses, holds, opens, closes, failures), and silence
// when it is not.
#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "fakes.h"
#include "link/unit_link.h"
#include "model/log.h"

namespace ku {
namespace {

using test::FakeSerialPort;
using test::FakeSleeper;

// Every message of a ku.* category while a test runs, as "category: text".
std::vector<std::string> captured;

void capture(QtMsgType, const QMessageLogContext& context, const QString& text) {
  const std::string category = context.category ? context.category : "";
  if (category.rfind("ku.", 0) == 0) captured.push_back(category + ": " + text.toStdString());
}

// A UnitLink on a fake port, with the messages captured under the given rules.
class LinkLog : public ::testing::Test {
 protected:
  void useRules(const char* rules) { QLoggingCategory::setFilterRules(QString::fromLatin1(rules)); }
  void SetUp() override {
    captured.clear();
    previous_ = qInstallMessageHandler(capture);
  }
  void TearDown() override {
    qInstallMessageHandler(previous_);
    QLoggingCategory::setFilterRules(QString());
  }
  // A read-back that gets the record "000...0" (38 characters), then the close.
  void readBackAndClose() {
    port->replies = {"", std::string(38, '0')};
    ASSERT_EQ(link.openDevice("/dev/ttyUSB7").code, 0);
    ASSERT_EQ(link.readBack().code, 0);
    link.sendCloseByteAndClose();
  }
  bool logged(const std::string& line) const {
    for (const std::string& c : captured)
      if (c == line) return true;
    return false;
  }

  FakeSerialPort* port = new FakeSerialPort;
  FakeSleeper sleeper;
  UnitLink link{std::unique_ptr<SerialPort>(port), sleeper};

 private:
  QtMessageHandler previous_ = nullptr;
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
      "ku.link: pause 10 ms",
      "ku.link: read 38 byte(s): " + record,
      "ku.link: read-back: 38-byte reply, 32 of 32 slots, last error 0",
      "ku.link: holding the next byte 990 ms: the unit's second after \"x\" is not over",
      "ku.link: wrote 1 byte(s): 21",
      "ku.link: port closed",
  };
  EXPECT_EQ(captured, expected);
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
    captured.clear();
    useRules(rules);
    port->portIsOpen = false;
    readBackAndClose();
    EXPECT_EQ(port->written, " qx!");
    EXPECT_EQ(captured, std::vector<std::string>{});
    port->written.clear();
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
