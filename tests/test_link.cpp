// The link's operations against the fakes: the load and close steps, the
// read-back and the two uploads, each checked as one timeline of bytes, pauses
// and messages.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "expected.h"
#include "fakes.h"
#include "link/link.h"
#include "model/errors.h"
#include "model/slot_table.h"

namespace ku {
namespace {

namespace fs = std::filesystem;
using test::EventLog;
using test::FakeSerialPort;
using test::FakeSleeper;
using test::kInvalidPortMessage;
using test::kShortReplyMessage;
using test::kValueLimitMessage;
using test::RecordingNotifier;
using Events = std::vector<std::string>;

std::string out(int byte) {
  return "out:" + FakeSerialPort::hex(static_cast<unsigned char>(byte));
}
std::string sleep(int ms) {
  return "sleep:" + std::to_string(ms);
}
std::string msg(const std::string& text) {
  return std::string("msg:") + text;
}

// Everything the link works on, with one shared timeline.
struct Rig {
  EventLog log;
  FakeSerialPort port{&log};
  FakeSleeper sleeper{&log};
  RecordingNotifier notifier{&log};
  SlotValueArray slots{};
  ReadBackArray readBack{};
  LinkContext ctx{port, sleeper, notifier, slots, readBack};
  Rig() { port.open = true; }
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
  int hookCalls = 0;
  RealSleeper plain;
  RealSleeper withHook([&] { ++hookCalls; });
  // A hook slower than the whole wait must not stretch the rule either way.
  RealSleeper slowHook([] { std::this_thread::sleep_for(std::chrono::milliseconds(12)); });
  for (Sleeper* s : {static_cast<Sleeper*>(&plain), static_cast<Sleeper*>(&withHook),
                     static_cast<Sleeper*>(&slowHook)}) {
    for (int ms : {1, 7, 30}) {
      const auto start = Clock::now();
      s->sleepMs(ms);
      EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(ms));
    }
  }
  EXPECT_GT(hookCalls, 0);
}

// ---------------------------------------------------------------------------
// Load and close steps

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "ku-link-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string commsIni() const { return path_ + "/comms.ini"; }
  void writeCommsIni(const std::string& content) const {
    std::ofstream(commsIni(), std::ios::binary) << content;
  }

 private:
  std::string path_;
};

class RecordingLoadHooks : public LoadHooks {
 public:
  explicit RecordingLoadHooks(EventLog& log) : log_(log) {}
  void disableUpdateAndDefault() override { log_.add("disable"); }
  void runReadBack() override { log_.add("verify"); }

 private:
  EventLog& log_;
};

const Events kSetUpCalls = {"CommPort",  "Handshaking", "InputLen",  "RThreshold",
                            "RTSEnable", "Settings",    "SThreshold"};

struct LoadCase {
  const char* name;
  bool haveFile;
  std::string content;
  int failOpenWith;  // 0: the open succeeds
  LoadOutcome outcome;
  int code;
  Events timeline;  // open, message, hooks
  bool portReady;
  int commPort;  // the number the port holds afterwards
  // Whether the port took the number from comms.ini; only then is it opened.
  enum Number { Taken, Refused, NotANumber } number = Taken;
};

