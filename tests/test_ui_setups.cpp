// The main window's File menu: Open set-up..., Save set-up... and Restore
// backup..., driven through their actions with the file dialogs answered by the
// test, against a scripted unit behind the fake port.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "app/backups.h"
#include "app/setup_file.h"
#include "expected.h"
#include "test_ui_support.h"
#include "ui/setup_dialogs.h"

namespace ku::test {
namespace {

const ::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

using ui::MainWindow;

// Answers the window's file dialogs with set paths, and keeps what it was asked.
class ScriptedChooser : public ui::SetupFileChooser {
 public:
  QString openAnswer, saveAnswer, backupAnswer;
  QString offeredFirst;  // the backup the window asked to be chosen to begin with
  QString openFolder, suggested;
  std::vector<BackupEntry> offered;
  int backupAsked = 0;
  int saveAsked = 0;

  QString fileToOpen(QWidget*, const QString& folder) override {
    openFolder = folder;
    return openAnswer;
  }
  QString fileToSave(QWidget*, const QString& suggestedPath) override {
    ++saveAsked;
    suggested = suggestedPath;
    return saveAnswer;
  }
  QString backupToRestore(QWidget*, const std::vector<BackupEntry>& backups,
                          const QString& preselected) override {
    ++backupAsked;
    offered = backups;
    offeredFirst = preselected;
    return backupAnswer;
  }
};

class FileMenuTest : public FakeUnitWindowTest<> {
 protected:
  void SetUp() override {
    FakeUnitWindowTest::SetUp();
    dir.writeCommsIni("\"Port\",1\n");
    dir.copyReferenceDb();
    context.backupsDir = files.filePath("backups").toStdString();
    context.programName = "kuutil 1.2";
  }

  MainWindow* open() {
    return openWindow({}, [this](ui::MainWindowDeps& deps) { deps.chooser = &chooser; });
  }
  QString path(const char* name) { return files.filePath(QString::fromUtf8(name)); }
  std::vector<std::string> boxes() {
    std::vector<std::string> texts;
    for (int k = 0; k < 32; ++k) texts.push_back(entryBox(form.get(), k)->text().toStdString());
    return texts;
  }
  // A set-up file holding the unit's values, with some slots changed.
  void writeFile(const QString& file, const std::map<int, int>& changes) {
    UnitSetup s;
    s.saved = "2026-12-07T09:00:00.000Z";
    s.program = "kuctl 1.2";
    s.device = "/dev/ttyUSB0";
    for (int k = 0; k < 32; ++k) s.values[static_cast<std::size_t>(k)] = unit.values[k];
    for (const auto& c : changes) s.values[static_cast<std::size_t>(c.first)] = c.second;
    writeSetupFile(file.toStdString(), s);
  }
  void writeText(const QString& file, const QByteArray& text) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
  }

