// The wire trace: its lines for a read-back and the close byte on a fake port
// and a virtual clock, failures with their cause, the bytes' notation, and the
// lines kept in memory.
#include <gtest/gtest.h>

#include <algorithm>

#include "fakes.h"
#include "link/unit_link.h"
#include "link/wire_trace.h"
#include "timeline.h"

namespace ku {
namespace {

using test::FakeSerialPort;
using test::FakeSleeper;

struct TracedRig {
  FakeSerialPort* port = new FakeSerialPort;
  FakeSleeper sleeper;
  UnitLink link{std::unique_ptr<SerialPort>(port), sleeper};
  WireTrace trace;
  TracedRig() { link.setTrace(&trace); }
  std::vector<std::string> lines() const { return trace.lines(); }
};

TEST(WireTrace, ReadBackAndCloseByteAreTracedOnTheLinksClock) {
  TracedRig rig;
  rig.sleeper.advance(5000);  // the clock counts from the open, not from its own start
  ASSERT_EQ(rig.link.openDevice("/dev/ttyUSB7").code, 0);
  const std::string record = test::makeRecord(test::distinctValues());
  rig.port->replies = {"?\"", record};
  ASSERT_EQ(rig.link.readBack().code, 0);
  rig.link.sendCloseByteAndClose();

  const std::vector<std::string> lines = rig.lines();
  ASSERT_EQ(lines.size(), 15u);
  const std::vector<std::string> head = {
      "        0 open  -> ?",  // the fake port names no device
      "        0 line not known",   "        0 write 1 20 \" \"",
      "        0 pause 1000 ms",    "  1000000 write 1 71 \"q\"",
      "  1000000 pause 1000 ms",    "  2000000 read 2 3f 22 \"?\\x22\"",
      "  2000000 write 1 78 \"x\"", "  2000000 await record, at most 1000 ms",
  };
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 9), head);
  // The record on two lines of at most 32 bytes, as it came.
  std::string read;
  for (int i : {9, 10}) {
    TraceLine t;
    ASSERT_TRUE(parseTraceLine(lines[i], t)) << lines[i];
    EXPECT_EQ(t.micros, 2010000);
    EXPECT_EQ(t.event, "read");
    read += t.bytes;
  }
  EXPECT_EQ(read, record);
  EXPECT_EQ(lines[11].rfind("  2010000 record 38 characters, 32 of 32 slots: 0=", 0), 0u)
      << lines[11];
  EXPECT_EQ(lines[12], "  2010000 hold 990 ms");
  EXPECT_EQ(lines[13], "  3000000 write 1 21 \"!\"");
  EXPECT_EQ(lines[14], "  3000000 close");
  EXPECT_EQ(rig.trace.lastReply(), record);
}

TEST(WireTrace, ASilentUnitsSecondIsOneLineNotAHundredLooks) {
  TracedRig rig;
  ASSERT_EQ(rig.link.openDevice("/dev/ttyUSB7").code, 0);
  rig.port->replies = {};
  EXPECT_NE(rig.link.readBack().code, 0);
  const std::vector<std::string> lines = rig.lines();
  // open, line, " ", pause, "q", pause, "x", await, then the record line and
  // the read-back's failure: the polls every 10 ms leave no line of their own.
  EXPECT_LE(lines.size(), 11u);
  EXPECT_EQ(lines[7], "  2000000 await record, at most 1000 ms");
}

TEST(WireTrace, FailuresNameWhatFailedAndWhy) {
  TracedRig rig;
  rig.port->portIsOpen = false;
  rig.port->failures["Open"] = 8005;
  EXPECT_EQ(rig.link.openDevice("/dev/ttyUSB7").code, 8005);
  rig.port->failures.clear();
  ASSERT_EQ(rig.link.openDevice("/dev/ttyUSB7").code, 0);
  rig.port->failures["Write"] = 57;
  rig.port->replies = {"", "short"};
  EXPECT_NE(rig.link.readBack().code, 0);

  const std::vector<std::string> lines = rig.lines();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[0], "        0 fail open /dev/ttyUSB7: error 8005: Open failed");
  EXPECT_EQ(lines[3], "        0 fail write 1 20 \" \": Write failed");
  std::vector<std::string> events;  // without their times
  for (const std::string& line : lines) {
    TraceLine t;
    if (parseTraceLine(line, t)) events.push_back(t.event + " " + t.details);
  }
  EXPECT_NE(std::find(events.begin(), events.end(), "record 0 characters, 0 of 32 slots"),
            events.end());
  EXPECT_EQ(events.back().rfind("fail read-back: error 5: ", 0), 0u) << events.back();
}

TEST(WireTrace, BytesShowTheirCountHexAndTextAndReadBackFromALine) {
  const std::string bytes("q\r\n\"\\\x80", 6);
  const std::string shown = tracedBytes(bytes);
  EXPECT_EQ(shown, "6 71 0d 0a 22 5c 80 \"q\\r\\n\\x22\\x5C\\x80\"");
  TraceLine t;
  ASSERT_TRUE(parseTraceLine("  1234567 read " + shown, t));
  EXPECT_EQ(t.micros, 1234567);
  EXPECT_EQ(t.bytes, bytes);
  for (const char* notAnEvent : {"", "# a comment", "write 1 20", "  12 write 2 20 \" \""})
    EXPECT_FALSE(parseTraceLine(notAnEvent, t)) << notAnEvent;
}

TEST(WireTrace, KeepsOnlyTheLatestLinesInMemory) {
  WireTrace trace;
  const std::size_t total = WireTrace::kKeptLines + 50;
  for (std::size_t i = 0; i < total; ++i) trace.comment(std::to_string(i));
  const std::vector<std::string> kept = trace.lines();
  ASSERT_EQ(kept.size(), WireTrace::kKeptLines);
  EXPECT_EQ(kept.front(), "# 50");
  EXPECT_EQ(kept.back(), "# " + std::to_string(total - 1));
}

}  // namespace
}  // namespace ku
