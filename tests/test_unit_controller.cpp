// UnitController on the fakes: what the operator sees of the load step, the
// read-back and the commands (messages, the current-value column, the boxes,
// the buttons), in order on one timeline with the bytes on the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/unit_controller.h"
#include "expected.h"
#include "fakes.h"
#include "timeline.h"

namespace ku {
namespace {

using test::distinctValues;
using test::EmptyDatabaseOpener;
using test::EventLog;
using test::Events;
using test::exchangeTimeline;
using test::FakeSerialPort;
using test::FakeSleeper;
using test::makeRecord;
using test::msg;
using test::out;
using test::RecordingNotifier;
using test::sleep;
using test::TempDir;

// The in-memory window, with its buttons, the last row's caption and the last
// box's emptying on the timeline.
class LoggingView : public RecordingUnitView {
 public:
  explicit LoggingView(EventLog& log) : log_(log) {}
  void setButtonEnabled(Button b, bool enabled) override {
    RecordingUnitView::setButtonEnabled(b, enabled);
    static const char* names[] = {"Update", "Close", "Default"};
    log_.add(std::string(names[static_cast<int>(b)]) + (enabled ? " on" : " off"));
  }
  void setCurrentValue(int row, const std::string& text) override {
    RecordingUnitView::setCurrentValue(row, text);
    if (row == 31) log_.add("shown");
  }
  void setEntryText(int slot, const std::string& text) override {
    RecordingUnitView::setEntryText(slot, text);
    if (slot == 31 && text.empty()) log_.add("cleared");
  }

 private:
  EventLog& log_;
};

struct Rig {
  TempDir dir;
  EventLog log;
  FakeSleeper sleeper{&log};
  RecordingNotifier notifier{&log};
  EmptyDatabaseOpener opener{&log};
  AppContext context;
  LoggingView view{log};
  FakeSerialPort* port = new FakeSerialPort(&log);
  std::unique_ptr<UnitController> controller;

