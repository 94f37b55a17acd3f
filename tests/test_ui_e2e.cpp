// The main window on the real serial port and the real pauses, against the
// simulated unit on a pseudo-terminal.
#include <QAction>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "expected.h"
#include "simulator.h"
#include "test_ui_support.h"
#include "ui/start_up.h"
#include "ui/welcome_window.h"
#include "unit_pace.h"

namespace ku::test {
namespace {

const ::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// The main window with the real port, pauses and database on port N, and the
// simulated unit behind comN; setUp runs before the unit starts.
struct WindowOnTheLine {
  sim::Simulator unit;
  ProgramDir dir;
  AppContext context;
  RecordingNotifier notifier;
  std::unique_ptr<ui::MainWindow> form;

  explicit WindowOnTheLine(int port, const std::function<void(sim::Simulator&)>& setUp = {}) {
    if (setUp) setUp(unit);
    unit.start();
    dir.writeCommsIni(("\"Port\"," + std::to_string(port) + "\n").c_str());
    dir.copyReferenceDb();
    unit.makeLink(dir.path() + "/com" + std::to_string(port));
    initAppContext(context, dir.path());
    context.locale.decimalPoint = ".";
    ui::MainWindowDeps deps;
    deps.notifier = &notifier;  // the port, the pauses and the database are the real ones
    form = std::make_unique<ui::MainWindow>(context, std::move(deps));
  }
};

TEST(WindowWithSimulatedUnit, LoadUpdateAndCloseOverTheLine) {
  WindowOnTheLine line(3, [](sim::Simulator& u) { u.setSlotValue(0, 1); });
  sim::Simulator& unit = line.unit;
  RecordingNotifier& notifier = line.notifier;
  ui::MainWindow& form = *line.form;

  EXPECT_EQ(loadWindow(form).outcome, LoadOutcome::Linked);
  EXPECT_TRUE(notifier.messages.empty());
  EXPECT_EQ(labelText(&form, "current_0"), "2");
  EXPECT_EQ(labelText(&form, "current_4"), "799");
  EXPECT_EQ(labelText(&form, "reference_4"), "50");
  form.show();

  // The Update with the real pauses. The unit gives a command up when its value
  // byte comes more than 30 ms after the byte before it, and its thread may be
  // kept waiting that long on a busy machine (the program's side of the timing
  // is checked by the link's tests): then the Update is made again, up to three
  // times, and the unit's state is compared only after one it kept up with.
  bool keptUp = false;
  for (int attempt = 0; attempt < 3 && !keptUp; ++attempt) {
    unit.clearLog();
    QTest::keyClicks(entryBox(&form, 4), "1000");
    // The window keeps handling its own events (painting) while the pauses run.
    bool handledWhileBusy = false;
    QTimer::singleShot(300, &form, [&] { handledWhileBusy = form.busy(); });
    button(&form, "update")->click();
    ASSERT_TRUE(waitIdle(form));
    EXPECT_TRUE(handledWhileBusy);
    ASSERT_TRUE(unit.waitForLogSize(69 + 3, 10000));  // the pass, then the read-back
    keptUp = longestValueWait(unit.log(), 0) <= kUnitValueWaitMicros;
  }
  if (!keptUp) GTEST_SKIP() << "the unit's thread took value bytes in late three times running";

  EXPECT_EQ(unit.slotValues()[4], 1000);
  EXPECT_EQ(unit.slotValues()[0], 1);
  EXPECT_EQ(labelText(&form, "current_4"), "1000");
  EXPECT_EQ(entryBox(&form, 4)->text(), "");
  EXPECT_TRUE(notifier.messages.empty());

  form.close();
  // The unit's thread takes the close byte in when it next runs: wait for it
  // generously (a busy machine may keep that thread waiting), then check.
  EXPECT_TRUE(QTest::qWaitFor([&] { return unit.closeCount() != 0; }, 10000));
  EXPECT_EQ(unit.closeCount(), 1);
  unit.stop();
}

// The load returns once the record is in, but the unit keeps its second after
// "x": a read-back and the close byte straight after it wait until then.
TEST(WindowWithSimulatedUnit, BytesRightAfterARecordWaitOutTheUnitsSecond) {
  WindowOnTheLine line(4);
  sim::Simulator& unit = line.unit;
  RecordingNotifier& notifier = line.notifier;
  ui::MainWindow& form = *line.form;
  ASSERT_EQ(loadWindow(form).outcome, LoadOutcome::Linked);
  form.show();
  form.readBackUnit();
  ASSERT_TRUE(waitIdle(form));
  EXPECT_TRUE(notifier.messages.empty());
  EXPECT_EQ(labelText(&form, "current_31"), "0");
  form.close();
  ASSERT_TRUE(unit.waitForLogSize(7, 10000));
  const std::vector<sim::LoggedByte> log = unit.log();
  std::string bytes;
  for (const sim::LoggedByte& b : log) bytes.push_back(static_cast<char>(b.byte));
  EXPECT_EQ(bytes, " qx qx!");
  // A second after each byte, the one after "x" included (a byte the unit's
  // thread stamped late is told apart by the spans before it).
  const std::vector<int> pauses(6, 1000);
  for (std::size_t i = 0; i + 1 < log.size(); ++i) EXPECT_EQ(shortGap(log, pauses, i), "");
  unit.stop();
}

// Unit > Read back over the line: the three request bytes and nothing else, the
// status line following it; then "Update" with its progress counted in bytes.
TEST(WindowWithSimulatedUnit, ReadBackAndUploadProgressInTheStatusBar) {
  WindowOnTheLine line(2);
  sim::Simulator& unit = line.unit;
  RecordingNotifier& notifier = line.notifier;
  ui::MainWindow& form = *line.form;
  ASSERT_EQ(loadWindow(form).outcome, LoadOutcome::Linked);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  auto* status = child<QLabel>(&form, "statusText");
  auto* progress = child<QProgressBar>(&form, "progress");

  // The unit changes behind the window's back; Read back shows it.
  unit.setSlotValue(8, 77);
  unit.clearLog();
  QStringList texts;
  std::vector<int> readValues;
  QObject::connect(progress, &QProgressBar::valueChanged, &form, [&](int v) {
    if (!texts.contains(status->text())) texts << status->text();
    readValues.push_back(v);
  });
  child<QAction>(&form, "readBack")->trigger();
  ASSERT_TRUE(waitIdle(form));
  ASSERT_TRUE(unit.waitForLogSize(3, 2000));
  std::string bytes;
  for (const sim::LoggedByte& b : unit.log()) bytes.push_back(static_cast<char>(b.byte));
  EXPECT_EQ(bytes, " qx");
  EXPECT_EQ(texts, QStringList{"Reading the unit back"});
  // The bar moved through the three seconds, not only at their ends.
  const auto between = std::count_if(readValues.begin(), readValues.end(),
                                     [](int v) { return v > 100 && v < 2900 && v % 1000 != 0; });
  EXPECT_GT(between, 3);
  EXPECT_EQ(labelText(&form, "current_8"), "77");
  EXPECT_TRUE(status->text().startsWith("Read back 32 of 32 slots at "))
      << status->text().toStdString();
  EXPECT_FALSE(progress->isVisible());

  // Update: the bar counts the upload's bytes up to 69, then follows the read-back.
  texts.clear();
  std::vector<int> uploadValues;
  QObject::disconnect(progress, nullptr, &form, nullptr);
  QObject::connect(progress, &QProgressBar::valueChanged, &form, [&](int v) {
    if (status->text() == "Uploading") uploadValues.push_back(v);
    if (!texts.contains(status->text())) texts << status->text();
  });
  QTest::keyClicks(entryBox(&form, 4), "1000");
  unit.clearLog();
  button(&form, "update")->click();
  ASSERT_TRUE(waitIdle(form));
  EXPECT_EQ(texts, (QStringList{"Uploading", "Reading the unit back"}));
  ASSERT_FALSE(uploadValues.empty());
  EXPECT_TRUE(std::is_sorted(uploadValues.begin(), uploadValues.end()));
  EXPECT_GT(uploadValues.size(), 30u);
  EXPECT_EQ(uploadValues.back(), kUploadLength);
  EXPECT_TRUE(status->text().startsWith("Uploaded the set-up; read back 32 of 32 slots at "))
      << status->text().toStdString();
  EXPECT_TRUE(notifier.messages.empty());
  // What the unit holds follows the pass only when its thread kept up with it.
  ASSERT_TRUE(unit.waitForLogSize(kUploadLength + 3, 10000));
  if (longestValueWait(unit.log(), 0) <= kUnitValueWaitMicros) {
    EXPECT_EQ(unit.slotValues()[4], 1000);
  }

  form.close();
  unit.stop();
}

// From "------->" against the simulated unit: the main window is on screen and
// live while the start-up read-back runs (a timer fires, Alt+F opens the File
// menu), and a close request then is taken at once and ends, once the
// read-back is over, with the close byte.
TEST(WindowWithSimulatedUnit, StartUpWindowIsLiveDuringTheReadBackAndACloseWaitsForIt) {
  sim::Simulator unit;
  unit.start();
  ProgramDir dir;
  dir.writeCommsIni("\"Port\",6\n");
  dir.copyReferenceDb();
  unit.makeLink(dir.path() + "/com6");
  AppContext context;
  RecordingNotifier notifier;
  QPointer<ui::MainWindow> form;
  QPointer<ui::WelcomeWindow> splash = ui::startUp(context, dir.dir.path(), [&notifier] {
    ui::MainWindowDeps deps;
    deps.notifier = &notifier;
    return deps;
  });
  QObject::connect(splash, &ui::WelcomeWindow::mainWindowShown,
                   [&form](ui::MainWindow* f) { form = f; });
  // Whatever fails below, neither window outlives what it refers to.
  const std::shared_ptr<void> cleanUp(nullptr, [&](void*) {
    delete form.data();
    delete splash.data();
  });
  child<QPushButton>(splash, "next")->click();
  ASSERT_NE(form, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form));
  ASSERT_TRUE(form->busy()) << "the read-back ended before the window was on screen";

