// The main window on the offscreen platform: its load outcomes, typing into the
// boxes, the three commands, the keyboard order.
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <csignal>

#include "expected.h"
#include "link/stop_request.h"
#include "test_ui_support.h"
#include "ui/message_box_notifier.h"
#include "ui/stop_signals.h"

namespace ku::test {
namespace {

const ::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

using ui::MainWindow;
using ui::MainWindowDeps;

// Records the messages, and runs a hook as each one is shown.
struct HookedNotifier : RecordingNotifier {
  void show(const Message& message) override {
    if (hook) hook();
    RecordingNotifier::show(message);
  }
  std::function<void()> hook;
};

class MainWindowTest : public FakeUnitWindowTest<HookedNotifier> {
 protected:
  // The linked set-up: a valid comms.ini, the unit answering, the shipped database.
  void linkedFolder() {
    dir.writeCommsIni("\"Port\",1\n");
    dir.copyReferenceDb();
  }

  MainWindow* open(const std::function<void(FakeSerialPort&)>& configure = {}) {
    return openWindow(configure);
  }

  QString cell(const char* column, int row) {
    return labelText(form.get(), QStringLiteral("%1_%2").arg(QString::fromUtf8(column)).arg(row));
  }
};

void expectFixedTexts(QWidget* w) {
  EXPECT_EQ(labelText(w, "reference_0"), "N/A");
  EXPECT_EQ(labelText(w, "reference_12"), "NA");
  EXPECT_EQ(labelText(w, "reference_26"), "N/A");
  EXPECT_EQ(labelText(w, "referenceUnit_3"), "Band");
  EXPECT_EQ(labelText(w, "referenceUnit_4"), "kHz");
  EXPECT_EQ(labelText(w, "descriptionName_5"), "IF Frequency");
  EXPECT_EQ(labelText(w, "descriptionUnit_20"), "kohm");
  EXPECT_EQ(labelText(w, "referenceUnit_32"), "milli sec");
  EXPECT_EQ(labelText(w, "current_32"), "N/A");
  EXPECT_EQ(labelText(w, "reference_32"), "");
  EXPECT_EQ(labelText(w, "pulseWidthName"), "E/S Min Pulse width");
  EXPECT_EQ(labelText(w, "name_0"), "Channel No.(1-4)");
  EXPECT_EQ(labelText(w, "name_31"), "Tolvek String");
}

TEST_F(MainWindowTest, AFailureThatEscapesTheLoadIsNamedInTheStatusBar) {
  notifier.hook = [] { throw KuError(kDeviceIo, "Device I/O error: lost"); };
  open();  // no comms.ini: the invalid-port message, whose showing fails here
  EXPECT_TRUE(status().endsWith(
      "; Stopped early: a read or write on the port failed (Device I/O error: lost)"))
      << status().toStdString();
}

TEST_F(MainWindowTest, InvalidPortGreysUpdateAndDefaultAndShowsNoValues) {
  MainWindow* w = open();  // no comms.ini at all
  ASSERT_EQ(notifier.messages.size(), 1u);
  EXPECT_EQ(notifier.messages[0], kInvalidPortMessage);
  EXPECT_FALSE(button(w, "update")->isEnabled());
  EXPECT_FALSE(button(w, "default")->isEnabled());
  EXPECT_TRUE(button(w, "close")->isEnabled());
  for (int k = 0; k < 32; ++k) EXPECT_EQ(cell("current", k), "") << k;
  expectFixedTexts(w);

  // The reference display stays still while the port is rejected.
  QTest::keyClicks(entryBox(w, 18), "30");
  EXPECT_EQ(entryBox(w, 18)->text(), "30");
  EXPECT_EQ(cell("reference", 18), "");

  // Close still closes, and sends nothing.
  button(w, "close")->click();
  EXPECT_FALSE(w->isVisible());
  EXPECT_TRUE(port->written.empty());
}

TEST_F(MainWindowTest, HeldPortLeavesEverythingEnabledAndEmpty) {
  dir.writeCommsIni("\"Port\",1\n");
  MainWindow* w = open([](FakeSerialPort& p) { p.failures["Open"] = kPortAlreadyOpen; });
  EXPECT_TRUE(notifier.messages.empty());
  EXPECT_TRUE(port->written.empty());
  for (const char* b : {"update", "close", "default"}) EXPECT_TRUE(button(w, b)->isEnabled());
  for (int k = 0; k < 32; ++k) EXPECT_EQ(cell("current", k), "") << k;
  expectFixedTexts(w);
}

TEST_F(MainWindowTest, LinkedLoadShowsTheUnitsValuesAndReferenceColumns) {
  linkedFolder();
  MainWindow* w = open();
  EXPECT_TRUE(notifier.messages.empty());
  EXPECT_EQ(port->written, " qx");
  EXPECT_EQ(cell("current", 0), "3");  // channel 2, shown plus 1
  EXPECT_EQ(cell("current", 4), "799");
  EXPECT_EQ(cell("current", 30), "210");
  EXPECT_EQ(cell("reference", 1), "0");
  EXPECT_EQ(cell("reference", 2), "UNCAL");
  EXPECT_EQ(cell("reference", 4), "50");
  EXPECT_EQ(cell("description", 5), "15.041");
  EXPECT_EQ(cell("reference", 17), "4.96");
  EXPECT_EQ(cell("description", 16), "619.355");
  EXPECT_EQ(cell("reference", 30), "210");
  EXPECT_EQ(cell("reference", 31), "ON");
  // The shipped database's meanings of the control bytes 2 and 10; the unit
  // cell's fixed "Band" gives way to the test signal.
  EXPECT_EQ(cell("reference", 3), "HF");
  EXPECT_EQ(cell("referenceUnit", 3), "OFF");
  EXPECT_EQ(cell("reference", 6), "4");
  EXPECT_EQ(cell("description", 6), "2");
  EXPECT_EQ(cell("description", 7), "Enab");
  EXPECT_EQ(w->controller().slotValues()[4], SlotValue(799));
  for (int k = 0; k < 32; ++k) EXPECT_EQ(entryBox(w, k)->text(), "") << k;

  // A label follows its text: width grows with the caption, height stays 13.
  QLabel* l = child<QLabel>(w, "description_16");
  EXPECT_EQ(l->height(), 13);
  EXPECT_EQ(l->width(), l->fontMetrics().horizontalAdvance(l->text()));
}

TEST_F(MainWindowTest, TypingIsCheckedKeyByKey) {
  linkedFolder();
  MainWindow* w = open();
  QLineEdit* box = entryBox(w, 18);  // "E/S Gain", 8-bit, unit holds 0
  struct Step {
    const char* key;
    const char* shows;
    int stored;
    const char* reference;
    size_t messages;
  };
  const Step steps[] = {{"3", "3", 3, "1.176", 0},
                        {"0", "30", 30, "11.765", 0},
                        {"0", "", 0, "0", 1}};  // 300: wiped entirely, not cut back
  for (const Step& s : steps) {
    SCOPED_TRACE(s.shows);
    QTest::keyClicks(box, s.key);
    EXPECT_EQ(box->text(), s.shows);
    EXPECT_EQ(valueOf(w->controller().slotValues()[18]), s.stored);
    EXPECT_EQ(cell("reference", 18), s.reference);
    EXPECT_EQ(notifier.messages.size(), s.messages);
  }
  EXPECT_EQ(notifier.messages.back(), kEnterValidNumberMessage);
  EXPECT_EQ(QApplication::focusWidget(), box);  // the wiped box has the focus

  // Whole numbers at once: a point after 12 goes, a leading zero goes.
  QLineEdit* wide = entryBox(w, 4);
  QTest::keyClicks(wide, "12.");
  EXPECT_EQ(wide->text(), "12");
  EXPECT_EQ(cell("reference", 4), "3076.923");
  wide->clear();
  QTest::keyClicks(wide, "05");
  EXPECT_EQ(wide->text(), "5");
  EXPECT_EQ(valueOf(w->controller().slotValues()[4]), 5);

  // Deleting the last character goes back to the unit's value, silently.
  const size_t before = notifier.messages.size();
  QTest::keyClick(wide, Qt::Key_Backspace);
  EXPECT_EQ(wide->text(), "");
  EXPECT_EQ(valueOf(w->controller().slotValues()[4]), 799);
  EXPECT_EQ(cell("reference", 4), "50");
  EXPECT_EQ(notifier.messages.size(), before);

  // Letters are rejected.
  QTest::keyClicks(entryBox(w, 7), "a");
  EXPECT_EQ(entryBox(w, 7)->text(), "");
  EXPECT_EQ(notifier.messages.size(), before + 1);
}

TEST_F(MainWindowTest, TextSetFromCodeRunsTheHandlingNested) {
  linkedFolder();
  MainWindow* w = open();
  // Each rewrite raises the box's change handling again, nested, before the
  // outer handling reads the box.
  w->setEntryText(5, "13.5");
  EXPECT_EQ(entryBox(w, 5)->text(), "14");
  EXPECT_EQ(valueOf(w->controller().slotValues()[5]), 14);
  w->setEntryText(5, "254.5");
  EXPECT_EQ(entryBox(w, 5)->text(), "254");
  w->setEntryText(9, "-1");
  EXPECT_EQ(entryBox(w, 9)->text(), "");
  EXPECT_EQ(notifier.messages, std::vector<std::string>{kEnterValidNumberMessage});

  // Setting the text a box already holds raises nothing.
  QSignalSpy changes(entryBox(w, 5), &QLineEdit::textChanged);
  w->setEntryText(5, "254");
  EXPECT_EQ(changes.count(), 0);

  // The pulse width: emptied, it shows "0" again; "1" feeds the min depth.
  w->setPulseWidthText("1");
  EXPECT_EQ(cell("description", 15), "7.56");
  child<QLineEdit>(w, "pulseWidth")->clear();
  EXPECT_EQ(w->pulseWidthText(), "0");
  EXPECT_EQ(cell("description", 15), "0");
}

TEST_F(MainWindowTest, UpdateSendsTheEntriesAndShowsWhatTheUnitHolds) {
  linkedFolder();
  MainWindow* w = open();
  port->written.clear();
  child<QLineEdit>(w, "pulseWidth")->setText("2");
  QTest::keyClicks(entryBox(w, 1), "1");
  QTest::keyClicks(entryBox(w, 4), "1000");

  bool anyEnabledDuringExchange = false;
  bool busyCursorThroughout = true;
  int seenDuring = 0;
  whileProgressing([&] {
    ++seenDuring;
    for (const char* b : {"update", "default"})
      anyEnabledDuringExchange |= button(w, b)->isEnabled();
    for (int k : {1, 4}) anyEnabledDuringExchange |= entryBox(w, k)->isEnabled();
    const QCursor* c = QApplication::overrideCursor();
    busyCursorThroughout &= c && c->shape() == Qt::BusyCursor;
  });
  QTest::mouseClick(button(w, "update"), Qt::LeftButton);
  EXPECT_TRUE(w->busy());  // the click returns at once; the upload runs on
  settle();

  EXPECT_GT(seenDuring, 0);
  ASSERT_EQ(port->written.size(), static_cast<size_t>(kUploadLength + 3));
  EXPECT_EQ(port->written.substr(kUploadLength), " qx");
  EXPECT_FALSE(anyEnabledDuringExchange);
  EXPECT_TRUE(busyCursorThroughout);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  for (const char* b : {"update", "close", "default"}) EXPECT_TRUE(button(w, b)->isEnabled());

  EXPECT_EQ(unit.values[1], 1);
  EXPECT_EQ(unit.values[4], 1000);
  EXPECT_EQ(cell("current", 1), "1");
  EXPECT_EQ(cell("current", 4), "1000");
  EXPECT_EQ(cell("reference", 4), "39.96");
  for (int k = 0; k < 32; ++k) EXPECT_EQ(entryBox(w, k)->text(), "") << k;
  EXPECT_EQ(child<QLineEdit>(w, "pulseWidth")->text(), "2");
  EXPECT_EQ(valueOf(w->controller().readBackValues()[4]), 1000);
  EXPECT_TRUE(notifier.messages.empty());
}

TEST_F(MainWindowTest, DefaultSendsTheBuiltInSetKeepingTheChannel) {
  linkedFolder();
  unit.values[0] = 3;
  unit.values[4] = 1234;
  MainWindow* w = open();
  port->written.clear();
  bool anyEnabledDuringExchange = false;
  whileProgressing([&] {
    for (const char* b : {"update", "close", "default"})
      anyEnabledDuringExchange |= button(w, b)->isEnabled();
  });
  QTest::keyClicks(entryBox(w, 8), "7");
  button(w, "default")->click();
  settle();

  EXPECT_EQ(port->written.size(), static_cast<size_t>(kUploadLength + 3));
  EXPECT_FALSE(anyEnabledDuringExchange);
  EXPECT_EQ(unit.values[0], 3);
  EXPECT_EQ(unit.values[4], 799);
  EXPECT_EQ(unit.values[8], 205);
  EXPECT_EQ(cell("current", 0), "4");
  EXPECT_EQ(cell("current", 4), "799");
  EXPECT_EQ(entryBox(w, 8)->text(), "");
  for (const char* b : {"update", "close", "default"}) EXPECT_TRUE(button(w, b)->isEnabled());
}

TEST_F(MainWindowTest, CloseSendsTheCloseByteOnceAndWaitsForAnExchange) {
  linkedFolder();
  MainWindow* w = open();
  port->written.clear();
  // A close request during an exchange is taken at once and waits for its end.
  button(w, "update")->click();
  EXPECT_FALSE(w->close());
  EXPECT_TRUE(w->closePending());
  EXPECT_EQ(status(), "Closing once the exchange with the unit is over");
  QTRY_VERIFY(!w->isVisible());
  ASSERT_GE(port->written.size(), 4u);
  EXPECT_EQ(port->written.substr(port->written.size() - 4), " qx!");
  EXPECT_FALSE(port->isOpen());
  w->close();  // a second close sends nothing more
  EXPECT_EQ(port->written.back(), '!');
  EXPECT_EQ(std::count(port->written.begin(), port->written.end(), '!'), 1);
}

// SIGTERM during an upload, and Close during one: the pass goes out whole and
// the close byte follows it; the signal skips the read-back, Close waits for it.
TEST_F(MainWindowTest, ASignalOrCloseDuringAnUploadLetsThePassFinishThenTheCloseByte) {
  linkedFolder();
  ui::StopSignals stopSignals;
  ui::closeAllWindowsOnStop(stopSignals);
  for (const bool bySignal : {true, false}) {
    SCOPED_TRACE(bySignal ? "SIGTERM" : "Close");
    processStopRequest().clear();
    MainWindow* w = openWindow({}, [](MainWindowDeps& d) { d.stop = &processStopRequest(); });
    port->written.clear();
    unit.beforeByte = [&](unsigned char) {
      if (port->written.size() != 9) return;  // slot 4's command byte is going out
      if (bySignal)
        ::raise(SIGTERM);
      else  // the operator closes the window meanwhile
        QMetaObject::invokeMethod(
            w, [w] { w->close(); }, Qt::QueuedConnection);
    };
    button(w, "update")->click();
    QTRY_VERIFY(!w->isVisible());
    const std::string pass = defaultUpload(2);  // the unit's values, no entries
    EXPECT_EQ(port->written, pass + (bySignal ? "!" : " qx!"));
    EXPECT_FALSE(port->isOpen());
  }
  processStopRequest().clear();
}

TEST_F(MainWindowTest, EveryRowHasItsLabelAndItsBoxItsTooltip) {
  MainWindow* w = open();
  for (int k = 0; k < 32; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(labelText(w, QStringLiteral("name_%1").arg(k)).toStdString(), kRowNames[k].label);
    EXPECT_EQ(entryBox(w, k)->toolTip().toStdString(), kRowNames[k].tooltip);
  }
}

TEST_F(MainWindowTest, LeavingAnEmptyBoxRefreshesTheReferenceValues) {
  linkedFolder();
  MainWindow* w = open();
  entryBox(w, 8)->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == entryBox(w, 8); }));
  EXPECT_EQ(cell("reference", 3), "HF");
  // Another reference database behind the same name: its BAND for key 2 is 2.5.
  // Only a refresh shows it, and leaving the empty box is the one thing here
  // that runs one.
  const QString db = QString::fromStdString(dir.path() + "/TKUUtil.mdb");
  ASSERT_TRUE(QFile::remove(db));
  ASSERT_TRUE(QFile::copy(QStringLiteral(KU_TEST_DATA_DIR "/numeric-band.mdb"), db));
  EXPECT_EQ(cell("reference", 3), "HF");
  QTest::keyClick(entryBox(w, 8), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), entryBox(w, 9));
  EXPECT_EQ(cell("reference", 3), "2.5");
  EXPECT_EQ(valueOf(w->controller().slotValues()[8]), 205);  // the unit's value, restored
  EXPECT_TRUE(notifier.messages.empty());
}