TEST(LoadStep, OutcomesAndTheirOrder) {
  const std::string bad = msg(kInvalidPortMessage);
  const auto R = LoadOutcome::Rejected, U = LoadOutcome::Unlinked, L = LoadOutcome::Linked;
  const int kNoDevice = kInvalidPortNumber;
  const Events rejected = {bad, "disable"};
  const auto Refused = LoadCase::Refused, NotANumber = LoadCase::NotANumber;
  // clang-format off
  const LoadCase cases[] = {
      {"clean", true, "COM,2\r\n", 0, L, 0, {"open", "verify"}, true, 2},
      {"missing comms.ini: 53 then 8002", false, "", 0, R, kInvalidPortNumber, rejected, false, 1, Refused},
      {"single item", true, "4\n", 0, R, kInvalidPortNumber, rejected, false, 1, Refused},
      {"port 0", true, "p,0\n", 0, R, kInvalidPortNumber, rejected, false, 1, Refused},
      {"no such port", true, "p,17\n", 0, R, kInvalidPortNumber, rejected, false, 1, Refused},
      {"open finds no device", true, "p,3\n", kNoDevice, R, kInvalidPortNumber, rejected, false, 3},
      {"port held elsewhere", true, "p,3\n", kPortAlreadyOpen, U, kPortAlreadyOpen, {}, true, 3},
      {"text port", true, "p,abc\n", 0, U, kTypeMismatch, {}, true, 1, NotANumber},
      {"port over 32767", true, "p,40000\n", 0, U, kOverflow, {}, true, 1, NotANumber},
      {"odd count after a good pair", true, "p,3\nq\n", 0, U, kInputPastEnd, {"open"}, true, 3},
      {"half rounds to even", true, "p,2.5\n", 0, L, 0, {"open", "verify"}, true, 2},
  };
  // clang-format on
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    if (c.haveFile) dir.writeCommsIni(c.content);
    EventLog log;
    FakeSerialPort port(&log);
    RecordingNotifier notifier(&log);
    RecordingLoadHooks hooks(log);
    if (c.failOpenWith) port.failures["Open"] = c.failOpenWith;
    LinkState state;

    const LoadResult r = loadStep(dir.commsIni(), state, port, notifier, hooks);

    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.lastCode, c.code);
    EXPECT_EQ(r.lastText.empty(), c.code == 0);
    EXPECT_EQ(log.events, c.timeline);
    EXPECT_EQ(state.ready, c.portReady);
    EXPECT_EQ(port.commPort, c.commPort);
    // Every set-up step runs whatever failed before it; the open only when the
    // port took the number, so no port that comms.ini did not name is opened.
    Events expectedCalls = kSetUpCalls;
    if (c.number == LoadCase::NotANumber) expectedCalls.erase(expectedCalls.begin());
    if (c.number == LoadCase::Taken) expectedCalls.push_back("Open");
    EXPECT_EQ(port.open, c.number == LoadCase::Taken && c.failOpenWith == 0);
    EXPECT_EQ(port.calls, expectedCalls);
    EXPECT_EQ(port.handshaking, 0);
    EXPECT_EQ(port.inputLen, 0);
    EXPECT_EQ(port.rThreshold, 0);
    EXPECT_EQ(port.sThreshold, 0);
    EXPECT_TRUE(port.rts);
    EXPECT_EQ(port.settings, "4800,n,8,1");
  }
}

TEST(LoadStep, AnOpenPortIsNotOpenedAgain) {
  TempDir dir;
  dir.writeCommsIni("COM,2\n");
  EventLog log;
  FakeSerialPort port(&log);
  port.open = true;
  RecordingNotifier notifier(&log);
  RecordingLoadHooks hooks(log);
  LinkState state;
  const LoadResult r = loadStep(dir.commsIni(), state, port, notifier, hooks);
  EXPECT_EQ(r.outcome, LoadOutcome::Linked);
  EXPECT_EQ(port.openCalls, 0);
}

TEST(LoadStep, APortNumberThePortDidNotTakeLetsNoByteOut) {
  // The port keeps its first number (1) when comms.ini's is refused or is no
  // number: nothing may then reach port 1, neither an upload nor the close byte.
  for (const char* content : {"p,abc\n", "p,40000\n", "p,0\n", "single\n"}) {
    SCOPED_TRACE(content);
    TempDir dir;
    dir.writeCommsIni(content);
    Rig rig;
    rig.port.open = false;
    RecordingLoadHooks hooks(rig.log);
    LinkState state;
    loadStep(dir.commsIni(), state, rig.port, rig.notifier, hooks);
    Tables tables;
    fillTables(tables);
    uploadSetup(rig.ctx, tables);
    closeStep(state, rig.port);
    EXPECT_EQ(rig.port.openCalls, 0);
    EXPECT_EQ(rig.port.written, "");
  }
}