  bool timerFiredDuring = false;
  QTimer::singleShot(50, form, [&] { timerFiredDuring = form->busy(); });
  auto* file = child<QMenu>(form, "fileMenu");
  QTest::keyClick(form, Qt::Key_F, Qt::AltModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return file->isVisible(); }, 1000));
  EXPECT_TRUE(form->busy());
  file->hide();
  EXPECT_TRUE(QTest::qWaitFor([&] { return timerFiredDuring; }, 1000));

  EXPECT_FALSE(form->close());
  EXPECT_TRUE(form->closePending());
  EXPECT_EQ(labelText(form, "statusText"), "Closing once the exchange with the unit is over");
  EXPECT_TRUE(QTest::qWaitFor([&] { return form.isNull(); }, 15000));
  ASSERT_TRUE(unit.waitForLogSize(4, 10000));
  std::string bytes;
  for (const sim::LoggedByte& b : unit.log()) bytes.push_back(static_cast<char>(b.byte));
  EXPECT_EQ(bytes, " qx!");
  EXPECT_TRUE(notifier.messages.empty());
  unit.stop();
}

// A unit that never answers: no current value (each cell says why), no figure
// worked out from a slot nobody reported, the channel row included; a typed
// value shows its own figure.
TEST(WindowWithSimulatedUnit, ASilentUnitShowsNoValueAndNoFigureFromNothing) {
  WindowOnTheLine line(6, [](sim::Simulator& u) {
    sim::Faults f;
    f.silent = true;
    u.setFaults(f);
  });
  ui::MainWindow& form = *line.form;
  ASSERT_EQ(loadWindow(form).outcome, LoadOutcome::Linked);
  EXPECT_EQ(line.notifier.messages, std::vector<std::string>{kShortReplyMessage});
  for (int k = 0; k < 32; ++k) {
    const QString name = QStringLiteral("current_%1").arg(k);
    EXPECT_EQ(labelText(&form, name), "") << k;
    EXPECT_EQ(child<QLabel>(&form, name)->toolTip(), "not read back") << k;
  }
  for (int k : {2, 4, 9, 13, 16, 27, 30, 31})
    EXPECT_EQ(labelText(&form, QStringLiteral("reference_%1").arg(k)), "") << k;
  EXPECT_EQ(labelText(&form, "description_16"), "");  // Max Depth
  form.show();
  QTest::keyClicks(entryBox(&form, 4), "799");
  EXPECT_EQ(labelText(&form, "reference_4"), "50");
  EXPECT_EQ(labelText(&form, "description_5"), "");  // the IF needs the oscillator too
  form.close();
  line.unit.stop();
}

