// Stopping on SIGINT, SIGTERM or SIGHUP: where the stop lands decides what the
// unit gets. A signal is played by setting the stop request as a chosen byte
// goes out on the fake port.
#include <gtest/gtest.h>

#include <csignal>
#include <numeric>

#include "expected.h"
#include "fakes.h"
#include "link/stop_request.h"
#include "link/unit_link.h"

namespace ku {
namespace {

struct StopCase {
  const char* name;
  bool upload;         // else a read-back
  std::size_t atByte;  // the signals come as this byte (from 1) goes out; 0: before
  std::vector<int> signals;
  std::string written;  // the line's bytes before the close byte
};

// The link on an open fake port, with virtual time and a stop request of its own.
struct StoppableLink {
  test::FakeSerialPort* port = new test::FakeSerialPort;
  test::FakeSleeper sleeper;
  StopRequest stop;
  UnitLink link{std::unique_ptr<SerialPort>(port), sleeper};
  StoppableLink() {
    port->portIsOpen = true;
    link.setStopRequest(&stop);
  }
};

class StopLandsAt : public ::testing::TestWithParam<StopCase> {};

TEST_P(StopLandsAt, NoFrameIsLeftHalfWrittenAndTheCloseByteFollows) {
  const StopCase& c = GetParam();
  StoppableLink on;
  test::FakeSerialPort* port = on.port;
  test::FakeSleeper& sleeper = on.sleeper;
  StopRequest& stop = on.stop;
  UnitLink& link = on.link;
  const auto signal = [&] {
    for (int s : c.signals) stop.request(s);
  };
  if (c.atByte == 0) signal();
  port->onByte = [&](unsigned char) {
    if (port->written.size() == c.atByte) signal();
  };
  try {
    c.upload ? (void)link.upload(defaultUploadValues(3)) : (void)link.readBack();
    FAIL() << "the stop did not end the exchange";
  } catch (const StopRequested& e) {
    EXPECT_EQ(e.signal(), c.signals.front());
    EXPECT_EQ(e.uploadBytesSent(), c.upload ? static_cast<int>(c.written.size()) : 0);
  }
  const long long stoppedAt = sleeper.elapsedMs;
  link.sendCloseByteAndClose();
  EXPECT_EQ(port->written, c.written + "!");
  if (c.written.size() == 69) {  // no pause cut short: 60 x 20 ms and 4 x 50 ms
    EXPECT_EQ(std::accumulate(sleeper.waits.begin(), sleeper.waits.end(), 0), 1400);
  }
  if (c.written == " qx") {  // stopped at once; the close byte still waits out the second
    EXPECT_TRUE(stoppedAt < 2100 && sleeper.elapsedMs >= 3000) << stoppedAt;
  }
}

const std::string kPass = test::defaultUpload(3);
// Slots 0..3 take 2 bytes each, slot 4 three (bytes 9..11); slots 0..29 end at
// byte 65, and 30..33 are one command byte each.
INSTANTIATE_TEST_SUITE_P(
    Signals, StopLandsAt,
    ::testing::Values(
        StopCase{"sigint_first_byte", true, 1, {SIGINT}, kPass},
        StopCase{"sighup_last_byte", true, 69, {SIGHUP}, kPass},
        StopCase{"sigterm_then_sigint_mid_pass", true, 20, {SIGTERM, SIGINT}, kPass},
        StopCase{"two_sigints_first_byte", true, 1, {SIGINT, SIGINT}, kPass.substr(0, 2)},
        StopCase{"two_sigints_wide_command", true, 9, {SIGINT, SIGINT}, kPass.substr(0, 11)},
        StopCase{"two_sigints_wide_high", true, 10, {SIGINT, SIGINT}, kPass.substr(0, 11)},
        StopCase{"two_sigints_command_only", true, 66, {SIGINT, SIGINT}, kPass.substr(0, 66)},
        StopCase{"sigterm_before_upload", true, 0, {SIGTERM}, ""},
        StopCase{"sighup_after_space", false, 1, {SIGHUP}, " "},
        StopCase{"sigint_after_x", false, 3, {SIGINT}, " qx"}),
    [](const auto& info) { return std::string(info.param.name); });

// A stop while the rest of the unit's second is waited out, before its reply is
// judged, ends the exchange like any other wait (it is not taken for a lost port).
TEST(StopWhileTheReplySettles, IsNotSwallowed) {
  StoppableLink on;
  test::FakeSerialPort* port = on.port;
  test::FakeSleeper& sleeper = on.sleeper;
  StopRequest& stop = on.stop;
  UnitLink& link = on.link;
  port->replies = {"", std::string(38, 'A')};  // nothing to " " and "q", then the record
  link.readBack();
  sleeper.onSleep = [&](int) { stop.request(SIGTERM); };
  EXPECT_THROW(link.settleRecord(), StopRequested);
  link.sendCloseByteAndClose();
  EXPECT_EQ(port->written, " qx!");
}

}  // namespace
}  // namespace ku