TEST(LoadStep, ThenCloseStepSendsOnlyWhenReady) {
  struct Case {
    const char* name;
    bool haveFile;
    int failOpenWith;
    std::string written;
    Events closeTimeline;
  };
  const Case cases[] = {
      {"clean: one byte then close", true, 0, "!", {"out:21", "close"}},
      {"missing comms.ini: nothing sent, port left to the window", false, 0, "", {}},
      {"held port: the failed close byte does not throw", true, kPortAlreadyOpen, "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    if (c.haveFile) dir.writeCommsIni("COM,2\n");
    EventLog log;
    FakeSerialPort port(&log);
    RecordingNotifier notifier;
    RecordingLoadHooks hooks(log);
    if (c.failOpenWith) port.failures["Open"] = c.failOpenWith;
    LinkState state;
    loadStep(dir.commsIni(), state, port, notifier, hooks);
    log.events.clear();
    EXPECT_NO_THROW(closeStep(state, port));
    EXPECT_EQ(port.written, c.written);
    EXPECT_EQ(log.events, c.closeTimeline);
  }
}

TEST(CloseStep, FailingWriteStillClosesAndNeverThrows) {
  EventLog log;
  FakeSerialPort port(&log);
  port.open = true;
  port.failures["Output"] = kDeviceIo;
  LinkState state;
  state.ready = true;
  EXPECT_NO_THROW(closeStep(state, port));
  EXPECT_FALSE(port.open);
  port.failures["Close"] = kDeviceIo;
  port.open = true;
  EXPECT_NO_THROW(closeStep(state, port));
}

// ---------------------------------------------------------------------------
// The record and the read-back

// Where each slot sits in the 38-byte record (positions from 1), as the unit sends it.
struct Place {
  int slot;
  int first;
  enum { Byte, HighFirst, LowFirst } form;
};
const Place kPlaces[32] = {
    {0, 1, Place::Byte},        {1, 2, Place::Byte},        {2, 3, Place::Byte},
    {3, 4, Place::Byte},        {4, 5, Place::HighFirst},   {5, 7, Place::HighFirst},
    {6, 9, Place::Byte},        {7, 10, Place::Byte},       {8, 11, Place::Byte},
    {9, 12, Place::Byte},       {10, 13, Place::Byte},      {11, 14, Place::Byte},
    {12, 15, Place::Byte},      {13, 16, Place::Byte},      {14, 17, Place::Byte},
    {15, 18, Place::Byte},      {16, 19, Place::Byte},      {17, 20, Place::Byte},
    {18, 21, Place::Byte},      {19, 22, Place::Byte},      {20, 23, Place::Byte},
    {21, 24, Place::Byte},      {22, 25, Place::Byte},      {23, 26, Place::Byte},
    {24, 27, Place::Byte},      {25, 28, Place::Byte},      {26, 29, Place::Byte},
    {27, 30, Place::HighFirst}, {28, 32, Place::HighFirst}, {29, 34, Place::HighFirst},
    {30, 36, Place::LowFirst},  {31, 38, Place::Byte},
};

// A record whose slots hold values (each within its form's range).
std::string makeRecord(const std::array<int, 32>& values) {
  std::string r(38, '\0');
  for (const Place& p : kPlaces) {
    const int v = values[p.slot];
    auto put = [&](int pos, int byte) { r[pos - 1] = static_cast<char>(byte); };
    if (p.form == Place::Byte) {
      put(p.first, v);
    } else if (p.form == Place::HighFirst) {
      put(p.first, v >> 8);
      put(p.first + 1, v & 0xFF);
    } else {
      put(p.first, v & 0xFF);
      put(p.first + 1, v >> 8);
    }
  }
  return r;
}

// Distinct values that would expose any mix-up of positions or byte order.
std::array<int, 32> distinctValues() {
  std::array<int, 32> v{};
  for (int s = 0; s < 32; ++s) v[s] = 101 + s * 3;  // 101..194, bytes above 127 included
  v[0] = 3;
  v[4] = 0x1234;
  v[5] = 0x0266;
  v[27] = 0x7FFF;
  v[28] = 0x0100;
  v[29] = 0x00FF;
  v[30] = 0x3412;
  v[31] = 255;
  return v;
}

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
  EXPECT_EQ(currentValueCaption(0, std::nullopt), "1");
  EXPECT_EQ(currentValueCaption(0, SlotValue(0)), "1");
  EXPECT_EQ(currentValueCaption(0, SlotValue(3)), "4");
  EXPECT_EQ(currentValueCaption(1, std::nullopt), "");
  EXPECT_EQ(currentValueCaption(4, SlotValue(32767)), "32767");
  EXPECT_EQ(currentValueCaption(31, SlotValue(-5)), "-5");
  EXPECT_THROW(currentValueCaption(0, SlotValue(32767)), KuError);
}