// Typed 99 into Blanking (the unit holds 14), then the unit went away and
// Unit > Read back failed: the entry stays and stays the working value, with its
// figure, but the current-value column shows nothing of it.
TEST(WindowWithSimulatedUnit, AFailedReadBackKeepsTheEntryAndShowsNoneOfIt) {
  WindowOnTheLine line(7);
  ui::MainWindow& form = *line.form;
  ASSERT_EQ(loadWindow(form).outcome, LoadOutcome::Linked);
  form.show();
  EXPECT_EQ(labelText(&form, "current_11"), "14");
  EXPECT_EQ(child<QLabel>(&form, "current_11")->toolTip(), "");
  QTest::keyClicks(entryBox(&form, 11), "99");
  line.unit.stop();
  std::string question;
  answerNextQuestion(QMessageBox::Yes, &question);
  form.readBackUnit();
  EXPECT_EQ(question, "Discard 1 typed entry?");
  ASSERT_TRUE(waitIdle(form));
  EXPECT_EQ(line.notifier.messages, std::vector<std::string>{kShortReplyMessage});
  EXPECT_EQ(labelText(&form, "current_11"), "");
  EXPECT_EQ(child<QLabel>(&form, "current_11")->toolTip(), "not read back");
  EXPECT_EQ(entryBox(&form, 11)->text(), "99");
  EXPECT_EQ(labelText(&form, "reference_11"), "20.161");
  EXPECT_TRUE(labelText(&form, "statusText").startsWith("Read back 0 of 32 slots at "))
      << labelText(&form, "statusText").toStdString();
  form.close();
}

