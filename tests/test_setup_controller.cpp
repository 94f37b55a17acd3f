// The window's guards and set-up files on the controller, with a scripted unit:
// no upload over unread slots, a backup before every upload, opening and saving.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/unit_controller.h"
#include "expected.h"
#include "fakes.h"

namespace ku {
namespace {

// The unit's record: the built-in defaults on channel 3 (slot 0 = 2), Tx Pulse
// Integral 1234 (low byte first), Tolvek String 7.
const std::string kRecord(
    "\x02\x00\x00\x02"
    "\x03\x1F"
    "\x02\x66"
    "\x0A\x0E\xCD\x12\x13\x0E\x3F\x18\x5F\x3B\x30\x3E\x00\x24\x40\x00\x64\x64\x00\x64\x64"
    "\x01\x0B"
    "\x01\x0B"
    "\x00\x00"
    "\xD2\x04"
    "\x07",
    38);

const test::UploadValues kDefaults = {2,  0,  0,   2,   799, 614, 10,  14,  205, 18,
                                      19, 14, 63,  24,  95,  59,  48,  62,  0,   36,
                                      64, 0,  100, 100, 0,   100, 100, 267, 267, 0};

std::string fileText(const std::string& path) {
  QFile f(QString::fromStdString(path));
  if (!f.open(QIODevice::ReadOnly)) return "<unreadable>";
  return f.readAll().toStdString();
}

class SetupController : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    QFile ini(dir.filePath("comms.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("Port,1\r\n");
    ini.close();
    initAppContext(context, dir.path().toStdString());  // no reference database: refreshes fail
    context.backupsDir = dir.filePath("backups").toStdString();
    context.programName = "kuutil 1.2";
  }

  // Loads the window against a unit that answers "x" with reply.
  void load(const std::string& reply) {
    auto p = std::make_unique<test::FakeSerialPort>();
    port = p.get();
    port->onByte = [this, reply](unsigned char c) {
      if (c == 'x') port->replies.push_back(reply);
    };
    opener = makeMdbOpener();
    controller =
        std::make_unique<UnitController>(context, view, notifier, sleeper, std::move(p), *opener);
    view.attach(controller.get());
    controller->openLink();
    port->written.clear();
  }

  std::vector<BackupEntry> backups() const { return listBackups(context.backupsDir); }

  QTemporaryDir dir;
  AppContext context;
  RecordingUnitView view;
  test::RecordingNotifier notifier;
  test::FakeSleeper sleeper;
  test::FakeSerialPort* port = nullptr;
  std::unique_ptr<ReferenceDatabaseOpener> opener;
  std::unique_ptr<UnitController> controller;
};

TEST_F(SetupController, ARecordCutAfter20BytesStopsUpdateAndDefault) {
  load(kRecord.substr(0, 20));
  ASSERT_EQ(
      notifier.messages,
      std::vector<std::string>{"Couldnot get Any or Full string from KU,please verify connection"});
  notifier.messages.clear();

  EXPECT_EQ(controller->runUpdateCommand(), UploadOutcome::UnreadSlots);
  EXPECT_EQ(port->written, "");  // not one byte
  ASSERT_EQ(notifier.messages.size(), 1u);
  EXPECT_EQ(notifier.messages[0],
            "Nothing was sent to the unit. The last read-back did not get these slots from the "
            "unit: slot 18 (E/S Gain), slot 19 (Gimble Gain), slot 20 (RF Gain), slot 21 (RF1 Q "
            "Pot), slot 22 (RF1 Tune 1 Pot), slot 23 (RF1 Tune 2 Pot), slot 24 (RF2 Q Pot), slot "
            "25 (RF2 Tune1 Pot), slot 26 (RF2 Tune 2 Pot), slot 27 (E1 Int Constant), slot 28 (E2 "
            "Int Constant), slot 29 (Tx Int Const). \"Update\" sends every slot and would have "
            "overwritten them with values the unit never reported. Check the cable and the unit's "
            "power, then read the unit back, or type a value for each of these slots, and press "
            "\"Update\" again.");
  EXPECT_TRUE(view.updateEnabled && view.defaultEnabled && view.closeEnabled);
  EXPECT_TRUE(backups().empty());

  // "Default" keeps only the channel, which did arrive; but 20 characters are
  // not the unit's record, so the channel may not be the unit's either.
  notifier.messages.clear();
  EXPECT_EQ(controller->runDefaultCommand(), UploadOutcome::NotTheRecord);
  EXPECT_EQ(port->written, "");
  EXPECT_EQ(notifier.messages, std::vector<std::string>{
                                   "The unit's reply held 20 characters where its record has "
                                   "38: another device or noise on this line? Nothing was sent."});
  EXPECT_TRUE(backups().empty());
}

TEST_F(SetupController, ASilentUnitStopsDefault) {
  load("");
  notifier.messages.clear();
  EXPECT_EQ(controller->runDefaultCommand(), UploadOutcome::UnreadSlots);
  EXPECT_EQ(port->written, "");
  EXPECT_EQ(notifier.messages,
            std::vector<std::string>{
                "Nothing was sent to the unit. The last read-back did not get the unit's channel "
                "(slot 0 (Channel No.(1-4))), which \"Default\" keeps. Check the cable and the "
                "unit's power, then read the unit back and press \"Default\" again."});
}

TEST_F(SetupController, UpdateWritesABackupOfTheReadBackFirstAndSendsAsBefore) {
  load(kRecord);
  view.setEntryText(4, "1000");
  EXPECT_EQ(controller->runUpdateCommand(), UploadOutcome::Sent);
  test::UploadValues sent = kDefaults;
  sent[4] = 1000;
  EXPECT_EQ(port->written, test::uploadOf(sent) + " qx");

  const std::vector<BackupEntry> list = backups();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].path, controller->lastBackupPath());
  const UnitSetup b = readSetupFile(list[0].path);
  EXPECT_EQ(b.program, "kuutil 1.2");
  EXPECT_EQ(b.values[4], 799);  // what the unit held, not the entry
  EXPECT_EQ(b.values[0], 2);
  EXPECT_EQ(b.values[30], 1234);
  EXPECT_EQ(b.values[31], 7);
  EXPECT_NE(fileText(list[0].path).find(R"({"slot": 8, "name": "Ramp Start", "value": 205},)"),
            std::string::npos);