TEST_F(MainWindowTest, AFailedUpdateGivesItsMessageAndEnablesTheButtonsAgain) {
  linkedFolder();
  MainWindow* w = open();
  ASSERT_TRUE(notifier.messages.empty());
  // The line goes dead: every write and read fails.
  port->failures["Write"] = kDeviceIo;
  port->failures["Read"] = kDeviceIo;
  bool enabledAtTheMessage = true;
  notifier.hook = [&] {
    for (const char* b : {"update", "close", "default"})
      enabledAtTheMessage &= button(w, b)->isEnabled();
  };
  QTest::keyClicks(entryBox(w, 8), "7");
  QTest::mouseClick(button(w, "update"), Qt::LeftButton);
  settle();
  // The pass broke off at its first byte, then the read-back got nothing.
  const std::string broke =
      "The upload stopped after 0 of 69 bytes, in slot 0, Channel No.(1-4). The unit may hold "
      "part of the new set-up.";
  ASSERT_EQ(notifier.messages.size(), 2u);
  EXPECT_EQ(notifier.messages[0].substr(0, broke.size()), broke);
  EXPECT_EQ(notifier.messages[1], kShortReplyMessage);
  EXPECT_FALSE(enabledAtTheMessage);  // the messages come inside the exchange
  for (const char* b : {"update", "close", "default"}) EXPECT_TRUE(button(w, b)->isEnabled()) << b;
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  // Nothing was read: the typed value stays in its box and stays the working
  // value, but no value shows as the unit's.
  EXPECT_EQ(cell("current", 8), "");
  EXPECT_EQ(cell("current", 4), "");
  EXPECT_EQ(entryBox(w, 8)->text(), "7");
  EXPECT_EQ(valueOf(w->controller().slotValues()[8]), 7);

  // Default is refused now (nothing was read), and the buttons come back again.
  button(w, "default")->click();
  settle();
  EXPECT_EQ(notifier.messages.size(), 3u);
  for (const char* b : {"update", "close", "default"}) EXPECT_TRUE(button(w, b)->isEnabled()) << b;
}