// Over the line with a record that stops after 20 characters: Save set-up says
// in one line what is missing before any file dialog, and the allowed-range
// hint of one box goes when another box is typed in.
TEST(WindowWithSimulatedUnit, ShortRecordSaveRefusalAndRangeHintOverTheLine) {
  WindowOnTheLine line(8, [](sim::Simulator& u) {
    sim::Faults cut;
    cut.shortRecord = 20;
    u.setFaults(cut);
  });
  ui::MainWindow& form = *line.form;
  loadWindow(form);
  form.show();
  ASSERT_EQ(line.notifier.messages, std::vector<std::string>{kShortReplyMessage});
  line.notifier.messages.clear();

  child<QAction>(&form, "saveSetup")->trigger();  // no dialog opens: the refusal comes first
  EXPECT_EQ(line.notifier.messages,
            std::vector<std::string>{"14 slots were not read back; read the unit back first"});
  const QString status = labelText(&form, "statusText");
  EXPECT_TRUE(status.startsWith("Did not save the set-up: 14 slots were not read back at "))
      << status.toStdString();

  line.notifier.messages.clear();
  QTest::keyClicks(entryBox(&form, 18), "300");
  EXPECT_EQ(line.notifier.messages, std::vector<std::string>{kEnterValidNumberMessage});
  EXPECT_EQ(labelText(&form, "statusText"), "E/S Gain takes a whole number from 0 to 255.");
  QTest::keyClicks(entryBox(&form, 8), "7");
  EXPECT_TRUE(labelText(&form, "statusText").startsWith("Read back 18 of 32 slots at "))
      << labelText(&form, "statusText").toStdString();
  form.close();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !form.isVisible(); }, 10000));
  line.unit.stop();
}