  explicit Rig(const std::string& commsIni = "COM,2\n") {
    if (!commsIni.empty()) dir.writeCommsIni(commsIni);
    initAppContext(context, dir.path());
    context.locale = NumberLocale{"."};
    controller = std::make_unique<UnitController>(context, view, notifier, sleeper,
                                                  std::unique_ptr<SerialPort>(port), opener);
    view.attach(controller.get());
  }
  // Loads against a unit that answers "x" with each record in turn.
  LoadResult load(std::vector<std::string> records) {
    port->replies.clear();
    for (auto& r : records) {
      port->replies.push_back("");
      port->replies.push_back(std::move(r));
    }
    return controller->openLink();
  }
  void answer(const std::string& record) { port->replies = {"", record}; }
  std::vector<std::string> buttons() const {
    std::vector<std::string> b;
    for (const auto& e : log.events)
      if (e.find(" on") != std::string::npos || e.find(" off") != std::string::npos) b.push_back(e);
    return b;
  }
};

const std::string kInvalidPort = msg(test::kInvalidPortMessage);
const std::string kShortReply = msg(test::kShortReplyMessage);

TEST(Load, OutcomesWhatTheOperatorSeesAndTheButtons) {
  struct Case {
    const char* name;
    std::string commsIni;  // empty: no file
    int failOpenWith;
    LoadOutcome outcome;
    int code;
    bool ready;
    Events seen;  // messages and buttons
    std::string written;
  };
  const auto L = LoadOutcome::Linked, R = LoadOutcome::Rejected, U = LoadOutcome::Unlinked;
  const Events rejected = {kInvalidPort, "Update off", "Default off"};
  // clang-format off
  const Case cases[] = {
      {"clean: read back at once", "COM,2\n", 0, L, 0, true, {}, " qx"},
      {"missing comms.ini", "", 0, R, kInvalidPortNumber, false, rejected, ""},
      {"port 0", "p,0\n", 0, R, kInvalidPortNumber, false, rejected, ""},
      {"no device", "p,3\n", kInvalidPortNumber, R, kInvalidPortNumber, false, rejected, ""},
      {"port held elsewhere: nothing shown", "p,3\n", kPortAlreadyOpen, U, kPortAlreadyOpen, true, {}, ""},
      {"text port", "p,abc\n", 0, R, kInvalidPortNumber, false, rejected, ""},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(c.commsIni);
    if (c.failOpenWith) rig.port->failures["Open"] = c.failOpenWith;
    const LoadResult r = rig.load({makeRecord(distinctValues())});
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.lastCode, c.code);
    EXPECT_EQ(rig.context.port.portNumberAccepted, c.ready);
    Events seen = rig.buttons();
    for (const auto& text : rig.notifier.messages) seen.insert(seen.begin(), "msg:" + text);
    EXPECT_EQ(seen, c.seen);
    EXPECT_EQ(rig.port->written, c.written);
    EXPECT_EQ(rig.view.closeEnabled, true);
    EXPECT_EQ(rig.view.updateEnabled, c.outcome != R);
  }
}

// A port whose device the user has no rights to.
class DeniedPort : public FakeSerialPort {
 public:
  using FakeSerialPort::FakeSerialPort;
  void open(std::int16_t, const LineSettings&) override {
    throw PortAccessDenied("/dev/ttyUSB0", "Permission denied");
  }
};

TEST(Load, NoRightsToTheDeviceSaysWhichAndWhatToDo) {
  TempDir dir;
  dir.writeCommsIni("COM,1\n");
  EventLog log;
  FakeSleeper sleeper(&log);
  RecordingNotifier notifier(&log);
  EmptyDatabaseOpener opener;
  AppContext context;
  initAppContext(context, dir.path());
  RecordingUnitView view;
  auto* port = new DeniedPort(&log);
  UnitController controller(context, view, notifier, sleeper, std::unique_ptr<SerialPort>(port),
                            opener);
  view.attach(&controller);
  const LoadResult r = controller.openLink();
  EXPECT_EQ(r.outcome, LoadOutcome::Unlinked);
  EXPECT_EQ(r.lastCode, kPortAlreadyOpen);
  EXPECT_EQ(log.events,
            Events{"msg:No permission to open the serial port /dev/ttyUSB0. Add your user to the "
                   "dialout group (sudo adduser $USER dialout), then log out and in again."});
  EXPECT_TRUE(view.updateEnabled && view.defaultEnabled && view.closeEnabled);
  EXPECT_TRUE(context.port.portNumberAccepted);
}

TEST(Load, APortNumberThePortDidNotTakeLetsNoByteOut) {
  // Nothing may reach a port that comms.ini did not name: no upload, no close byte.
  for (const char* content : {"p,abc\n", "p,40000\n", "p,0\n", "single\n"}) {
    SCOPED_TRACE(content);
    Rig rig(content);
    rig.load({});
    rig.controller->runUpdateCommand();
    rig.controller->runDefaultCommand();
    rig.controller->closeLink();
    EXPECT_EQ(rig.port->openCalls, 0);
    EXPECT_EQ(rig.port->written, "");
  }
}

TEST(Close, TheCloseByteOnlyWhenThePortWasNotRejected) {
  {
    Rig rig;
    rig.load({makeRecord(distinctValues())});
    rig.log.events.clear();
    rig.controller->closeLink();
    // The record came 10 ms after "x": "!" waits out the rest of the unit's second.
    EXPECT_EQ(rig.log.events, (Events{sleep(990), out(0x21), "close"}));
  }
  {
    Rig rig;  // the operator took longer than the second: "!" goes at once
    rig.load({makeRecord(distinctValues())});
    rig.log.events.clear();
    rig.sleeper.advance(1500);
    rig.controller->closeLink();
    EXPECT_EQ(rig.log.events, (Events{out(0x21), "close"}));
  }
  {
    Rig rig("");  // rejected: nothing sent, the port left to the window
    rig.load({});
    rig.log.events.clear();
    rig.controller->closeLink();
    EXPECT_EQ(rig.log.events, Events{});
  }
  {
    Rig rig;  // held elsewhere: the close byte fails quietly
    rig.port->failures["Open"] = kPortAlreadyOpen;
    rig.load({});
    EXPECT_NO_THROW(rig.controller->closeLink());
    EXPECT_EQ(rig.port->written, "");
  }
}

TEST(ReadBack, CompleteRecordTimelineCaptionsAndCopies) {
  Rig rig;
  const std::array<int, 32> values = distinctValues();
  ASSERT_EQ(rig.load({makeRecord(values)}).outcome, LoadOutcome::Linked);

  Events expected = {"open"};
  const Events exchange = exchangeTimeline();
  expected.insert(expected.end(), exchange.begin(), exchange.end());
  expected.insert(expected.end(), {"shown", "lookup", "lookup", "cleared"});
  EXPECT_EQ(rig.log.events, expected);
  EXPECT_EQ(rig.view.rows[0].current, "4");  // channel 3 shown plus 1
  EXPECT_EQ(rig.view.rows[4].current, "4660");
  EXPECT_EQ(rig.view.rows[30].current, "13330");
  EXPECT_EQ(rig.view.rows[31].current, "255");
  EXPECT_EQ(rig.view.rows[32].current, "N/A");
  for (int i = 0; i < 32; ++i) {
    EXPECT_EQ(rig.controller->slotValues()[i], SlotValue(values[i]));
    EXPECT_EQ(rig.controller->readBackValues()[i], values[i]);
  }
  EXPECT_FALSE(rig.controller->readBackValues()[32].has_value());  // no row, never read
  EXPECT_TRUE(rig.controller->unreadSlotsToSave().empty());
  EXPECT_EQ(rig.controller->slotsReadAtLastReadBack(), 32);
  EXPECT_EQ(rig.controller->lastReadBackCode(), 0);
}

TEST(ReadBack, BeforeAnyReadBackEverySlotIsUnread) {
  Rig rig;
  EXPECT_EQ(rig.controller->unreadSlotsToSave().size(), 32u);
  EXPECT_EQ(rig.controller->unreadSlotsToSave().front(), 0);
  EXPECT_EQ(rig.controller->unreadSlotsToSave().back(), 31);
  EXPECT_EQ(rig.controller->slotsReadAtLastReadBack(), 0);
}

// Which unread slots each command is refused for, after replies that leave
// slot 31 (past the end), slot 4 (a bad high byte) or everything unread.
TEST(ReadBack, EachCommandIsRefusedOnlyForTheUnreadSlotsItNeeds) {
  struct Case {
    const char* name;
    std::string reply;
    std::vector<int> save, compare, update, updateWithSlot4Entered, defaults;
  };
  const std::string full = makeRecord(distinctValues());
  std::string high5 = full;
  high5[4] = static_cast<char>(128);
  std::vector<int> all(32), valueSlots(30), setupSlots(29);
  for (int i = 0; i < 32; ++i) all[static_cast<std::size_t>(i)] = i;
  for (int i = 0; i < 30; ++i) valueSlots[static_cast<std::size_t>(i)] = i;
  for (int i = 0; i < 29; ++i) setupSlots[static_cast<std::size_t>(i)] = i + 1;
  std::vector<int> valueSlotsBut4 = valueSlots;
  valueSlotsBut4.erase(valueSlotsBut4.begin() + 4);
  const Case cases[] = {
      {"37 characters", full.substr(0, 37), {31}, {}, {}, {}, {}},
      {"high byte of slot 4", high5, {4}, {4}, {4}, {}, {}},
      {"no answer", "", all, setupSlots, valueSlots, valueSlotsBut4, {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.load({c.reply});
    EnteredSlots entered{};
    EXPECT_EQ(rig.controller->unreadSlotsToSave(), c.save);
    EXPECT_EQ(rig.controller->unreadSlotsToCompare(), c.compare);
    EXPECT_EQ(rig.controller->unreadSlotsToUpload(UploadKind::Entries, entered), c.update);
    EXPECT_EQ(rig.controller->unreadSlotsToUpload(UploadKind::Defaults, entered), c.defaults);
    entered[4] = true;
    EXPECT_EQ(rig.controller->unreadSlotsToUpload(UploadKind::Entries, entered),
              c.updateWithSlot4Entered);
  }
}

// The current-value column shows what this read-back brought and nothing else;
// the unit's earlier readings stay as the working values of the slots it missed.
TEST(ReadBack, ShortOrMissingRepliesShowOnlyWhatCameAndWarnOnce) {
  struct Case {
    const char* name;
    std::string reply;
    int code;
    bool message;
    std::string caption0, caption4, caption31;
    int reading31;  // the unit's last reading of slot 31
    std::vector<int> unread;
  };
  const std::string full = makeRecord(distinctValues());
  std::string high5 = full;
  high5[4] = static_cast<char>(128);
  std::vector<int> all(32);
  for (int i = 0; i < 32; ++i) all[static_cast<std::size_t>(i)] = i;
  std::array<int, 32> earlierValues{};
  earlierValues.fill(7);
  const std::string earlier = makeRecord(earlierValues);
  const Case cases[] = {
      {"37 characters", full.substr(0, 37), kInvalidArgument, true, "4", "4660", "", 7, {31}},
      {"no answer", "", kInvalidArgument, true, "", "", "", 7, all},
      {"high byte in a complete record", high5, kOverflow, false, "4", "", "255", 255, {4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.load({earlier});
    rig.log.events.clear();
    rig.answer(c.reply);
    EXPECT_EQ(rig.controller->readBack(), c.code);
    // " " waits out the load's second after "x" (its record came in 10 ms); a
    // short record is looked for until the second is over.
    Events expected = {sleep(990)};
    const Events exchange = exchangeTimeline(c.message ? test::kWholeSecondLooks : 1);
    expected.insert(expected.end(), exchange.begin(), exchange.end());
    expected.push_back("shown");
    if (c.message) expected.push_back(kShortReply);
    // An incomplete read-back leaves the boxes alone: no "cleared".
    expected.insert(expected.end(), {"lookup", "lookup"});
    EXPECT_EQ(rig.log.events, expected);
    EXPECT_EQ(rig.view.rows[0].current, c.caption0);
    EXPECT_EQ(rig.view.rows[4].current, c.caption4);
    EXPECT_EQ(rig.view.rows[31].current, c.caption31);
    EXPECT_EQ(rig.controller->readBackValues()[31], SlotValue(c.reading31));
    EXPECT_EQ(rig.controller->slotValues()[31], SlotValue(c.reading31));
    EXPECT_EQ(rig.controller->unreadSlotsToSave(), c.unread);
    EXPECT_EQ(rig.controller->slotsReadAtLastReadBack(), 32 - static_cast<int>(c.unread.size()));
  }
}

TEST(ReadBack, NothingReadShowsNothingNotEvenTheChannel) {
  Rig rig;  // not loaded: not ready, so the refresh computes nothing
  rig.port->portIsOpen = true;
  EXPECT_EQ(rig.controller->readBack(), kInvalidArgument);
  EXPECT_EQ(rig.notifier.messages, std::vector<std::string>{test::kShortReplyMessage});
  for (int i = 0; i < 32; ++i) {
    EXPECT_EQ(rig.view.rows[i].current, "") << i;
    EXPECT_FALSE(rig.controller->readBackValues()[i].has_value()) << i;
  }
}

// The unit holds the built-in defaults (Blanking 14, Jam Prescale 63, Ref Clock 62).
std::string defaultsRecord() {
  std::array<int, 32> values{};
  for (std::size_t s = 0; s < 30; ++s) values[s] = test::kBuiltInDefaults[s];
  values[30] = 210;
  return makeRecord(values);
}

// Typed 99 into Blanking, then a read-back that failed or broke off: the box keeps
// 99 and 99 stays the working value (its reference figure with it), but the
// current-value column shows only what came.
TEST(ReadBack, TypedEntriesOutliveAReadBackThatFailedOrBrokeOff) {
  struct Case {
    const char* name;
    int replyLength;  // characters of the record that come
    std::string current11;
  };
  const Case cases[] = {{"no answer", 0, ""}, {"broke off after Blanking", 20, "14"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.load({defaultsRecord()});
    rig.view.setEntryText(11, "99");
    rig.answer(defaultsRecord().substr(0, static_cast<std::size_t>(c.replyLength)));
    rig.controller->readBack();
    EXPECT_EQ(rig.view.rows[11].entry, "99");
    EXPECT_EQ(rig.controller->slotValues()[11], SlotValue(99));
    EXPECT_EQ(rig.view.rows[11].current, c.current11);
    EXPECT_EQ(rig.view.rows[11].reference, "20.161");
    EXPECT_EQ(rig.controller->readBackValues()[11], SlotValue(14));
    // "Update" sends the entry.
    rig.port->written.clear();
    rig.answer(defaultsRecord());
    rig.controller->sendSlotValues();
    EXPECT_EQ(rig.port->written.substr(24, 2), "\x48\x63");  // Blanking, 99
  }
}

// A slot the unit never reported gets no figure from a zero nobody typed: a
// typed value shows its figure, and emptying the box takes it away again.
TEST(ReadBack, AnEmptiedBoxOfASlotNeverReadShowsNoFigure) {
  Rig rig;
  rig.load({""});
  EXPECT_EQ(rig.view.rows[4].reference, "");
  rig.view.setEntryText(4, "799");
  EXPECT_EQ(rig.view.rows[4].reference, "50");
  rig.view.setEntryText(4, "");
  EXPECT_FALSE(rig.controller->slotValues()[4].has_value());
  EXPECT_EQ(rig.view.rows[4].reference, "");
}

TEST(ReadBack, OneRefreshPerBoxThatHeldTextAndNoneForEmptyBoxes) {
  Rig rig;
  const std::string record = makeRecord(distinctValues());
  rig.load({record});
  rig.view.setEntryText(1, "1");
  rig.view.setEntryText(9, "20");
  rig.view.setEntryText(28, "300");
  ASSERT_EQ(rig.controller->slotValues()[28], SlotValue(300));
  rig.opener.opens = 0;
  rig.answer(record);
  rig.controller->readBack();
  // The read-back's own refresh (two lookups), then one refresh for each of the
  // three boxes as it is emptied.
  EXPECT_EQ(rig.opener.opens, 2 * (1 + 3));
  for (int i = 0; i < 32; ++i) EXPECT_EQ(rig.view.rows[i].entry, "") << i;
  EXPECT_EQ(rig.controller->slotValues()[28], SlotValue(0x0100));  // restored from the copy
}

TEST(ReadBack, AFailedRefreshIsRecordedAndTheCopyGoesOn) {
  Rig rig;
  std::array<int, 32> values = distinctValues();
  values[27] = 0;  // the E1 constant divides by zero
  EXPECT_EQ(rig.load({makeRecord(values)}).outcome, LoadOutcome::Linked);
  EXPECT_EQ(rig.controller->lastReadBackCode(), kDivisionByZero);
  EXPECT_FALSE(rig.controller->lastRefreshError().empty());
  EXPECT_TRUE(rig.notifier.messages.empty());
  EXPECT_EQ(rig.controller->readBackValues()[4], 0x1234);
  EXPECT_EQ(rig.log.events.back(), "cleared");
}

TEST(Commands, UpdateDisablesUploadsReadsBackAndEnablesInThatOrder) {
  Rig rig;
  const std::string record = makeRecord(distinctValues());
  rig.load({record});
  rig.log.events.clear();
  rig.answer(record);
  rig.controller->runUpdateCommand();
  const Events& e = rig.log.events;
  ASSERT_GE(e.size(), 7u);
  // The rest of the record's second is waited out and its reply read to the end
  // before anything changes.
  EXPECT_EQ(Events(e.begin(), e.begin() + 6),
            (Events{sleep(990), "in", "Update off", "Close off", "Default off", out(0x72)}));
  EXPECT_EQ(Events(e.end() - 4, e.end()),
            (Events{"cleared", "Update on", "Close on", "Default on"}));
  EXPECT_EQ(rig.port->written.substr(rig.port->written.size() - 3), " qx");
  EXPECT_EQ(rig.controller->lastUploadCode(), 0);
}

TEST(Commands, DefaultKeepsTheUnitsChannel) {
  Rig rig;
  const std::string record = makeRecord(distinctValues());  // channel 3
  rig.load({record});
  rig.port->written.clear();
  rig.answer(record);
  rig.controller->runDefaultCommand();
  EXPECT_EQ(rig.port->written, test::defaultUpload(3) + test::kReadBackRequest);
}

TEST(Commands, AClosedPortUploadsNothingSaysNothingAndTheReadBackReports) {
  Rig rig;
  rig.port->failures["Open"] = kPortAlreadyOpen;
  rig.load({});
  // No read-back ran: "Update" sends nothing and says so.
  EXPECT_EQ(rig.controller->runUpdateCommand(), UploadOutcome::UnreadSlots);
  EXPECT_EQ(rig.controller->lastUploadCode(), 0);
  EXPECT_EQ(rig.notifier.messages,
            std::vector<std::string>{
                "Nothing was sent to the unit. Its set-up has not been read back, so \"Update\" "
                "would have overwritten it with values the unit never reported. Check comms.ini, "
                "the port and the cable, then read the unit back."});
  EXPECT_EQ(rig.buttons(), Events{});
}

// The line fails partway through "Default": no byte after the failed write, a
// message of its own saying how far the pass got, then the read-back's; nothing
// shows as the unit's.
TEST(Commands, AnUploadThatBreaksOffSaysHowFarItGot) {
  struct Case {
    int sentBeforeFailure;
    PassBreak broke;
    const char* text;
  };
  const std::string tail =
      ". The unit may hold part of the new set-up. No backup of the set-up from before the "
      "upload was written.";
  const Case cases[] = {
      {0, {0, 69, 0}, "The upload stopped after 0 of 69 bytes, in slot 0, Channel No.(1-4)"},
      {23, {23, 69, 10}, "The upload stopped after 23 of 69 bytes, in slot 10, Depth Clock"},
      {68, {68, 69, 33}, "The upload stopped after 68 of 69 bytes, in slot 33"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Rig rig;
    const std::string record = makeRecord(distinctValues());  // channel 3
    rig.load({record});
    rig.port->written.clear();
    int sent = 0;
    const auto failAfter = [&rig, &sent, n = c.sentBeforeFailure] {
      if (sent == n) rig.port->failures["Write"] = kDeviceIo;
    };
    failAfter();
    rig.port->onByte = [&](unsigned char) {
      ++sent;
      failAfter();
    };
    rig.answer(record);
    EXPECT_EQ(rig.controller->runDefaultCommand(), UploadOutcome::Sent);
    EXPECT_EQ(rig.port->written,
              test::defaultUpload(3).substr(0, static_cast<std::size_t>(c.sentBeforeFailure)));
    ASSERT_TRUE(rig.controller->lastUploadBreak().has_value());
    EXPECT_EQ(rig.controller->lastUploadBreak()->sent, c.broke.sent);
    EXPECT_EQ(rig.controller->lastUploadBreak()->total, c.broke.total);
    EXPECT_EQ(rig.controller->lastUploadBreak()->slot, c.broke.slot);
    EXPECT_EQ(rig.controller->lastUploadCode(), kDeviceIo);
    EXPECT_EQ(rig.notifier.messages,
              (std::vector<std::string>{c.text + tail, test::kShortReplyMessage}));
    for (int i = 0; i < 32; ++i) EXPECT_EQ(rig.view.rows[i].current, "") << i;
  }
}

TEST(Commands, AWholeUploadLeavesNoBreakBehind) {
  Rig rig;
  const std::string record = makeRecord(distinctValues());
  rig.load({record});
  rig.port->failures["Write"] = kDeviceIo;
  rig.answer(record);
  rig.controller->runDefaultCommand();
  ASSERT_TRUE(rig.controller->lastUploadBreak().has_value());
  rig.port->failures.clear();
  rig.answer(record);
  rig.controller->readBack();
  rig.answer(record);
  EXPECT_EQ(rig.controller->runDefaultCommand(), UploadOutcome::Sent);
  EXPECT_FALSE(rig.controller->lastUploadBreak().has_value());
  EXPECT_EQ(rig.controller->lastUploadCode(), 0);
}

TEST(Commands, ProgressOfTheUploadAndTheReadBack) {
  Rig rig;
  const std::string record = makeRecord(distinctValues());
  rig.load({record});
  int lastSent = 0, reports = 0;
  std::vector<ReadBackPhase> phases;
  ExchangeObserver watch;
  watch.uploadProgress = [&](int sent, int total) {
    EXPECT_EQ(total, 69);
    lastSent = sent;
    ++reports;
  };
  watch.readBackPhase = [&](ReadBackPhase p) { phases.push_back(p); };
  rig.controller->setProgressObserver(watch);
  rig.answer(record);
  rig.controller->runDefaultCommand();
  EXPECT_EQ(reports, 69);
  EXPECT_EQ(lastSent, 69);
  EXPECT_EQ(phases.size(), 4u);
  EXPECT_EQ(phases.back(), ReadBackPhase::Done);
}

}  // namespace
}  // namespace ku