TEST(MessageBox, ModalOkOnlyNoIconCaptionedTolvekKU) {
  ui::MessageBoxNotifier notifier;
  struct Seen {
    bool found = false;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::Warning;
    QMessageBox::StandardButtons buttons;
    int buttonCount = -1;
    bool okHasIcon = true;
    Qt::WindowModality modality = Qt::NonModal;
  } seen;
  // Looks at the box while it waits for the operator, then presses OK.
  QTimer::singleShot(0, [&] {
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }));
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    seen.found = true;
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    seen.buttons = box->standardButtons();
    seen.buttonCount = static_cast<int>(box->buttons().size());
    seen.okHasIcon = box->button(QMessageBox::Ok) && !box->button(QMessageBox::Ok)->icon().isNull();
    seen.modality = box->windowModality();
    box->button(QMessageBox::Ok)->click();
  });
  notifier.show({MessageKind::ValueLimit, {}});
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.title.toStdString(), kMessageCaption);
  EXPECT_EQ(seen.text.toStdString(), kValueLimitMessage);
  EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
  EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_EQ(seen.buttonCount, 1);
  EXPECT_FALSE(seen.okHasIcon);
  EXPECT_EQ(seen.modality, Qt::ApplicationModal);
}

TEST_F(MainWindowTest, TabRunsThroughTheEnabledControlsInOrder) {
  dir.writeCommsIni("\"Port\",1\n");
  MainWindow* w = open([](FakeSerialPort& p) { p.failures["Open"] = kPortAlreadyOpen; });
  QStringList expected;
  for (int k = 1; k <= 29; ++k) expected << QStringLiteral("entry_%1").arg(k);
  expected << "pulseWidth"
           << "default"
           << "update"
           << "close"
           << "entry_1";

  ASSERT_NE(QApplication::focusWidget(), nullptr);
  QStringList seen{QApplication::focusWidget()->objectName()};
  for (int i = 0; i < expected.size() - 1; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    seen << QApplication::focusWidget()->objectName();
  }
  EXPECT_EQ(seen, expected);

  // The disabled boxes take neither the focus nor a click.
  for (int k : {0, 30, 31}) {
    EXPECT_FALSE(entryBox(w, k)->isEnabled());
    EXPECT_EQ(entryBox(w, k)->palette().color(QPalette::Base), ui::backgroundColour());
    QTest::mouseClick(entryBox(w, k), Qt::LeftButton);
    w->focusEntry(k);
    EXPECT_NE(QApplication::focusWidget(), entryBox(w, k));
  }
}

}  // namespace
}  // namespace ku::test