// The two ways a unit lost its set-up to one click on "Update": a comms.ini that
// an editor ended with an empty line, and a record that arrives short. Against
// the simulated unit through the real widgets, neither changes the unit.
class WindowKeepsTheUnitsSetup : public ::testing::Test {
 protected:
  void SetUp() override {
    unit.setSlotValue(0, 1);
    unit.setSlotValue(4, 1234);
    unit.setSlotValue(8, 99);
    unit.setSlotValue(20, 150);
    unit.setSlotValue(29, 4000);
    unit.start();
    dir.copyReferenceDb();
    initAppContext(context, dir.path());
    context.locale.decimalPoint = ".";
  }
  void TearDown() override { unit.stop(); }
  ui::MainWindow& open() {
    ui::MainWindowDeps deps;
    deps.notifier = &notifier;
    form = std::make_unique<ui::MainWindow>(context, std::move(deps));
    return *form;
  }

  sim::Simulator unit;
  ProgramDir dir;
  AppContext context;
  RecordingNotifier notifier;
  std::unique_ptr<ui::MainWindow> form;
};

TEST_F(WindowKeepsTheUnitsSetup, CommsIniEndingInAnEmptyLineReadsTheUnit) {
  dir.writeCommsIni("\"COM\",7\n\n");
  unit.makeLink(dir.path() + "/com7");
  const auto before = unit.slotValues();
  ui::MainWindow& w = open();
  EXPECT_EQ(loadWindow(w).outcome, LoadOutcome::Linked);
  EXPECT_TRUE(notifier.messages.empty());
  EXPECT_EQ(labelText(&w, "current_4"), "1234");
  EXPECT_EQ(labelText(&w, "current_29"), "4000");
  w.show();

  // "Update" with every box empty gives the unit its own values back.
  unit.clearLog();
  button(&w, "update")->click();
  ASSERT_TRUE(waitIdle(w));
  ASSERT_TRUE(unit.waitForLogSize(69 + 3, 10000));
  EXPECT_TRUE(notifier.messages.empty());
  EXPECT_EQ(unit.slotValues(), before);
  EXPECT_EQ(labelText(&w, "current_8"), "99");
  w.close();
}

TEST_F(WindowKeepsTheUnitsSetup, ShortRecordThenUpdateSendsNothing) {
  dir.writeCommsIni("\"Port\",5\n");
  unit.makeLink(dir.path() + "/com5");
  sim::Faults cut;
  cut.shortRecord = 20;  // the record stops inside slot 18
  unit.setFaults(cut);
  const auto before = unit.slotValues();
  ui::MainWindow& w = open();
  loadWindow(w);
  ASSERT_EQ(notifier.messages, std::vector<std::string>{kShortReplyMessage});
  EXPECT_EQ(labelText(&w, "current_17"), QString::number(before[17]));
  EXPECT_EQ(labelText(&w, "current_18"), "");
  w.show();

  notifier.messages.clear();
  unit.clearLog();
  QTest::keyClicks(entryBox(&w, 4), "1000");
  button(&w, "update")->click();
  ASSERT_TRUE(waitIdle(w));
  ASSERT_EQ(notifier.messages.size(), 1u);
  EXPECT_EQ(notifier.messages[0].rfind(
                "Nothing was sent to the unit. The last read-back did not get these slots from the "
                "unit: slot 18 (",
                0),
            0u)
      << notifier.messages[0];
  // "Update" is as it was: the window goes on, the buttons are usable again,
  // and the status line does not claim an upload.
  EXPECT_TRUE(button(&w, "update")->isEnabled());
  EXPECT_TRUE(child<QLabel>(&w, "statusText")
                  ->text()
                  .startsWith("Nothing was sent: the last read-back left slots unread at "))
      << child<QLabel>(&w, "statusText")->text().toStdString();
  QTest::qWait(300);  // the unit's thread would have logged a byte by now
  EXPECT_TRUE(unit.log().empty());
  EXPECT_EQ(unit.slotValues(), before);
  w.close();
}

}  // namespace
}  // namespace ku::test
