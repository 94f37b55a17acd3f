// Stopping on SIGINT, SIGTERM or SIGHUP: where the stop lands decides what the
// unit gets. A signal is played by setting the stop request as a chosen byte
// goes out on the fake port.
#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <csignal>
#include <numeric>
#include <thread>

#include "expected.h"
#include "fakes.h"
#include "link/stop_request.h"
#include "link/unit_link.h"

namespace ku {
namespace {

using test::FakeSerialPort;
using test::FakeSleeper;

struct StopRig {
  FakeSerialPort* port = new FakeSerialPort;
  FakeSleeper sleeper;
  StopRequest stop;
  UnitLink link{std::unique_ptr<SerialPort>(port), sleeper};
  StopRig() {
    port->portIsOpen = true;
    link.setStopRequest(&stop);
  }
  // The signals come as the n-th byte (from 1) goes out.
  void signalAt(std::size_t n, std::vector<int> signals) {
    port->onByte = [this, n, signals](unsigned char) {
      if (port->written.size() == n)
        for (int s : signals) stop.request(s);
    };
  }
};

struct UploadStop {
  const char* name;
  std::size_t atByte;
  std::vector<int> signals;
  std::size_t bytesSent;  // of the 69-byte pass
};

class StopDuringUpload : public ::testing::TestWithParam<UploadStop> {};

TEST_P(StopDuringUpload, ThePassEndsOnlyAtASlotBoundaryThenTheCloseByte) {
  const UploadStop& c = GetParam();
  StopRig rig;
  rig.signalAt(c.atByte, c.signals);
  const std::string pass = test::defaultUpload(3);
  try {
    rig.link.upload(defaultUploadValues(3));
    FAIL() << "the stop did not end the exchange";
  } catch (const StopRequested& e) {
    EXPECT_EQ(e.signal(), c.signals.front());
    EXPECT_EQ(e.uploadBytesSent(), static_cast<int>(c.bytesSent));
    EXPECT_EQ(e.uploadBytesTotal(), 69);
  }
  rig.link.sendCloseByteAndClose();
  EXPECT_EQ(rig.port->written, pass.substr(0, c.bytesSent) + "!");
  // No pause cut short: a whole pass waits 60 x 20 ms and 4 x 50 ms.
  if (c.bytesSent == 69) {
    EXPECT_EQ(std::accumulate(rig.sleeper.waits.begin(), rig.sleeper.waits.end(), 0), 1400);
  }
}

// Slots 0..3 take 2 bytes each, slot 4 three (command, high, low): 9..11.
// Slots 0..29 end at byte 65; 30..33 are one command byte each.
INSTANTIATE_TEST_SUITE_P(
    Signals, StopDuringUpload,
    ::testing::Values(UploadStop{"sigint_first_byte", 1, {SIGINT}, 69},
                      UploadStop{"sigterm_mid_pass", 35, {SIGTERM}, 69},
                      UploadStop{"sighup_last_byte", 69, {SIGHUP}, 69},
                      UploadStop{"two_sigints_after_first_command", 1, {SIGINT, SIGINT}, 2},
                      UploadStop{"two_sigints_on_wide_command", 9, {SIGINT, SIGINT}, 11},
                      UploadStop{"two_sigints_on_wide_high_byte", 10, {SIGINT, SIGINT}, 11},
                      UploadStop{"two_sigints_on_wide_low_byte", 11, {SIGINT, SIGINT}, 11},
                      UploadStop{"two_sigints_on_a_command_only_slot", 66, {SIGINT, SIGINT}, 66},
                      UploadStop{
                          "sigterm_then_sigint_lets_the_pass_end", 20, {SIGTERM, SIGINT}, 69}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StopOutsideUpload, EndsAtOnceAndTheCloseByteStillWaitsOutTheRecordSecond) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    {
      StopRig rig;  // during the pause after " ": nothing more goes, "!" at once
      rig.signalAt(1, {signal});
      EXPECT_THROW(rig.link.readBack(), StopRequested);
      rig.link.sendCloseByteAndClose();
      EXPECT_EQ(rig.port->written, " !");
      EXPECT_EQ(rig.sleeper.elapsedMs, 0);
    }
    {
      StopRig rig;  // while the record is awaited after "x"
      rig.signalAt(3, {signal});
      EXPECT_THROW(rig.link.readBack(), StopRequested);
      const long long afterX = rig.sleeper.elapsedMs;
      EXPECT_LT(afterX, 2100);  // the 2 s of request pauses, not the record's second
      rig.link.sendCloseByteAndClose();
      EXPECT_EQ(rig.port->written, " qx!");
      EXPECT_GE(rig.sleeper.elapsedMs, 2000 + UnitLink::kRecordSecondMs);
    }
    {
      StopRig rig;  // before an upload's first byte: nothing of it goes
      rig.stop.request(signal);
      EXPECT_THROW(rig.link.upload(defaultUploadValues(0)), StopRequested);
      EXPECT_EQ(rig.port->written, "");
    }
  }
}

TEST(RealSleeper, ASignalEndsOnlyAWaitThatMayStop) {
  installStopHandlers();
  StopRequest& stop = processStopRequest();
  stop.clear();
  const pthread_t self = pthread_self();
  const auto signalSoon = [self] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pthread_kill(self, SIGTERM);
  };
  using Clock = std::chrono::steady_clock;
  RealSleeper sleeper;

  std::thread first(signalSoon);
  auto start = Clock::now();
  EXPECT_FALSE(sleeper.sleepMsUnless(5000, [&] { return stop.pending(); }));
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
  first.join();
  EXPECT_EQ(stop.signal(), SIGTERM);

  std::thread second(signalSoon);
  start = Clock::now();
  EXPECT_TRUE(sleeper.sleepMsUnless(300, [] { return false; }));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
  second.join();
  stop.clear();
}

}  // namespace
}  // namespace ku