  EXPECT_EQ(controller->runDefaultCommand(), UploadOutcome::Sent);
  EXPECT_EQ(backups().size(), 2u);
  EXPECT_TRUE(view.questions.empty());
}

TEST_F(SetupController, WithoutABackupTheOperatorIsAskedAndNoMeansNothingSent) {
  QFile blocker(dir.filePath("blocker"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  context.backupsDir = dir.filePath("blocker/backups").toStdString();
  load(kRecord);

  view.answer = false;
  EXPECT_EQ(controller->runUpdateCommand(), UploadOutcome::NoBackup);
  EXPECT_EQ(port->written, "");
  ASSERT_EQ(view.questions.size(), 1u);
  EXPECT_EQ(view.questions[0],
            "The backup of the unit's set-up could not be written to \"" + context.backupsDir +
                "\": Not a directory.\n\nWithout a backup, the unit's present set-up cannot be "
                "restored later. Upload anyway?");

  view.answer = true;
  EXPECT_EQ(controller->runDefaultCommand(), UploadOutcome::Sent);
  EXPECT_EQ(port->written, test::uploadOf(kDefaults) + " qx");
  EXPECT_EQ(view.questions.size(), 2u);
}

TEST_F(SetupController, OpeningAFileFillsOnlyTheBoxesThatDiffer) {
  load(kRecord);
  view.setEntryText(9, "77");  // an earlier entry that the file does not change: emptied
  UnitSetup file = controller->readBackSetup();
  file.values[0] = 3;  // never laid over
  file.values[4] = 32000;
  file.values[8] = 255;
  file.values[30] = 99;  // never laid over
  const std::string path = dir.filePath("a.json").toStdString();
  writeSetupFile(path, file);

  const SetupOpening opening = controller->openSetupFile(path);
  ASSERT_EQ(opening.outcome, OpenOutcome::Opened);
  EXPECT_EQ(opening.differing, 2);  // slots 4 and 8
  for (int s = 0; s < 32; ++s) {
    SCOPED_TRACE(s);
    EXPECT_EQ(view.entryText(s), s == 4 ? "32000" : s == 8 ? "255" : "");
  }
  EXPECT_TRUE(notifier.messages.empty());
  EXPECT_EQ(controller->runUpdateCommand(), UploadOutcome::Sent);
  test::UploadValues sent = kDefaults;
  sent[4] = 32000;
  sent[8] = 255;
  EXPECT_EQ(port->written, test::uploadOf(sent) + " qx");
}

// What a file would put into the boxes, decided without a word to the operator
// and without touching a box: nothing when the unit holds it, the differing
// values, or the slot whose box refuses the file's value.
TEST_F(SetupController, EntriesOfASetupAreDecidedWithoutTouchingTheBoxes) {
  load(kRecord);
  struct Case {
    const char* name;
    std::vector<std::pair<int, int>> changes;  // slot, the file's value
    OpenOutcome outcome;
    std::array<const char*, 3> boxes4and8and30;
    int differing;
    int refusedSlot;
  };
  const Case cases[] = {
      {"the unit's own set-up", {}, OpenOutcome::NothingDiffers, {"", "", ""}, 0, -1},
      {"two values differ",
       {{4, 32000}, {8, 255}, {30, 99}},
       OpenOutcome::Opened,
       {"32000", "255", ""},
       2,
       -1},
      {"a value its box refuses", {{4, 1}, {8, -5}}, OpenOutcome::Refused, {"", "", ""}, 0, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UnitSetup file = controller->readBackSetup();
    for (const auto& [slot, value] : c.changes)
      file.values[slot] = static_cast<std::int16_t>(value);
    const SetupOpening opening = controller->entriesOfSetup(file);
    EXPECT_EQ(opening.outcome, c.outcome);
    EXPECT_EQ(opening.entries[4], c.boxes4and8and30[0]);
    EXPECT_EQ(opening.entries[8], c.boxes4and8and30[1]);
    EXPECT_EQ(opening.entries[30], c.boxes4and8and30[2]);
    EXPECT_EQ(opening.differing, c.differing);
    EXPECT_EQ(opening.slot, c.refusedSlot);
    EXPECT_EQ(opening.refusal, c.refusedSlot < 0 ? OpenRefusal::None : OpenRefusal::EntryRefused);
    EXPECT_EQ(opening.text, c.refusedSlot < 0 ? "" : "-5");
    EXPECT_TRUE(notifier.messages.empty());
    for (int s = 0; s < 32; ++s) {
      EXPECT_EQ(view.entryText(s), "") << s;
    }
  }
}

// A backup of another channel, and the operator says no: refused for that.
TEST_F(SetupController, ABackupOfAnotherUnitNotTakenIsRefusedAsSuch) {
  load(kRecord);
  UnitSetup other = controller->readBackSetup();
  other.values[0] = 1;  // channel 2, where the unit is on 3
  other.values[8] = 100;
  const std::string path = dir.filePath("other.json").toStdString();
  writeSetupFile(path, other);

  view.answer = false;
  const SetupOpening no = controller->openBackup(path);
  EXPECT_EQ(no.outcome, OpenOutcome::Refused);
  EXPECT_EQ(no.refusal, OpenRefusal::OtherUnit);
  EXPECT_EQ(view.entryText(8), "");
  view.answer = true;
  const SetupOpening yes = controller->openBackup(path);
  EXPECT_EQ(yes.outcome, OpenOutcome::Opened);
  EXPECT_EQ(yes.differing, 1);
  EXPECT_EQ(view.entryText(8), "100");
  EXPECT_EQ(view.questions.size(), 2u);
}

// Entries given with "Update" count as typed for the unread-slot guard, but
// a refused upload leaves them out of the boxes; the refused slots are kept for
// a front end that words the refusal itself.
TEST_F(SetupController, UpdateWithEntriesIsRefusedBeforeTheyReachTheBoxes) {
  load(kRecord.substr(0, 20));  // slots 18 to 31 unread
  notifier.messages.clear();
  controller->setUnreadRefusalsTold(false);
  EXPECT_EQ(controller->runUpdateCommand({{4, "100"}, {18, "5"}}, kBackupBeforeUpdate),
            UploadOutcome::UnreadSlots);
  EXPECT_EQ(controller->refusedUnreadSlots(),
            (std::vector<int>{19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29}));
  EXPECT_EQ(view.entryText(4), "");
  EXPECT_EQ(view.entryText(18), "");
  EXPECT_TRUE(notifier.messages.empty());
  EXPECT_EQ(port->written, "");

  controller->setUnreadRefusalsTold(true);
  EXPECT_EQ(controller->runDefaultCommand(), UploadOutcome::NotTheRecord);
  EXPECT_TRUE(controller->refusedUnreadSlots().empty());  // the channel was read
  EXPECT_EQ(controller->saveSetupFile(dir.filePath("s.json").toStdString()).outcome,
            SaveOutcome::UnreadSlots);
  EXPECT_EQ(controller->refusedUnreadSlots().front(), 18);
  EXPECT_EQ(notifier.messages.size(), 2u);  // the reply, then the save refused
  EXPECT_EQ(port->written, "");
}

TEST_F(SetupController, ARefusedFileChangesNoBox) {
  load(kRecord);
  view.setEntryText(9, "77");
  const std::string path = dir.filePath("bad.json").toStdString();
  QFile f(QString::fromStdString(path));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(setupToJson(controller->readBackSetup()).replace("\"value\": 205", "\"value\": 256"));
  f.close();

  const SetupOpening opening = controller->openSetupFile(path);
  EXPECT_EQ(opening.outcome, OpenOutcome::Refused);
  EXPECT_EQ(opening.refusal, OpenRefusal::Unreadable);
  EXPECT_EQ(notifier.messages,
            std::vector<std::string>{"Cannot use the set-up file \"" + path +
                                     "\": slot 8 (Ramp Start) holds 256, outside its limit of 0 "
                                     "to 255."});
  EXPECT_EQ(view.entryText(9), "77");
  EXPECT_EQ(view.entryText(8), "");
}

TEST_F(SetupController, SavingWritesTheReadBackAndRefusesAnIncompleteOne) {
  load(kRecord);
  view.setEntryText(4, "1000");  // an entry is not the unit's set-up
  const std::string path = dir.filePath("saved.json").toStdString();
  ASSERT_EQ(controller->saveSetupFile(path).outcome, SaveOutcome::Saved);
  const UnitSetup s = readSetupFile(path);
  EXPECT_EQ(s.values[4], 799);
  EXPECT_EQ(s.values[30], 1234);
  EXPECT_EQ(s.program, "kuutil 1.2");

  load(kRecord.substr(0, 36));  // slots 30 and 31 cut off
  notifier.messages.clear();
  const std::string second = dir.filePath("second.json").toStdString();
  const SetupSaving saving = controller->saveSetupFile(second);
  EXPECT_EQ(saving.outcome, SaveOutcome::UnreadSlots);
  EXPECT_EQ(saving.unread, (std::vector<int>{30, 31}));
  EXPECT_FALSE(QFile::exists(QString::fromStdString(second)));
  EXPECT_EQ(notifier.messages,
            std::vector<std::string>{
                "The unit's set-up was not saved: the last read-back did not get slot 30 (Tx "
                "Pulse Integral), slot 31 (Tolvek String) from the unit. Check the cable and the "
                "unit's power, then read the unit back and save again."});
}

}  // namespace
}  // namespace ku