// The window's side of the read-back, on the same timeline.
class RecordingReadBackHooks : public ReadBackHooks {
 public:
  RecordingReadBackHooks(EventLog& log, const ReadBackArray& readBack)
      : log_(log), readBack_(readBack) {}
  void showCurrentValue(int row, const std::string& text) override {
    captions.at(row) = text;
    ++shown;
    if (row == 31) log_.add("shown");
  }
  void refresh() override {
    log_.add("refresh");
    if (refreshFails) throw KuError(kDivisionByZero, "Division by zero");
  }
  void clearEntry(int slot) override {
    readBackAtClear.push_back(readBack_[slot]);
    clearedSlots.push_back(slot);
    if (slot == 31) log_.add("cleared");
  }
  std::array<std::string, 32> captions{};
  int shown = 0;
  bool refreshFails = false;
  std::vector<int> clearedSlots;
  std::vector<std::int16_t> readBackAtClear;

 private:
  EventLog& log_;
  const ReadBackArray& readBack_;
};

Events exchangeTimeline() {
  return {out(0x20), sleep(1000), out(0x71), sleep(1000), "in", out(0x78), sleep(1000), "in"};
}

TEST(Verify, CompleteRecordTimelineAndCopies) {
  Rig rig;
  RecordingReadBackHooks hooks(rig.log, rig.readBack);
  const std::array<int, 32> values = distinctValues();
  rig.port.replies = {makeRecord(values), makeRecord(values) + "tail"};
  rig.slots[33] = 9;

  EXPECT_EQ(readBack(rig.ctx, hooks), 0);

  Events expected = exchangeTimeline();
  expected.insert(expected.end(), {"shown", "refresh", "cleared"});
  EXPECT_EQ(rig.log.events, expected);
  EXPECT_EQ(rig.port.written, " qx");
  EXPECT_EQ(hooks.shown, 32);
  EXPECT_EQ(hooks.captions[0], "4");  // channel 3 shown plus 1
  EXPECT_EQ(hooks.captions[4], "4660");
  EXPECT_EQ(hooks.captions[31], "255");
  for (int i = 0; i < 32; ++i) {
    EXPECT_EQ(rig.slots[i], SlotValue(values[i]));
    EXPECT_EQ(rig.readBack[i], values[i]);
    EXPECT_EQ(hooks.clearedSlots[i], i);
    EXPECT_EQ(hooks.readBackAtClear[i], values[i]);  // copied before its box is emptied
  }
  EXPECT_EQ(rig.slots[33], SlotValue(9));
  EXPECT_EQ(rig.readBack[33], 0);
}

TEST(Verify, AnswersBeforeXNeverReachTheDecoding) {
  Rig rig;
  RecordingReadBackHooks hooks(rig.log, rig.readBack);
  std::array<int, 32> other{};
  other.fill(200);
  other[4] = other[5] = other[27] = other[28] = other[29] = other[30] = 1000;
  // A full record answers " " and "q"; nothing answers "x".
  rig.port.replies = {makeRecord(other)};
  EXPECT_EQ(readBack(rig.ctx, hooks), kInvalidArgument);
  for (int i = 0; i < 32; ++i) EXPECT_FALSE(rig.slots[i].has_value());
  EXPECT_EQ(rig.notifier.messages, std::vector<std::string>{kShortReplyMessage});
}

