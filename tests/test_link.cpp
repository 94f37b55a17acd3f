// The unit's protocol and UnitLink against the fakes: the port set-up, the close
// byte, the record decoding, the read-back exchange and the upload pass, each
// checked as one timeline of bytes and pauses against literal bytes.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "expected.h"
#include "fakes.h"
#include "link/protocol.h"
#include "link/unit_link.h"
#include "model/errors.h"
#include "model/slot_table.h"
#include "timeline.h"

namespace ku {
namespace {

using test::commandOnly;
using test::defaultPass;
using test::distinctValues;
using test::EventLog;
using test::Events;
using test::exchangeTimeline;
using test::FakeSerialPort;
using test::FakeSleeper;
using test::makeRecord;
using test::out;
using test::sleep;
using test::TempDir;

// A UnitLink on a fake port and sleeper that share one timeline.
struct Rig {
  EventLog log;
  FakeSerialPort* port;
  FakeSleeper sleeper{&log};
  UnitLink link;
  explicit Rig(bool open = true)
      : port(new FakeSerialPort(&log)), link(std::unique_ptr<SerialPort>(port), sleeper) {
    port->portIsOpen = open;
  }
};

// ---------------------------------------------------------------------------
// Pause and the real sleeper

TEST(Pause, WaitsTenTimesNAndOverflowsPast3276) {
  struct Case {
    std::int16_t n;
    int code;
    std::vector<int> waits;
  };
  const Case cases[] = {
      {100, 0, {1000}},
      {2, 0, {20}},
      {5, 0, {50}},
      {3276, 0, {32760}},
      {0, 0, {}},
      {-5, 0, {}},
      {-3276, 0, {}},
      {3277, kOverflow, {}},
      {32767, kOverflow, {}},
      {-3277, kOverflow, {}},
      {-32768, kOverflow, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    FakeSleeper sleeper;
    int code = 0;
    try {
      pauseHundredths(sleeper, c.n);
    } catch (const KuError& e) {
      code = e.code();
    }
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(sleeper.waits, c.waits);
  }
}

TEST(RealSleeper, NeverReturnsEarly) {
  using Clock = std::chrono::steady_clock;
  RealSleeper sleeper;
  for (int ms : {1, 7, 30}) {
    const auto start = Clock::now();
    sleeper.sleepMs(ms);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(ms));
  }
}

// ---------------------------------------------------------------------------
// The port set-up and the close byte

struct OpenCase {
  const char* name;
  bool haveFile;
  std::string content;
  int failOpenWith;  // 0: the open succeeds
  int code;
  bool opened;     // whether the port was asked to open
  int portNumber;  // the number it was asked to open
};

TEST(UnitLinkOpen, CodesAndWhatIsOpened) {
  const int kNoDevice = kInvalidPortNumber;
  // clang-format off
  const OpenCase cases[] = {
      {"clean", true, "COM,2\r\n", 0, 0, true, 2},
      {"missing comms.ini: 53, then port 0 refused: 8002", false, "", 0, kInvalidPortNumber, false, 0},
      {"single item", true, "4\n", 0, kInvalidPortNumber, false, 0},
      {"port 0", true, "p,0\n", 0, kInvalidPortNumber, false, 0},
      {"no such port", true, "p,17\n", 0, kInvalidPortNumber, true, 0},
      {"open finds no device", true, "p,3\n", kNoDevice, kInvalidPortNumber, true, 0},
      {"port held elsewhere", true, "p,3\n", kPortAlreadyOpen, kPortAlreadyOpen, true, 0},
      // A port number that does not read as one names no port.
      {"text port", true, "p,abc\n", 0, kInvalidPortNumber, false, 0},
      {"port over 32767", true, "p,40000\n", 0, kInvalidPortNumber, false, 0},
      {"binary bytes and NULs", true, std::string("Port,\x01\xff\x00\x00" "7\n", 12), 0, kInvalidPortNumber, false, 0},
      {"one item of 100 kB", true, "Port," + std::string(100000, '7') + "x\n", 0, kInvalidPortNumber, false, 0},
      {"odd count after a good pair: the port opens, 62 stays", true, "p,3\nq\n", 0, kInputPastEnd, true, 3},
      {"half rounds to even", true, "p,2.5\n", 0, 0, true, 2},
  };
  // clang-format on
  for (const OpenCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    if (c.haveFile) dir.writeCommsIni(c.content);
    Rig rig(false);
    if (c.failOpenWith) rig.port->failures["Open"] = c.failOpenWith;
    LinkState state;

    const LinkOutcome r = rig.link.openPort(dir.commsIni(), state, std::nullopt);

    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.text.empty(), c.code == 0);
    EXPECT_EQ(rig.port->calls, c.opened ? Events{"Open"} : Events{});
    EXPECT_EQ(rig.port->isOpen(), c.code == 0 || c.code == kInputPastEnd);
    EXPECT_EQ(rig.port->portNumber, c.portNumber);
    EXPECT_EQ(rig.port->written, "");
  }
}

TEST(UnitLinkOpen, TheUnitsLineSettings) {
  TempDir dir;
  dir.writeCommsIni("COM,1\n");
  Rig rig(false);
  LinkState state;
  ASSERT_EQ(rig.link.openPort(dir.commsIni(), state).code, 0);
  ASSERT_TRUE(rig.port->settings.has_value());
  const LineSettings& s = *rig.port->settings;
  EXPECT_EQ(s.baudRate, 4800);
  EXPECT_EQ(s.dataBits, 8);
  EXPECT_EQ(s.parity, LineSettings::Parity::None);
  EXPECT_EQ(s.stopBits, 1);
  EXPECT_EQ(s.flowControl, LineSettings::FlowControl::None);
  EXPECT_TRUE(s.requestToSend);
}

TEST(UnitLinkOpen, AnOverrideOrADeviceStandsInForCommsIni) {
  TempDir dir;  // no comms.ini at all
  {
    Rig rig(false);
    LinkState state;
    EXPECT_EQ(rig.link.openPort(dir.commsIni(), state, std::int16_t{5}).code, 0);
    EXPECT_EQ(rig.port->portNumber, 5);
    EXPECT_EQ(std::get<double>(state.portNumber), 5.0);
  }
  {
    Rig rig(false);
    EXPECT_EQ(rig.link.openDevice("/dev/ttyUSB7").code, 0);
    EXPECT_EQ(rig.port->devicePath, "/dev/ttyUSB7");
    EXPECT_TRUE(rig.port->isOpen());
  }
  {
    Rig rig(false);
    rig.port->failures["Open"] = kPortAlreadyOpen;
    const LinkOutcome r = rig.link.openDevice("/dev/ttyUSB7");
    EXPECT_EQ(r.code, kPortAlreadyOpen);
    EXPECT_FALSE(r.text.empty());
  }
}

TEST(UnitLinkOpen, AnOpenPortIsNotOpenedAgain) {
  TempDir dir;
  dir.writeCommsIni("COM,2\n");
  Rig rig(true);
  LinkState state;
  EXPECT_EQ(rig.link.openPort(dir.commsIni(), state).code, 0);
  EXPECT_EQ(rig.port->openCalls, 0);
}

// A line lost during an exchange: the port is closed after it without the
// close byte, and opened again the way it was opened before the next one.
struct LostLineCase {
  const char* name;
  const char* failing;  // the port operation that fails during the read-back
  int code;             // with this code
  bool lost;            // whether that loses the line
};

class UnitLinkLostLine : public ::testing::TestWithParam<LostLineCase> {};

TEST_P(UnitLinkLostLine, ClosedAfterTheExchangeAndOpenedAgainBeforeTheNext) {
  const LostLineCase& c = GetParam();
  TempDir dir;
  dir.writeCommsIni("COM,3\n");
  Rig rig(false);
  LinkState state;
  ASSERT_EQ(rig.link.openPort(dir.commsIni(), state).code, 0);
  EXPECT_FALSE(rig.link.lineLost());

  rig.port->failures[c.failing] = c.code;
  rig.link.readBack();
  EXPECT_EQ(rig.link.lineLost(), c.lost);
  rig.port->failures.clear();
  rig.link.closeLostLine();
  EXPECT_EQ(rig.port->closeCalls, c.lost ? 1 : 0);
  EXPECT_EQ(rig.port->isOpen(), !c.lost);

  rig.port->calls.clear();
  EXPECT_EQ(rig.link.reopenLostLine().code, 0);
  // The same port number as comms.ini gave, and nothing written by the open.
  EXPECT_EQ(rig.port->calls, c.lost ? Events{"Open"} : Events{});
  EXPECT_EQ(rig.port->openCalls, c.lost ? 2 : 1);
  EXPECT_EQ(rig.port->portNumber, 3);
  EXPECT_FALSE(rig.link.lineLost());
  EXPECT_TRUE(rig.port->isOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Failures, UnitLinkLostLine,
    ::testing::Values(LostLineCase{"write", "Write", kDeviceIo, true},
                      LostLineCase{"read", "Read", kDeviceIo, true},
                      LostLineCase{"closedPort", "Write", kPortNotOpen, false}),
    [](const ::testing::TestParamInfo<LostLineCase>& info) { return info.param.name; });

TEST(UnitLinkReopen, ADeviceThatIsStillGoneStaysLostUntilItOpens) {
  Rig rig(false);
  ASSERT_EQ(rig.link.openDevice("/dev/serial/by-id/usb-adapter").code, 0);
  rig.port->failures["Write"] = kDeviceIo;
  rig.link.upload(UploadValues{});
  rig.port->failures.clear();
  ASSERT_TRUE(rig.link.lineLost());
  rig.link.closeLostLine();
  EXPECT_EQ(rig.port->written, "");

  rig.port->failures["Open"] = kInvalidPortNumber;
  const LinkOutcome failed = rig.link.reopenLostLine();
  EXPECT_EQ(failed.code, kInvalidPortNumber);
  EXPECT_TRUE(rig.link.lineLost());
  EXPECT_FALSE(rig.port->isOpen());

  rig.port->failures.clear();
  rig.port->devicePath.clear();
  EXPECT_EQ(rig.link.reopenLostLine().code, 0);
  EXPECT_EQ(rig.port->devicePath, "/dev/serial/by-id/usb-adapter");
  EXPECT_FALSE(rig.link.lineLost());
}

TEST(UnitLinkReopen, APortSetUpAnewForgetsTheLineBefore) {
  TempDir dir;
  dir.writeCommsIni("COM,3\n");
  Rig rig(false);
  ASSERT_EQ(rig.link.openDevice("/dev/ttyUSB0").code, 0);
  rig.port->failures["Write"] = kDeviceIo;
  rig.link.sendCloseByteAndClose();
  ASSERT_TRUE(rig.link.lineLost());
  rig.port->failures["Open"] = kPortAlreadyOpen;
  LinkState state;
  ASSERT_EQ(rig.link.openPort(dir.commsIni(), state).code, kPortAlreadyOpen);
  // The port before is not opened again in place of the one that failed.
  EXPECT_FALSE(rig.link.lineLost());
  rig.port->failures.clear();
  rig.port->calls.clear();
  EXPECT_EQ(rig.link.reopenLostLine().code, 0);
  EXPECT_EQ(rig.port->calls, Events{});
}

TEST(UnitLinkClose, SendsTheCloseByteThenClosesAndNeverThrows) {
  {
    Rig rig;
    rig.link.sendCloseByteAndClose();
    EXPECT_EQ(rig.log.events, (Events{out(0x21), "close"}));
  }
  {
    Rig rig;
    rig.port->failures["Write"] = kDeviceIo;
    EXPECT_NO_THROW(rig.link.sendCloseByteAndClose());
    EXPECT_FALSE(rig.port->isOpen());
    rig.port->failures["Close"] = kDeviceIo;
    rig.port->portIsOpen = true;
    EXPECT_NO_THROW(rig.link.sendCloseByteAndClose());
  }
  {
    Rig rig(false);  // never opened: the byte cannot go, nothing is closed
    EXPECT_NO_THROW(rig.link.sendCloseByteAndClose());
    EXPECT_EQ(rig.port->written, "");
    EXPECT_EQ(rig.port->closeCalls, 0);
  }
}

// ---------------------------------------------------------------------------
// The record

TEST(DecodeRecord, EachSlotFromItsPlace) {
  const std::array<int, 32> values = distinctValues();
  SlotValueArray slots{};
  EXPECT_EQ(decodeRecord(makeRecord(values), slots), 0);
  for (int s = 0; s < 32; ++s) {
    SCOPED_TRACE(s);
    ASSERT_TRUE(slots[s].has_value());
    EXPECT_EQ(*slots[s], values[s]);
  }
  for (int s = 32; s < 36; ++s) EXPECT_FALSE(slots[s].has_value());
}

TEST(DecodeRecord, FailuresKeepEarlierValues) {
  struct Case {
    const char* name;
    std::string reply;
    int code;
    std::vector<int> unchanged;  // slots that keep their earlier 7
    std::vector<std::pair<int, int>> values;
  };
  std::string full = makeRecord(distinctValues());
  std::string high5 = full;
  high5[4] = static_cast<char>(0x80);
  std::string high37 = full;
  high37[36] = static_cast<char>(0xFF);
  std::string explicitPairs = full;
  explicitPairs[4] = 0x12;
  explicitPairs[5] = 0x34;
  explicitPairs[35] = 0x34;
  explicitPairs[36] = 0x12;
  std::vector<int> all;
  for (int s = 0; s < 32; ++s) all.push_back(s);

  const Case cases[] = {
      {"37 characters", full.substr(0, 37), kInvalidArgument, {31}, {{30, 0x3412}}},
      {"36 characters: pair 30 needs both",
       full.substr(0, 36),
       kInvalidArgument,
       {30, 31},
       {{29, 0xFF}}},
      {"5 characters: pair 4 needs both",
       full.substr(0, 5),
       kInvalidArgument,
       {4, 5, 6, 30, 31},
       {{3, 110}}},
      {"empty", "", kInvalidArgument, all, {}},
      {"high byte 128 at position 5", high5, kOverflow, {4}, {{5, 0x0266}, {31, 255}}},
      {"high byte 255 at position 37", high37, kOverflow, {30}, {{31, 255}}},
      {"pairs 0x12 0x34 and 0x34 0x12", explicitPairs, 0, {}, {{4, 4660}, {30, 4660}}},
      {"characters after 38 ignored", full + "garbage\xff", 0, {}, {{31, 255}, {0, 3}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SlotValueArray slots{};
    for (auto& s : slots) s = 7;
    EXPECT_EQ(decodeRecord(c.reply, slots), c.code);
    for (int s : c.unchanged) EXPECT_EQ(slots[s], SlotValue(7)) << "slot " << s;
    for (auto [s, v] : c.values) EXPECT_EQ(slots[s], SlotValue(v)) << "slot " << s;
  }
}

TEST(CurrentValueCaption, ChannelShownPlusOne) {
  EXPECT_EQ(currentValueCaption(0, std::nullopt), "");  // not reported: no channel either
  EXPECT_EQ(currentValueCaption(0, SlotValue(0)), "1");
  EXPECT_EQ(currentValueCaption(0, SlotValue(3)), "4");
  EXPECT_EQ(currentValueCaption(1, std::nullopt), "");
  EXPECT_EQ(currentValueCaption(4, SlotValue(32767)), "32767");
  EXPECT_EQ(currentValueCaption(31, SlotValue(-5)), "-5");
  EXPECT_THROW(currentValueCaption(0, SlotValue(32767)), KuError);
}

// ---------------------------------------------------------------------------
// The read-back exchange

TEST(UnitLinkReadBack, CompleteRecordTimelineAndPhases) {
  Rig rig;
  std::vector<ReadBackPhase> phases;
  ExchangeObserver watch;
  watch.readBackPhase = [&](ReadBackPhase p) {
    phases.push_back(p);
    rig.log.add("phase");
  };
  rig.link.setObserver(watch);
  const std::array<int, 32> values = distinctValues();
  rig.port->replies = {makeRecord(values), makeRecord(values) + "tail"};

  const ReadBackOutcome r = rig.link.readBack();

  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(rig.log.events,
            (Events{out(0x20), "phase", sleep(1000), out(0x71), "phase", sleep(1000), "in",
                    out(0x78), "phase", sleep(10), "in", "phase"}));
  EXPECT_EQ(phases,
            (std::vector<ReadBackPhase>{ReadBackPhase::FirstRequest, ReadBackPhase::SecondRequest,
                                        ReadBackPhase::RecordRequest, ReadBackPhase::Done}));
  EXPECT_EQ(rig.port->written, " qx");
  EXPECT_EQ(r.slotsRead(), 32);
  for (int i = 0; i < 32; ++i)
    EXPECT_EQ(r.values[static_cast<std::size_t>(i)], SlotValue(values[i])) << i;
}

TEST(UnitLinkReadBack, AnswersBeforeXNeverReachTheDecoding) {
  Rig rig;
  std::array<int, 32> other{};
  other.fill(200);
  other[4] = other[5] = other[27] = other[28] = other[29] = other[30] = 1000;
  // A full record answers " " and "q"; nothing answers "x".
  rig.port->replies = {makeRecord(other)};
  const ReadBackOutcome r = rig.link.readBack();
  EXPECT_EQ(r.code, kInvalidArgument);
  EXPECT_EQ(r.slotsRead(), 0);
}

TEST(UnitLinkReadBack, ShortMissingOrUnreadableReplies) {
  struct Case {
    const char* name;
    bool open;
    int failReadWith;
    std::string reply;
    int code;
    int slotsRead;
    Events timeline;
  };
  const std::string full = makeRecord(distinctValues());
  std::string high5 = full;
  high5[4] = static_cast<char>(128);
  // Too little: looked for every 10 ms for the whole second. A failed read ends
  // the wait at once.
  const Events wholeSecond = exchangeTimeline(test::kWholeSecondLooks);
  const Case cases[] = {
      {"37 characters", true, 0, full.substr(0, 37), kInvalidArgument, 31, wholeSecond},
      {"no answer", true, 0, "", kInvalidArgument, 0, wholeSecond},
      {"port not open", false, 0, full, kInvalidArgument, 0, {sleep(1000), sleep(1000), sleep(10)}},
      {"reads fail",
       true,
       kDeviceIo,
       full,
       kInvalidArgument,
       0,
       {out(0x20), sleep(1000), out(0x71), sleep(1000), out(0x78), sleep(10)}},
      {"high byte in a complete record", true, 0, high5, kOverflow, 31, exchangeTimeline()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(c.open);
    if (c.failReadWith) rig.port->failures["Read"] = c.failReadWith;
    rig.port->replies = {"", c.reply};
    const ReadBackOutcome r = rig.link.readBack();
    EXPECT_EQ(r.code, c.code);
    EXPECT_FALSE(r.text.empty());
    EXPECT_EQ(r.slotsRead(), c.slotsRead);
    EXPECT_EQ(rig.log.events, c.timeline);
  }
}

// ---------------------------------------------------------------------------
// The record as soon as it is in, and the unit's second after "x" kept

// A port whose write of one given byte fails.
class FlakyPort : public FakeSerialPort {
 public:
  using FakeSerialPort::FakeSerialPort;
  int failingByte = -1;
  void write(const std::string& bytes) override {
    if (bytes.size() == 1 && static_cast<unsigned char>(bytes[0]) == failingByte)
      throw KuError(kDeviceIo, "write failed");
    FakeSerialPort::write(bytes);
  }
};

// The unit behind the fake port on the virtual clock: it notes when each byte
// reached it, and answers "x" in pieces, each arriving at its time after "x".
struct TimedUnit {
  Rig& rig;
  std::deque<std::pair<int, std::string>> answer;  // ms after "x", characters
  std::deque<std::pair<int, std::string>> pending;
  long long xAt = -1;
  std::vector<std::pair<char, long long>> received;  // byte, ms on the clock

  TimedUnit(Rig& r, std::deque<std::pair<int, std::string>> pieces)
      : rig(r), answer(std::move(pieces)) {
    rig.port->onByte = [this](unsigned char c) {
      received.emplace_back(static_cast<char>(c), rig.sleeper.elapsedMs);
      if (c == 'x') {
        xAt = rig.sleeper.elapsedMs;
        pending = answer;
      }
    };
    rig.sleeper.onSleep = [this](int) {
      while (xAt >= 0 && !pending.empty() && rig.sleeper.elapsedMs - xAt >= pending.front().first) {
        rig.port->arriving += pending.front().second;
        pending.pop_front();
      }
    };
  }
  // The waits after "x" until the read-back returned, in ms.
  int waitedAfterX() const {
    int total = 0;
    bool afterX = false;
    for (const std::string& e : rig.log.events) {
      if (e == out(0x78)) afterX = true;
      if (afterX && e.rfind("sleep:", 0) == 0) total += std::stoi(e.substr(6));
    }
    return total;
  }
};

TEST(RecordSooner, ReadWhenTheThirtyEighthCharacterArrivesThenTheUploadWaitsOutTheSecond) {
  Rig rig;
  const std::string record = makeRecord(distinctValues());
  // 20 characters 40 ms after "x", the other 18 at 80 ms (4800 baud's pace).
  TimedUnit unit(rig, {{40, record.substr(0, 20)}, {80, record.substr(20)}});

  const ReadBackOutcome r = rig.link.readBack();
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.slotsRead(), 32);
  for (int i = 0; i < 32; ++i)
    EXPECT_EQ(r.values[static_cast<std::size_t>(i)], SlotValue(distinctValues()[i])) << i;
  Events expected = {out(0x20), sleep(1000), out(0x71), sleep(1000), "in", out(0x78)};
  for (int look = 0; look < 8; ++look) expected.insert(expected.end(), {sleep(10), "in"});
  EXPECT_EQ(rig.log.events, expected);
  EXPECT_EQ(unit.waitedAfterX(), 80);
  EXPECT_EQ(rig.sleeper.elapsedMs, 2080);

  // An upload at once: its first byte waits until 1 s after "x", then paces as always.
  rig.log.events.clear();
  EXPECT_EQ(rig.link.upload(defaultUploadValues(3)).code, 0);
  Events upload = {sleep(920)};
  const Events pass = defaultPass(3);
  upload.insert(upload.end(), pass.begin(), pass.end());
  EXPECT_EQ(rig.log.events, upload);
  ASSERT_EQ(unit.received.size(), 3u + 69u);
  EXPECT_EQ(unit.received[2], std::make_pair('x', 2000LL));
  EXPECT_EQ(unit.received[3], std::make_pair('\x72', 3000LL));
  EXPECT_EQ(unit.received[4], std::make_pair('\x03', 3020LL));
}

TEST(RecordSooner, AShortRecordIsLookedForUntilTheSecondIsOverAndGivesCode5) {
  Rig rig;
  const std::string record = makeRecord(distinctValues());
  TimedUnit unit(rig, {{40, record.substr(0, 37)}});
  const ReadBackOutcome r = rig.link.readBack();
  EXPECT_EQ(r.code, kInvalidArgument);
  EXPECT_EQ(r.slotsRead(), 31);
  EXPECT_FALSE(r.values[31].has_value());
  EXPECT_EQ(rig.log.events, exchangeTimeline(test::kWholeSecondLooks));
  EXPECT_EQ(unit.waitedAfterX(), 1000);
  // The second is over: the next byte goes at once.
  rig.log.events.clear();
  rig.link.sendCloseByteAndClose();
  EXPECT_EQ(rig.log.events, (Events{out(0x21), "close"}));
  EXPECT_EQ(unit.received.back(), std::make_pair('!', 3000LL));
}

TEST(RecordSooner, MoreThan38CharactersDecodeAsTheFirst38) {
  const std::string record = makeRecord(distinctValues());
  std::array<int, 32> other{};
  other.fill(9);
  const std::string noise = makeRecord(other) + std::string(200, '\xC8');
  // Whether the noise after the record comes with it or later, at what look,
  // the slots are those of the first 38 characters.
  const std::deque<std::pair<int, std::string>> answers[] = {
      {{10, record + noise}},
      {{30, record.substr(0, 30)}, {60, record.substr(30) + noise}},
      {{10, record.substr(0, 37)}, {20, record.substr(37)}, {30, noise}},
  };
  for (const auto& answer : answers) {
    Rig rig;
    TimedUnit unit(rig, answer);
    const ReadBackOutcome r = rig.link.readBack();
    EXPECT_EQ(r.code, 0);
    for (int i = 0; i < 32; ++i)
      EXPECT_EQ(r.values[static_cast<std::size_t>(i)], SlotValue(distinctValues()[i])) << i;
  }
}

TEST(RecordSooner, EveryByteAfterXWaitsOutItsSecondUnlessItIsOver) {
  const std::string record = makeRecord(distinctValues());
  {
    SCOPED_TRACE("a read-back right after a read-back");
    Rig rig;
    TimedUnit unit(rig, {{10, record}});
    rig.link.readBack();
    rig.link.readBack();
    ASSERT_EQ(unit.received.size(), 6u);
    EXPECT_EQ(unit.received[2], std::make_pair('x', 2000LL));
    EXPECT_EQ(unit.received[3], std::make_pair(' ', 3000LL));
    EXPECT_EQ(unit.received[5], std::make_pair('x', 5000LL));
  }
  {
    SCOPED_TRACE("the close byte right after a read-back");
    Rig rig;
    TimedUnit unit(rig, {{30, record}});
    rig.link.readBack();
    rig.log.events.clear();
    rig.link.sendCloseByteAndClose();
    EXPECT_EQ(rig.log.events, (Events{sleep(970), out(0x21), "close"}));
    EXPECT_EQ(unit.received.back(), std::make_pair('!', 3000LL));
  }
  // Time that passed outside the link (the operator's) counts: after 600 ms
  // the upload waits 390 more, after 1200 ms none.
  for (const auto& [passed, held] : {std::pair{1200, 0}, std::pair{600, 390}}) {
    SCOPED_TRACE(std::to_string(passed) + " ms passed outside the link");
    Rig rig;
    TimedUnit unit(rig, {{10, record}});
    rig.link.readBack();
    rig.sleeper.advance(passed);
    rig.log.events.clear();
    rig.link.upload(defaultUploadValues(3));
    Events upload = held ? Events{sleep(held)} : Events{};
    const Events pass = defaultPass(3);
    upload.insert(upload.end(), pass.begin(), pass.end());
    EXPECT_EQ(rig.log.events, upload);
    rig.log.events.clear();
    rig.link.sendCloseByteAndClose();  // no "x" since the upload
    EXPECT_EQ(rig.log.events, (Events{out(0x21), "close"}));
  }
}

TEST(RecordSooner, AFailedReadOrWriteOfX) {
  const std::string record = makeRecord(distinctValues());
  {
    SCOPED_TRACE("the reads fail after part of the record: nothing is decoded, as before");
    Rig rig;
    TimedUnit unit(rig, {{10, record.substr(0, 20)}});
    rig.sleeper.onSleep = [&, inner = rig.sleeper.onSleep](int ms) {
      inner(ms);
      if (unit.xAt >= 0 && rig.sleeper.elapsedMs - unit.xAt >= 20)
        rig.port->failures["Read"] = kDeviceIo;
    };
    const ReadBackOutcome r = rig.link.readBack();
    EXPECT_EQ(r.code, kInvalidArgument);
    EXPECT_EQ(r.slotsRead(), 0);
    EXPECT_EQ(unit.waitedAfterX(), 20);
    // The unit still has its second.
    rig.port->failures.clear();
    rig.log.events.clear();
    rig.link.sendCloseByteAndClose();
    EXPECT_EQ(rig.log.events, (Events{sleep(980), out(0x21), "close"}));
  }
  {
    SCOPED_TRACE("the write of x fails: it may have left, so the next byte waits as well");
    EventLog log;
    auto* port = new FlakyPort(&log);
    port->portIsOpen = true;
    port->failingByte = 'x';
    port->failures["Read"] = kDeviceIo;  // ends the wait for the record at the first look
    FakeSleeper sleeper(&log);
    UnitLink link(std::unique_ptr<SerialPort>(port), sleeper);
    EXPECT_EQ(link.readBack().code, kInvalidArgument);
    EXPECT_EQ(sleeper.elapsedMs, 2010);
    port->failures.clear();
    log.events.clear();
    link.sendCloseByteAndClose();
    EXPECT_EQ(log.events, (Events{sleep(990), out(0x21), "close"}));
    EXPECT_EQ(port->written, " q!");
  }
}

// ---------------------------------------------------------------------------
// The upload

TEST(UploadFrame, DefaultsWithTheChannelByteForByte) {
  const UploadFrame frame = buildUploadFrame(defaultUploadValues(3));
  EXPECT_EQ(frameBytes(frame), test::defaultUpload(3));
  int pauses = 0, total = 0;
  for (const FrameStep& step : frame) {
    if (step.kind == FrameStep::Kind::Pause) {
      ++pauses;
      total += step.hundredths * 10;
    }
  }
  EXPECT_EQ(pauses, 64);
  EXPECT_EQ(total, 1400);  // 30 value slots at 40 ms, 4 command-only slots at 50 ms
}

TEST(UploadFrame, UnsetValuesGoOutAsZero) {
  const std::string expected(
      "\x72\x00\x74\x00\x76\x00\x40\x00\x41\x00\x00\x42\x00\x00\x43\x00\x44\x00\x45\x00"
      "\x46\x00\x47\x00\x48\x00\x50\x00\x51\x00\x52\x00\x53\x00\x54\x00\x55\x00\x60\x00"
      "\x61\x00\x62\x00\x63\x00\x64\x00\x65\x00\x66\x00\x67\x00\x68\x00\x27\x00\x00\x28"
      "\x00\x00\x29\x00\x00\x4F\x5F\x0B\x70",
      69);
  EXPECT_EQ(frameBytes(buildUploadFrame(UploadValues{})), expected);
}

TEST(UploadFrame, SixteenBitValuesAndTheirRefusals) {
  struct Case {
    std::int16_t v;
    std::string bytes;  // what goes out for slot 4's value
    bool refused;
  };
  const Case cases[] = {
      {32000, std::string("\x7D\x00", 2), false},
      {799, "\x03\x1F", false},
      {256, std::string("\x01\x00", 2), false},
      {255, std::string("\x00\xFF", 2), false},
      {0, std::string("\x00\x00", 2), false},
      {32767, "\x7F\xFF", false},
      {4660, "\x12\x34", false},
      {-1, std::string(1, '\0'), true},
      {-255, std::string(1, '\0'), true},
      {-256, "", true},
      {-4096, "", true},
      {-32768, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.v);
    UploadValues values{};
    values[4] = c.v;
    const UploadFrame frame = buildUploadFrame(values);
    // Slots 0..3 take four steps each; slot 4: command, pause, value, pause.
    const FrameStep& value = frame.at(18);
    EXPECT_EQ(value.bytes, c.bytes);
    EXPECT_EQ(value.refusedCode, c.refused ? kInvalidArgument : kNoError);
    EXPECT_EQ(frame.at(16).bytes, "\x41");
  }
}

TEST(UnitLinkUpload, TheDefaultPassOnTheLineWithProgress) {
  Rig rig;
  std::vector<int> sent;
  ExchangeObserver watch;
  watch.uploadProgress = [&](int n, int total) {
    EXPECT_EQ(total, 69);
    sent.push_back(n);
  };
  rig.link.setObserver(watch);
  EXPECT_EQ(rig.link.upload(defaultUploadValues(3)).code, 0);
  EXPECT_EQ(rig.log.events, defaultPass(3));
  ASSERT_EQ(sent.size(), 69u);
  EXPECT_EQ(sent.front(), 1);
  EXPECT_EQ(sent.back(), 69);
}

TEST(UnitLinkUpload, OutOfRangeValueSkipsItsByteAndEndsOnCode5) {
  Rig rig;
  UploadValues values{};
  values[1] = 300;
  const LinkOutcome r = rig.link.upload(values);
  EXPECT_EQ(r.code, kInvalidArgument);
  EXPECT_EQ(r.text, "Invalid procedure call or argument: byte value 300 outside 0..255");
  const Events& e = rig.log.events;
  // Slot 0: 72 20 00 20; slot 1: 74, 20 ms, no value, 20 ms; then slot 2.
  const Events head = {out(0x72), sleep(20), out(0x00), sleep(20),
                       out(0x74), sleep(20), sleep(20), out(0x76)};
  ASSERT_GE(e.size(), head.size());
  EXPECT_EQ(Events(e.begin(), e.begin() + static_cast<long>(head.size())), head);
  EXPECT_EQ(rig.port->written.size(), 68u);
}

TEST(UnitLinkUpload, NegativeWideValues) {
  struct Case {
    std::int16_t v;
    std::string slot4Bytes;
  };
  for (const Case& c : {Case{-1, std::string(1, '\0')}, Case{-300, ""}}) {
    Rig rig;
    UploadValues values{};
    values[4] = c.v;
    EXPECT_EQ(rig.link.upload(values).code, kInvalidArgument);
    // 0x72 00 0x74 00 0x76 00 0x40 00 0x41 <slot 4's bytes> 0x42 ...
    EXPECT_EQ(rig.port->written.substr(0, 9), std::string("\x72\0\x74\0\x76\0\x40\0\x41", 9));
    EXPECT_EQ(rig.port->written.substr(9, c.slot4Bytes.size() + 1), c.slot4Bytes + "\x42");
  }
}

// A failed write ends the pass: no later byte goes out on a line that failed, and
// the outcome says how far the pass got and in which slot.
TEST(UnitLinkUpload, APortFailureEndsThePassAndReplacesTheValueError) {
  EventLog log;
  auto* port = new FlakyPort(&log);
  port->portIsOpen = true;
  port->failingByte = 0x0B;  // slot 32's command byte
  FakeSleeper sleeper(&log);
  UnitLink link(std::unique_ptr<SerialPort>(port), sleeper);
  UploadValues values{};
  values[2] = 256;
  const UploadPassOutcome r = link.upload(values);
  EXPECT_EQ(r.code, kDeviceIo);
  // Slot 31's command byte and its pause are the last; slot 33's never goes.
  const Events tail = {sleep(20), out(0x4F), sleep(50), out(0x5F), sleep(50)};
  EXPECT_EQ(Events(log.events.end() - 5, log.events.end()), tail);
  ASSERT_TRUE(r.broke.has_value());
  // Of the pass's 68 bytes (slot 2's refused value is none of them), all before 0x0B.
  EXPECT_EQ(r.broke->sent, 66);
  EXPECT_EQ(r.broke->total, 68);
  EXPECT_EQ(r.broke->slot, 32);
}

TEST(UnitLinkUpload, AFailedHighByteEndsThePass) {
  EventLog log;
  auto* port = new FlakyPort(&log);
  port->portIsOpen = true;
  port->failingByte = 0x03;  // the high byte of 799 in slot 4
  FakeSleeper sleeper(&log);
  UnitLink link(std::unique_ptr<SerialPort>(port), sleeper);
  const UploadPassOutcome r = link.upload(defaultUploadValues(0));
  EXPECT_EQ(r.code, kDeviceIo);
  // 0x72 00 0x74 00 0x76 00 0x40 02 0x41, then nothing: not 0x1F, not 0x42.
  EXPECT_EQ(port->written, std::string("\x72\0\x74\0\x76\0\x40\x02\x41", 9));
  ASSERT_TRUE(r.broke.has_value());
  EXPECT_EQ(r.broke->sent, 9);
  EXPECT_EQ(r.broke->slot, 4);
}

TEST(UnitLinkUpload, ClosedPortSendsNothingAndWaitsForNothing) {
  Rig rig(false);
  UploadValues values{};
  values[1] = 300;  // never reached: the first write fails
  const UploadPassOutcome r = rig.link.upload(values);
  EXPECT_EQ(r.code, kPortNotOpen);
  EXPECT_TRUE(rig.port->written.empty());
  EXPECT_TRUE(rig.sleeper.waits.empty());
  ASSERT_TRUE(r.broke.has_value());
  EXPECT_EQ(r.broke->sent, 0);
  EXPECT_EQ(r.broke->slot, 0);
}

}  // namespace
}  // namespace ku