  QTemporaryDir files;
  ScriptedChooser chooser;
};

const QRegularExpression kClock(QStringLiteral(" at \\d\\d:\\d\\d:\\d\\d$"));

TEST_F(FileMenuTest, FileMenuHoldsTheSetupCommandsAboveQuit) {
  MainWindow* w = open();
  QMenu* file = child<QMenu>(w, "fileMenu");
  QStringList texts;
  for (QAction* a : file->actions()) texts << a->text();
  EXPECT_EQ(texts,
            (QStringList{"&Open set-up...", "&Save set-up...", "&Restore backup...", "", "&Quit"}));
  EXPECT_EQ(action("openSetup")->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
  EXPECT_EQ(action("saveSetup")->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
  for (const char* name : {"openSetup", "saveSetup", "restoreBackup"})
    EXPECT_FALSE(action(name)->statusTip().isEmpty()) << name;
  // The form below the menu bar keeps its size.
  EXPECT_EQ(child<QWidget>(w, "form")->size(), QSize(676, 697));
}

TEST_F(FileMenuTest, OpenPutsWhatDiffersIntoTheBoxesAndUpdateSendsIt) {
  unit.values[4] = 799;
  unit.values[8] = 40;
  unit.values[20] = 100;
  open();
  ASSERT_EQ(unit.received, " qx");
  writeFile(path("a.json"), {{4, 1000}, {8, 77}, {0, 3}, {31, 1}});  // 0 and 31 are never sent
  QTest::keyClicks(entryBox(form.get(), 20), "55");  // a box the file agrees with is emptied

  chooser.openAnswer = path("a.json");
  std::string question;
  answerNextQuestion(QMessageBox::Yes, &question);
  action("openSetup")->trigger();
  EXPECT_EQ(question, "Discard 1 typed entry?");
  EXPECT_EQ(chooser.openFolder, QDir::homePath());
  std::vector<std::string> expected(32);
  expected[4] = "1000";
  expected[8] = "77";
  EXPECT_EQ(boxes(), expected);
  EXPECT_TRUE(notifier.messages.empty());
  EXPECT_TRUE(status().startsWith("Opened a.json: 2 values differ, now in the boxes at "))
      << status().toStdString();
  EXPECT_TRUE(status().contains(kClock));
  EXPECT_EQ(unit.received, " qx") << "opening a file sends nothing";

  button(form.get(), "update")->click();
  settle();
  EXPECT_EQ(unit.values[4], 1000);
  EXPECT_EQ(unit.values[8], 77);
  EXPECT_EQ(unit.values[20], 100);
  EXPECT_EQ(unit.values[0], 2);
  EXPECT_EQ(labelText(form.get(), "current_4"), "1000");

  // The same file again: the unit holds it now, nothing goes into the boxes.
  chooser.openAnswer = path("a.json");
  action("openSetup")->trigger();
  EXPECT_EQ(boxes(), std::vector<std::string>(32));
  EXPECT_TRUE(status().startsWith("Opened a.json: it holds the unit's set-up; nothing to send at "))
      << status().toStdString();
  EXPECT_EQ(chooser.openFolder, files.path()) << "the next dialog starts where the last file was";

  // Cancelling the dialog changes nothing.
  QTest::keyClicks(entryBox(form.get(), 5), "12");
  chooser.openAnswer.clear();
  const QString before = status();
  answerNextQuestion(QMessageBox::Yes, &question);
  action("openSetup")->trigger();
  EXPECT_EQ(entryBox(form.get(), 5)->text(), "12");
  EXPECT_EQ(status(), before);
}

TEST_F(FileMenuTest, ABadFileIsRefusedWholeNamingFileAndSlot) {
  open();
  QTest::keyClicks(entryBox(form.get(), 6), "9");
  writeFile(path("limit.json"), {{1, 2}, {4, 32001}});  // one value beyond its box's limit
  writeFile(path("fraction.json"), {{8, 7}});
  QFile fraction(path("fraction.json"));
  ASSERT_TRUE(fraction.open(QIODevice::ReadOnly));
  QByteArray text = fraction.readAll();
  fraction.close();
  writeText(path("fraction.json"), text.replace("\"value\": 7}", "\"value\": 7.5}"));
  writeText(path("notjson.json"), "{\"format\": \"ku-setup\", ");
  writeText(path("other.json"), R"({"format":"something-else","version":1,"slots":[]})");
  struct Case {
    const char* name;
    const char* says;
  };
  const Case cases[] = {
      {"limit.json", "slot 4 (Test Frequency)"},
      {"fraction.json", "slot 8 (Ramp Start)"},
      {"notjson.json", "it is not JSON"},
      {"other.json", "something-else"},
  };
  for (const Case& c : cases) {
    notifier.messages.clear();
    chooser.openAnswer = path(c.name);
    std::string question;
    answerNextQuestion(QMessageBox::Yes, &question);  // the typed entry may go
    action("openSetup")->trigger();
    EXPECT_EQ(question, "Discard 1 typed entry?");
    ASSERT_EQ(notifier.messages.size(), 1u) << c.name;
    const std::string& m = notifier.messages[0];
    EXPECT_EQ(m.rfind("Cannot use the set-up file \"" + path(c.name).toStdString() + "\": ", 0), 0u)
        << m;
    EXPECT_NE(m.find(c.says), std::string::npos) << m;
    std::vector<std::string> expected(32);
    expected[6] = "9";
    EXPECT_EQ(boxes(), expected) << c.name;
    EXPECT_TRUE(status().startsWith(QStringLiteral("Did not open ") + c.name + " at "))
        << status().toStdString();
  }
  EXPECT_EQ(unit.received, " qx");
}

TEST_F(FileMenuTest, SaveWritesTheSetupReadBackLast) {
  unit.values[4] = 1234;
  unit.values[30] = 300;
  open();
  chooser.saveAnswer = path("unit.json");
  action("saveSetup")->trigger();
  EXPECT_EQ(
      chooser.suggested,
      QDir::home().filePath("ku-setup-" +
                            QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) + ".json"));
  EXPECT_TRUE(notifier.messages.empty());
  EXPECT_TRUE(status().startsWith("Saved the unit's set-up to unit.json at "))
      << status().toStdString();
  const UnitSetup saved = readSetupFile(path("unit.json").toStdString());
  for (int k = 0; k < 32; ++k) EXPECT_EQ(saved.values[k], unit.values[k]) << "slot " << k;
  EXPECT_EQ(saved.values[4], 1234);
  EXPECT_EQ(saved.program, "kuutil 1.2");
  EXPECT_EQ(unit.received, " qx") << "saving reads nothing more from the unit";
}

// After a short record the status bar says what came; the report then holds the
// status line, the reply in hex, the connection check's lines and the trace of
// the exchanges.
TEST_F(FileMenuTest, DiagnosticReportAfterAShortRecordHoldsTheReplyAndTheTrace) {
  open();
  port->onByte = nullptr;
  port->replies = {"", unit.record().substr(0, 20)};
  form->readBackUnit();
  settle();
  EXPECT_NE(status().indexOf(QStringLiteral("; received 20 of 38 characters. Unit > Check "
                                            "connection... looks at the line")),
            -1)
      << status().toStdString();
  const std::string shown = status().toStdString();
  form->noteConnectionCheck(QStringLiteral("verdict: short-record\n"));

  chooser.saveAnswer = path("report.txt");
  action("diagnosticReport")->trigger();
  EXPECT_EQ(
      chooser.suggested,
      QDir::home().filePath("ku-report-" + QDate::currentDate().toString(Qt::ISODate) + ".txt"));
  EXPECT_TRUE(status().startsWith("Saved the diagnostic report to " + path("report.txt")))
      << status().toStdString();
  QFile f(path("report.txt"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const std::string report = f.readAll().toStdString();
  for (const std::string& part :
       {std::string("program:  kuutil "), "\n== Status bar ==\n" + shown + "\n",
        std::string("\n== Last read-back ==\nreceived 20 of 38 characters\n0000  "),
        std::string("\n== Connection check ==\nverdict: short-record\n"),
        std::string(" write 1 78 \"x\"\n"), std::string(" record 20 characters, ")})
    EXPECT_NE(report.find(part), std::string::npos) << part << "\n" << report;
}

TEST_F(FileMenuTest, SaveAfterAShortRecordWritesNothing) {
  open();
  // The unit's record stops after 20 characters from now on.
  port->onByte = nullptr;
  port->replies.clear();
  port->replies.push_back("");
  port->replies.push_back(unit.record().substr(0, 20));
  notifier.messages.clear();
  form->readBackUnit();
  settle();
  ASSERT_EQ(notifier.messages.size(), 1u);
  notifier.messages.clear();

  // Said in one line before any file is asked for: 18 of the 32 slots came.
  chooser.saveAnswer = path("short.json");
  action("saveSetup")->trigger();
  EXPECT_EQ(notifier.messages,
            std::vector<std::string>{"14 slots were not read back; read the unit back first"});
  EXPECT_EQ(chooser.saveAsked, 0);
  EXPECT_FALSE(QFile::exists(path("short.json")));
  EXPECT_TRUE(status().startsWith("Did not save the set-up: 14 slots were not read back at "))
      << status().toStdString();
}

TEST_F(FileMenuTest, RestoreOffersTheBackupsAndOpensTheChosenOne) {
  unit.values[4] = 799;
  open();
  // Nothing uploaded yet: no backup, and the operator is told where they will be.
  action("restoreBackup")->trigger();
  ASSERT_EQ(notifier.messages.size(), 1u);
  EXPECT_EQ(notifier.messages[0], "There is no backup yet. One is written to " +
                                      context.backupsDir + " before every upload.");
  EXPECT_EQ(chooser.backupAsked, 0);
  notifier.messages.clear();

  QTest::keyClicks(entryBox(form.get(), 4), "1000");
  button(form.get(), "update")->click();
  settle();
  ASSERT_EQ(unit.values[4], 1000);

  chooser.backupAnswer.clear();
  action("restoreBackup")->trigger();  // cancelled: nothing changes
  ASSERT_EQ(chooser.offered.size(), 1u);
  EXPECT_TRUE(chooser.offered[0].problem.empty()) << chooser.offered[0].problem;
  EXPECT_EQ(boxes(), std::vector<std::string>(32));

  // The fake port names no device, so the backup does not say which port it is
  // of: the window asks first, listing that.
  chooser.backupAnswer = QString::fromStdString(chooser.offered[0].path);
  std::string question;
  answerNextQuestion(QMessageBox::Yes, &question);
  action("restoreBackup")->trigger();
  EXPECT_EQ(question,
            "This backup is not of the unit read back last:\n- it does not record the port it "
            "was read from\n\nOpen it anyway? Its values go into the boxes; \"Update\" sends "
            "them.");
  std::vector<std::string> expected(32);
  expected[4] = "799";
  EXPECT_EQ(boxes(), expected);
  EXPECT_EQ(status().toStdString().rfind("Opened the backup of " + chooser.offered[0].time +
                                             ": 1 value differs, now in the boxes at ",
                                         0),
            0u)
      << status().toStdString();
  button(form.get(), "update")->click();
  settle();
  EXPECT_EQ(unit.values[4], 799);
  EXPECT_TRUE(notifier.messages.empty());
  const std::vector<BackupEntry> after = listBackups(context.backupsDir);
  ASSERT_EQ(after.size(), 2u) << "the restore's upload was backed up too";
  EXPECT_EQ(after[0].reason, "restore");
  EXPECT_EQ(after[1].reason, "update");
}

// The line fails partway through "Update": the window says how far the pass got
// and where the set-up from before is, in a message of its own ahead of the
// read-back's; nothing shows as the unit's, the entry stays, the status line has
// words for it, and File > Restore backup offers that backup first.
TEST_F(FileMenuTest, AnUploadThatBreaksOffSaysSoAndOffersTheBackupFromBefore) {
  open();
  QTest::keyClicks(entryBox(form.get(), 11), "99");
  int passBytes = 0;
  unit.beforeByte = [&](unsigned char) {
    if (++passBytes == 23) port->failures["Write"] = kDeviceIo;  // the 24th byte fails
  };
  button(form.get(), "update")->click();
  settle();
  const std::vector<BackupEntry> backups = listBackups(context.backupsDir);
  ASSERT_EQ(backups.size(), 1u);
  ASSERT_EQ(notifier.messages.size(), 2u);
  EXPECT_EQ(notifier.messages[0],
            "The upload stopped after 23 of 69 bytes, in slot 10, Depth Clock. The unit may hold "
            "part of the new set-up. The set-up from before the upload is in the backup " +
                backups[0].path +
                "; File > Restore backup (kuctl restore with that file) puts it back.");
  EXPECT_EQ(notifier.messages[1], kShortReplyMessage);
  EXPECT_EQ(labelText(form.get(), "current_11"), "");
  EXPECT_EQ(child<QLabel>(form.get(), "current_11")->toolTip(), "not read back");
  EXPECT_EQ(entryBox(form.get(), 11)->text(), "99");
  EXPECT_EQ(status().toStdString().rfind("The upload of the set-up stopped after 23 of 69 bytes (a "
                                         "read or write on the port failed); read back 0 of 32 "
                                         "slots at ",
                                         0),
            0u)
      << status().toStdString();

  chooser.backupAnswer.clear();
  std::string question;
  answerNextQuestion(QMessageBox::Yes, &question);  // "99" is still in its box
  action("restoreBackup")->trigger();
  EXPECT_EQ(question, "Discard 1 typed entry?");
  EXPECT_EQ(chooser.offeredFirst.toStdString(), backups[0].path);
}

TEST(BackupDialog, ListsTimePortChannelReasonAndOnlyUsableBackupsCanBeChosen) {
  const auto entry = [](const char* path, const char* time, UnitIdentity unit, const char* reason,
                        const char* problem) {
    BackupEntry b;
    b.path = path;
    b.time = time;
    b.unit = std::move(unit);
    b.reason = reason;
    b.problem = problem;
    return b;
  };
  const std::vector<BackupEntry> list = {
      entry("/b/2026-12-07T10-00-00.000Z.json", "2026-12-07 10:00:00.000 UTC",
            {"/dev/ttyUSB0", "", std::nullopt}, "",
            "Cannot use the set-up file: slot 9 is missing."),
      entry("/b/2026-12-06T09-15-02.481Z.json", "2026-12-06 09:15:02.481 UTC",
            {"/dev/ttyS0", "", std::int16_t{2}}, "defaults", ""),
      entry("/b/2026-12-05T08-00-00.000Z.json", "2026-12-05 08:00:00.000 UTC", {}, "", ""),
  };
  ui::BackupDialog dialog(list);
  auto* tree = dialog.findChild<QTreeWidget*>(QStringLiteral("backups"));
  ASSERT_NE(tree, nullptr);
  ASSERT_EQ(tree->topLevelItemCount(), 3);
  EXPECT_EQ(tree->topLevelItem(1)->text(0), "2026-12-06 09:15:02.481 UTC");
  EXPECT_EQ(tree->topLevelItem(1)->text(1), "/dev/ttyS0");
  EXPECT_EQ(tree->topLevelItem(1)->text(2), "3");  // the unit's channel 2 is channel 3
  EXPECT_EQ(tree->topLevelItem(1)->text(3), "defaults");
  EXPECT_EQ(tree->topLevelItem(2)->text(2), "");  // unknown
  EXPECT_EQ(tree->topLevelItem(0)->text(4), "Cannot use the set-up file: slot 9 is missing.");
  // The newest usable one is chosen to begin with, unless another is asked for.
  EXPECT_EQ(dialog.chosenPath(), "/b/2026-12-06T09-15-02.481Z.json");
  EXPECT_EQ(ui::BackupDialog(list, nullptr, "/b/2026-12-05T08-00-00.000Z.json").chosenPath(),
            "/b/2026-12-05T08-00-00.000Z.json");
  EXPECT_EQ(ui::BackupDialog(list, nullptr, "/b/2026-12-07T10-00-00.000Z.json").chosenPath(),
            "/b/2026-12-06T09-15-02.481Z.json");  // not usable: the newest usable one
  auto* openButton = dialog.findChild<QPushButton*>(QStringLiteral("open"));
  ASSERT_NE(openButton, nullptr);
  EXPECT_TRUE(openButton->isEnabled());
  // A click on the unusable one does not choose it; a click on another does.
  dialog.show();
  auto click = [tree](int row) {
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier,
                      tree->visualItemRect(tree->topLevelItem(row)).center());
  };
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  click(0);
  EXPECT_EQ(dialog.chosenPath(), "");
  EXPECT_FALSE(openButton->isEnabled());
  click(2);
  EXPECT_EQ(dialog.chosenPath(), "/b/2026-12-05T08-00-00.000Z.json");
  EXPECT_TRUE(openButton->isEnabled());
}

TEST(SetupFileName, OfferedNameCarriesTheDate) {
  EXPECT_EQ(ui::suggestedSetupFile("/home/op", QDate(2026, 12, 7)),
            "/home/op/ku-setup-2026-12-07.json");
}

// Typed entries are not thrown away without a word: Unit > Read back asks
// first; No keeps them and sends nothing, Yes reads the unit back.
TEST_F(FileMenuTest, ReadBackAsksBeforeItDiscardsTypedEntries) {
  MainWindow* w = open();
  QTest::keyClicks(entryBox(w, 8), "7");
  QTest::keyClicks(entryBox(w, 9), "8");
  port->written.clear();
  struct Round {
    QMessageBox::StandardButton answer;
    const char* question;
    const char* sent;
    const char* box8After;
  };
  for (const Round& r : {Round{QMessageBox::No, "Discard 2 typed entries?", "", "7"},
                         Round{QMessageBox::Yes, "Discard 1 typed entry?", " qx", ""}}) {
    if (r.answer == QMessageBox::Yes) QTest::keyClick(entryBox(w, 9), Qt::Key_Backspace);
    std::string question;
    answerNextQuestion(r.answer, &question);
    action("readBack")->trigger();
    settle();
    EXPECT_EQ(question, r.question);
    EXPECT_EQ(port->written, r.sent);
    EXPECT_EQ(entryBox(w, 8)->text(), r.box8After);
  }
}

}  // namespace
}  // namespace ku::test