TEST(Verify, ShortOrMissingReplies) {
  struct Case {
    const char* name;
    bool open;
    std::string reply;
    int code;
    bool message;
    std::string caption0;
    std::string caption31;
  };
  const std::string full = makeRecord(distinctValues());
  std::string high5 = full;
  high5[4] = static_cast<char>(128);
  const Case cases[] = {
      {"37 characters", true, full.substr(0, 37), kInvalidArgument, true, "4", "7"},
      {"no answer", true, "", kInvalidArgument, true, "8", "7"},
      {"port not open", false, full, kInvalidArgument, true, "8", "7"},
      {"high byte in a complete record", true, high5, kOverflow, false, "4", "255"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.port.open = c.open;
    for (auto& s : rig.slots) s = 7;
    RecordingReadBackHooks hooks(rig.log, rig.readBack);
    rig.port.replies = {"", c.reply};
    EXPECT_EQ(readBack(rig.ctx, hooks), c.code);

    Events expected;
    if (c.open)
      expected = exchangeTimeline();
    else
      expected = {sleep(1000), sleep(1000), sleep(1000)};
    expected.push_back("shown");
    if (c.message) expected.push_back(msg(kShortReplyMessage));
    expected.insert(expected.end(), {"refresh", "cleared"});
    EXPECT_EQ(rig.log.events, expected);
    EXPECT_EQ(hooks.captions[0], c.caption0);
    EXPECT_EQ(hooks.captions[31], c.caption31);
    EXPECT_EQ(rig.readBack[31], std::stoi(c.caption31));
    EXPECT_EQ(hooks.clearedSlots.size(), 32u);
  }
}

TEST(Verify, UnsetSlotsShowEmptyAndChannelOne) {
  Rig rig;
  RecordingReadBackHooks hooks(rig.log, rig.readBack);
  rig.readBack.fill(5);
  readBack(rig.ctx, hooks);
  EXPECT_EQ(hooks.captions[0], "1");
  for (int i = 1; i < 32; ++i) EXPECT_EQ(hooks.captions[i], "") << i;
  for (int i = 0; i < 32; ++i) EXPECT_EQ(rig.readBack[i], 0) << i;  // unset counts as 0
  EXPECT_EQ(rig.readBack[32], 5);
}

TEST(Verify, FailedRefreshIsRecordedAndTheCopyGoesOn) {
  Rig rig;
  RecordingReadBackHooks hooks(rig.log, rig.readBack);
  hooks.refreshFails = true;
  rig.port.replies = {"", makeRecord(distinctValues())};
  EXPECT_EQ(readBack(rig.ctx, hooks), kDivisionByZero);
  EXPECT_TRUE(rig.notifier.messages.empty());
  EXPECT_EQ(hooks.clearedSlots.size(), 32u);
  EXPECT_EQ(rig.readBack[4], 0x1234);
}

TEST(Verify, ReadsFromAFailingPortLeaveTheReplyEmpty) {
  Rig rig;
  RecordingReadBackHooks hooks(rig.log, rig.readBack);
  rig.port.failures["Input"] = kDeviceIo;
  rig.port.replies = {"", makeRecord(distinctValues())};
  EXPECT_EQ(readBack(rig.ctx, hooks), kInvalidArgument);
  for (int i = 0; i < 32; ++i) EXPECT_FALSE(rig.slots[i].has_value());
  EXPECT_EQ(rig.notifier.messages.size(), 1u);
}

// ---------------------------------------------------------------------------
// The uploads

// The timeline of one slot's frame.
void frame(Events& e, int command, const std::vector<int>& valueBytes) {
  e.push_back(out(command));
  e.push_back(sleep(20));
  for (int b : valueBytes) e.push_back(out(b));
  e.push_back(sleep(20));
}
void commandOnly(Events& e, int command) {
  e.push_back(out(command));
  e.push_back(sleep(50));
}

Events defaultPass(int c) {
  Events e;
  frame(e, 0x72, {c});
  frame(e, 0x74, {0x00});
  frame(e, 0x76, {0x00});
  frame(e, 0x40, {0x02});
  frame(e, 0x41, {0x03, 0x1F});
  frame(e, 0x42, {0x02, 0x66});
  frame(e, 0x43, {0x0A});
  frame(e, 0x44, {0x0E});
  frame(e, 0x45, {0xCD});
  frame(e, 0x46, {0x12});
  frame(e, 0x47, {0x13});
  frame(e, 0x48, {0x0E});
  frame(e, 0x50, {0x3F});
  frame(e, 0x51, {0x18});
  frame(e, 0x52, {0x5F});
  frame(e, 0x53, {0x3B});
  frame(e, 0x54, {0x30});
  frame(e, 0x55, {0x3E});
  frame(e, 0x60, {0x00});
  frame(e, 0x61, {0x24});
  frame(e, 0x62, {0x40});
  frame(e, 0x63, {0x00});
  frame(e, 0x64, {0x64});
  frame(e, 0x65, {0x64});
  frame(e, 0x66, {0x00});
  frame(e, 0x67, {0x64});
  frame(e, 0x68, {0x64});
  frame(e, 0x27, {0x01, 0x0B});
  frame(e, 0x28, {0x01, 0x0B});
  frame(e, 0x29, {0x00, 0x00});
  commandOnly(e, 0x4F);
  commandOnly(e, 0x5F);
  commandOnly(e, 0x0B);
  commandOnly(e, 0x70);
  return e;
}

TEST(uploadDefaultSetup, SendsTheDefaultFrameWithTheCurrentChannel) {
  for (std::optional<int> channel : {std::optional<int>(3), std::optional<int>()}) {
    SCOPED_TRACE(channel ? *channel : -1);
    Rig rig;
    Tables tables;
    fillTables(tables);
    if (channel) rig.slots[0] = static_cast<std::int16_t>(*channel);
    rig.slots[4] = 1;  // entries play no part in the default pass
    rig.slots[30] = 500;
    EXPECT_EQ(uploadDefaultSetup(rig.ctx, tables), 0);
    EXPECT_EQ(rig.log.events, defaultPass(channel.value_or(0)));
    EXPECT_EQ(rig.port.written.size(), static_cast<std::size_t>(kUploadLength));
    EXPECT_EQ(tables.DefaultValues[0], channel.value_or(0));
    EXPECT_EQ(rig.sleeper.waits.size(), 64u);
    int total = 0;
    for (int w : rig.sleeper.waits) total += w;
    EXPECT_EQ(total, 1400);
  }
}

TEST(uploadSetup, SendsSlotValuesUnsetAsZero) {
  Rig rig;
  Tables tables;
  fillTables(tables);
  // The built-in defaults typed in by hand give the same frame as the default pass.
  for (int s = 1; s < 30; ++s) rig.slots[s] = tables.DefaultValues[s];
  rig.slots[0] = 2;
  rig.slots[30] = 300;  // never sent
  rig.slots[31] = -9;
  EXPECT_EQ(uploadSetup(rig.ctx, tables), 0);
  EXPECT_EQ(rig.log.events, defaultPass(2));
  EXPECT_TRUE(rig.notifier.messages.empty());

  Rig empty;
  EXPECT_EQ(uploadSetup(empty.ctx, tables), 0);
  std::string expected;
  for (int s = 0; s < kSlotCount; ++s) {
    expected.push_back(static_cast<char>(slotInfo(s).commandByte));
    if (s < 30) expected.append(isWideSlot(s) ? 2 : 1, '\0');
  }
  EXPECT_EQ(empty.port.written, expected);
}

TEST(sendWideValue, SixteenBitValuesOnTheWire) {
  struct Case {
    std::int16_t v;
    std::vector<int> bytes;
    int code;
  };
  const Case cases[] = {
      {32000, {0x7D, 0x00}, 0}, {799, {0x03, 0x1F}, 0},
      {256, {0x01, 0x00}, 0},   {255, {0x00, 0xFF}, 0},
      {0, {0x00, 0x00}, 0},     {32767, {0x7F, 0xFF}, 0},
      {4660, {0x12, 0x34}, 0},  {-1, {0x00}, 5},
      {-255, {0x00}, 5},        {-256, {}, 5},
      {-4096, {}, 5},           {-32768, {}, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.v);
    EventLog log;
    FakeSerialPort port(&log);
    port.open = true;
    int code = 0;
    try {
      sendWideValue(port, c.v);
    } catch (const KuError& e) {
      code = e.code();
    }
    EXPECT_EQ(code, c.code);
    Events expected;
    for (int b : c.bytes) expected.push_back(out(b));
    EXPECT_EQ(log.events, expected);  // one write per byte, nothing else
    EXPECT_EQ(port.calls, std::vector<std::string>(c.bytes.size(), "Output"));
  }
}

TEST(uploadSetup, OutOfRangeValueSkipsItsByteAndWarnsAfterThePass) {
  Rig rig;
  Tables tables;
  fillTables(tables);
  rig.slots[1] = 300;
  EXPECT_EQ(uploadSetup(rig.ctx, tables), kInvalidArgument);
  const Events& e = rig.log.events;
  // Slot 0: 72 20 00 20; slot 1: 74, 20 ms, no value, 20 ms; then slot 2.
  const Events head = {out(0x72), sleep(20), out(0x00), sleep(20),
                       out(0x74), sleep(20), sleep(20), out(0x76)};
  ASSERT_GE(e.size(), head.size());
  EXPECT_EQ(Events(e.begin(), e.begin() + static_cast<long>(head.size())), head);
  const Events tail = {out(0x70), sleep(50), msg(kValueLimitMessage)};
  EXPECT_EQ(Events(e.end() - 3, e.end()), tail);
  EXPECT_EQ(rig.port.written.size(), static_cast<std::size_t>(kUploadLength - 1));
  EXPECT_EQ(rig.notifier.messages.size(), 1u);
}

TEST(uploadSetup, NegativeWideValues) {
  struct Case {
    std::int16_t v;
    std::string slot4Bytes;
  };
  for (const Case& c : {Case{-1, std::string(1, '\0')}, Case{-300, ""}}) {
    Rig rig;
    Tables tables;
    fillTables(tables);
    rig.slots[4] = c.v;
    EXPECT_EQ(uploadSetup(rig.ctx, tables), kInvalidArgument);
    // 0x72 00 0x74 00 0x76 00 0x40 00 0x41 <slot 4's bytes> 0x42 ...
    EXPECT_EQ(rig.port.written.substr(0, 9), std::string("\x72\0\x74\0\x76\0\x40\0\x41", 9));
    EXPECT_EQ(rig.port.written.substr(9, c.slot4Bytes.size() + 1), c.slot4Bytes + "\x42");
    EXPECT_EQ(rig.notifier.messages, std::vector<std::string>{kValueLimitMessage});
  }
}

// A port whose write of one given byte fails.
class FlakyPort : public FakeSerialPort {
 public:
  using FakeSerialPort::FakeSerialPort;
  int failingByte = -1;
  void output(const std::string& bytes) override {
    if (bytes.size() == 1 && static_cast<unsigned char>(bytes[0]) == failingByte)
      throw KuError(kDeviceIo, "write failed");
    FakeSerialPort::output(bytes);
  }
};

TEST(uploadSetup, LaterPortFailureReplacesTheValueError) {
  EventLog log;
  FlakyPort port(&log);
  port.open = true;
  port.failingByte = 0x0B;  // slot 32's command byte
  FakeSleeper sleeper(&log);
  RecordingNotifier notifier(&log);
  SlotValueArray slots{};
  ReadBackArray readBack{};
  LinkContext ctx{port, sleeper, notifier, slots, readBack};
  Tables tables;
  fillTables(tables);
  slots[2] = 256;
  EXPECT_EQ(uploadSetup(ctx, tables), kDeviceIo);
  EXPECT_TRUE(notifier.messages.empty());
  // The lost byte still has its pause, and the pass goes on to slot 33.
  const Events tail = {out(0x5F), sleep(50), sleep(50), out(0x70), sleep(50)};
  EXPECT_EQ(Events(log.events.end() - 5, log.events.end()), tail);
}

TEST(uploadSetup, ClosedPortSendsNothingAndShowsNothing) {
  for (bool defaults : {false, true}) {
    Rig rig;
    rig.port.open = false;
    rig.slots[1] = 300;  // the out-of-range value is hidden by a later failed write
    Tables tables;
    fillTables(tables);
    const int code = defaults ? uploadDefaultSetup(rig.ctx, tables) : uploadSetup(rig.ctx, tables);
    EXPECT_EQ(code, kPortNotOpen);
    EXPECT_TRUE(rig.port.written.empty());
    EXPECT_TRUE(rig.notifier.messages.empty());
    EXPECT_EQ(rig.sleeper.waits.size(), 64u);  // the pauses all still happen
  }
}

}  // namespace
}  // namespace ku
