// The main window's menu bar and status bar: what the status line says during
// and after each exchange, Unit > Read back, Help, the allowed range after
// "Enter Valid number", accessible names, the operator's guide and its find box,
// colours under a dark desktop scheme, and the window's place on a screen shorter
// than the form.
#include <QAccessible>
#include <QAction>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QUrl>
#include <map>

#include "test_ui_support.h"
#include "ui/main_window_status.h"
#include "ui/pictures.h"
#include "ui/start_up.h"
#include "ui/welcome_window.h"

namespace ku::test {
namespace {

const ::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

using ui::Exchange;
using ui::ExchangeResult;
using ui::MainWindow;

// --- the texts ----------------------------------------------------------------

TEST(StatusTexts, SayWhatHappenedAndWhen) {
  const QTime at(17, 10, 3);
  struct Case {
    const char* name;
    ExchangeResult r;
    const char* text;
  };
  const Case cases[] = {
      {"read back",
       {Exchange::ReadBack, LoadOutcome::Linked, 0, 0, true, 32, at},
       "Read back 32 of 32 slots at 17:10:03"},
      {"short record",
       {Exchange::ReadBack, LoadOutcome::Linked, 0, 0, true, 20, at},
       "Read back 20 of 32 slots at 17:10:03"},
      {"count not known",
       {Exchange::ReadBack, LoadOutcome::Linked, 0, 0, true, -1, at},
       "The unit's record was incomplete at 17:10:03"},
      {"load linked",
       {Exchange::Load, LoadOutcome::Linked, 0, 0, true, 32, at},
       "Read back 32 of 32 slots at 17:10:03"},
      {"load rejected",
       {Exchange::Load, LoadOutcome::Rejected, 8002, 0, false, 32, at},
       "No valid port in comms.ini; nothing was read at 17:10:03"},
      {"load unlinked",
       {Exchange::Load, LoadOutcome::Unlinked, 8005, 0, false, 32, at},
       "The port did not open (the device is missing, held by another program or not "
       "permitted); nothing was read at 17:10:03"},
      {"update",
       {Exchange::UploadSetup, LoadOutcome::Linked, 0, 0, true, 32, at},
       "Uploaded the set-up; read back 32 of 32 slots at 17:10:03"},
      {"default",
       {Exchange::UploadDefaults, LoadOutcome::Linked, 0, 0, true, 32, at},
       "Uploaded the defaults; read back 32 of 32 slots at 17:10:03"},
      {"value limit",
       {Exchange::UploadSetup, LoadOutcome::Linked, 0, 5, true, 32, at},
       "Uploaded the set-up except a value out of limits; read back 32 of 32 slots at 17:10:03"},
      {"port lost",
       {Exchange::UploadSetup, LoadOutcome::Linked, 0, 8018, true, 0, at},
       "Upload of the set-up failed (the port is not open); read back 0 of 32 slots at "
       "17:10:03"},
      {"device failure",
       {Exchange::UploadDefaults, LoadOutcome::Linked, 0, 57, true, 0, at},
       "Upload of the defaults failed (a read or write on the port failed); read back 0 of "
       "32 slots at 17:10:03"},
      {"unknown code",
       {Exchange::Load, LoadOutcome::Unlinked, 9999, 0, false, 0, at},
       "The port did not open (an unexpected failure); nothing was read at 17:10:03"},
      // Refused before any byte: no pass went out, whatever the codes of an earlier one.
      {"unread slots",
       {Exchange::UploadSetup, LoadOutcome::Linked, 0, 0, false, 20, at,
        UploadOutcome::UnreadSlots},
       "Nothing was sent: the last read-back left slots unread at 17:10:03"},
      {"no backup",
       {Exchange::UploadDefaults, LoadOutcome::Linked, 0, 5, false, 32, at,
        UploadOutcome::NoBackup},
       "Nothing was sent: no backup of the unit's set-up was written at 17:10:03"},
      {"not the record",
       {Exchange::UploadSetup, LoadOutcome::Linked, 0, 0, false, 32, at,
        UploadOutcome::NotTheRecord},
       "Nothing was sent: the unit's reply was not its record at 17:10:03"},
      // A lost line: what to do follows, whatever the exchange.
      {"line lost in a read-back",
       {Exchange::ReadBack, LoadOutcome::Linked, 0, 0, true, 0, at, UploadOutcome::Sent, true},
       "Read back 0 of 32 slots at 17:10:03. The line to the unit was lost. Plug the adapter "
       "in, then Unit > Read back"},
      {"line lost in an upload",
       {Exchange::UploadSetup, LoadOutcome::Linked, 0, 57, true, 0, at, UploadOutcome::Sent, true},
       "Upload of the set-up failed (a read or write on the port failed); read back 0 of 32 "
       "slots at 17:10:03. The line to the unit was lost. Plug the adapter in, then Unit > "
       "Read back"},
      {"line still lost",
       {Exchange::UploadDefaults, LoadOutcome::Linked, 0, 0, true, 32, at, UploadOutcome::Sent,
        true, 8002},
       "The line to the unit is still lost: the port did not open again (the port number is "
       "not valid); nothing was sent or read at 17:10:03. Plug the adapter in, then Unit > "
       "Read back"},
      // A write failed partway: how far the pass got, in words.
      {"broke off",
       {Exchange::UploadSetup, LoadOutcome::Linked, 0, 57, true, 0, at, UploadOutcome::Sent, false,
        0, PassBreak{23, 69, 10}},
       "The upload of the set-up stopped after 23 of 69 bytes (a read or write on the port "
       "failed); read back 0 of 32 slots at 17:10:03"},
      {"broke off at once",
       {Exchange::UploadDefaults, LoadOutcome::Linked, 0, 8018, true, 0, at, UploadOutcome::Sent,
        false, 0, PassBreak{0, 69, 0}},
       "The upload of the defaults stopped after 0 of 69 bytes (the port is not open); read "
       "back 0 of 32 slots at 17:10:03"},
      // A short reply: what came, and where to look further.
      {"short reply",
       {Exchange::ReadBack, LoadOutcome::Linked, 0, 0, true, 0, at, UploadOutcome::Sent, false, 0,
        std::nullopt, QStringLiteral("received 12 of 38 characters")},
       "Read back 0 of 32 slots at 17:10:03; received 12 of 38 characters. Unit > Check "
       "connection... looks at the line"},
  };
  for (const Case& c : cases) EXPECT_EQ(ui::exchangeSummary(c.r), c.text) << c.name;
}

TEST(StatusTexts, WhatEscapesAHandlerIsNamedInWords) {
  EXPECT_EQ(ui::escapedFailureText(KuError(kDeviceIo, "Device I/O error: /dev/ttyS0")),
            "Stopped early: a read or write on the port failed (Device I/O error: /dev/ttyS0)");
  EXPECT_EQ(ui::escapedFailureText(std::runtime_error("out of memory")),
            "Stopped early: out of memory");
}

TEST(StatusTexts, AllowedRangeNamesTheRowAndItsLimit) {
  EXPECT_EQ(ui::allowedRangeText(4), "Test Frequency takes a whole number from 0 to 32000.");
  EXPECT_EQ(ui::allowedRangeText(8), "Ramp Start takes a whole number from 0 to 255.");
  EXPECT_EQ(ui::allowedRangeText(29).right(11), "0 to 32000.");
  EXPECT_EQ(ui::allowedRangeText(32), "");
  EXPECT_EQ(ui::allowedRangeText(-1), "");
}

TEST(StatusTexts, AboutNamesVersionFilesAndDevice) {
  ui::AboutFacts f;
  f.version = "1.2";
  f.referenceDatabase = "/opt/ku/TKUUtil.mdb";
  f.referenceDatabaseFound = true;
  f.settingsFile = "/opt/ku/comms.ini";
  f.settingsFileFound = false;
  f.device = "/opt/ku/com3";
  f.portNumber = 3;
  f.portOpen = true;
  EXPECT_EQ(ui::aboutText(f),
            "TolvekKU engineering utility\nVersion 1.2\n\n"
            "Reference database: /opt/ku/TKUUtil.mdb\n"
            "Settings file: /opt/ku/comms.ini (not found)\n"
            "Device: /opt/ku/com3 (port 3), open");
  f.portNumber = 0;
  f.portOpen = false;
  EXPECT_TRUE(ui::aboutText(f).endsWith("Device: none, not open"));
}

// --- placing a window ---------------------------------------------------------

TEST(WindowPlacement, FrameIsCentredInTheAvailableArea) {
  // 1920 x 1080 with a 40-pixel panel at the bottom; a frame of 4 pixels and a
  // 26-pixel title bar around a 676 x 741 client.
  const QMargins frame(4, 30, 4, 4);
  ui::WindowPlacement p = ui::placeInArea(QRect(0, 0, 1920, 1040), frame, QSize(676, 741), 15);
  EXPECT_EQ(p.clientSize, QSize(676, 741));
  EXPECT_EQ(p.frameTopLeft, QPoint(618, 132));  // frame 684 x 775: (1920-684)/2, (1040-775)/2

  // The frame's centre is the area's centre (centring the client instead would
  // put the frame 15 pixels lower).
  const QRect frameRect(p.frameTopLeft, QSize(684, 775));
  EXPECT_LE(std::abs(frameRect.center().y() - QRect(0, 0, 1920, 1040).center().y()), 1);

  // A panel at the top and a second screen to the right of the first.
  p = ui::placeInArea(QRect(1920, 28, 1280, 996), frame, QSize(676, 741), 15);
  EXPECT_EQ(p.frameTopLeft, QPoint(1920 + 298, 28 + 110));
}

TEST(WindowPlacement, ShortScreenCutsTheClientAndMakesRoomForTheScrollBar) {
  // 1366 x 768 with a 32-pixel panel: 736 pixels, less than the 775 the frame needs.
  const QMargins frame(4, 30, 4, 4);
  const ui::WindowPlacement p = ui::placeInArea(QRect(0, 0, 1366, 736), frame, QSize(676, 741), 15);
  EXPECT_EQ(p.clientSize, QSize(691, 702));   // 736 - 34 high; 15 wider for the scroll bar
  EXPECT_EQ(p.frameTopLeft, QPoint(333, 0));  // (1366 - 699) / 2, and the top of the area

  // Narrow too: both cut, nothing off the area.
  const ui::WindowPlacement q = ui::placeInArea(QRect(0, 0, 640, 480), frame, QSize(676, 741), 15);
  EXPECT_EQ(q.clientSize, QSize(632, 446));
  EXPECT_EQ(q.frameTopLeft, QPoint(0, 0));
}

// --- the window ---------------------------------------------------------------

class StatusBarTest : public FakeUnitWindowTest<> {
 protected:
  void SetUp() override {
    FakeUnitWindowTest::SetUp();
    dir.writeCommsIni("\"Port\",1\n");
    dir.copyReferenceDb();
  }
  MainWindow* open() { return openWindow(); }
  QProgressBar* progress() { return child<QProgressBar>(form.get(), "progress"); }
};

const QRegularExpression kClock(QStringLiteral(" at \\d\\d:\\d\\d:\\d\\d$"));

TEST_F(StatusBarTest, MenusHoldTheirCommandsWithShortcutsAndDescriptions) {
  MainWindow* w = open();
  QStringList menus;
  for (QAction* a : w->menuBar()->actions()) menus << a->text();
  EXPECT_EQ(menus, (QStringList{"&File", "U&nit", "&Help"}));
  EXPECT_EQ(action("readBack")->shortcut(), QKeySequence(QStringLiteral("Ctrl+R")));
  EXPECT_EQ(action("quit")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
  for (const char* name : {"readBack", "quit", "about", "operatorsGuide"})
    EXPECT_FALSE(action(name)->statusTip().isEmpty()) << name;
  for (const char* name : {"fileMenu", "unitMenu", "helpMenu"})
    EXPECT_FALSE(child<QWidget>(w, name)->accessibleDescription().isEmpty()) << name;
  for (const char* name : {"update", "default", "close"})
    EXPECT_FALSE(button(w, name)->accessibleDescription().isEmpty()) << name;

  // The form is whole between the two bars, with no scroll bar on a screen that
  // holds it.
  QWidget* f = child<QWidget>(w, "form");
  EXPECT_EQ(f->size(), QSize(676, 697));
  EXPECT_EQ(f->mapTo(w, QPoint(0, 0)), QPoint(0, w->menuBar()->height()));
  EXPECT_EQ(w->statusBar()->geometry().top(), w->menuBar()->height() + 697);
}

TEST_F(StatusBarTest, EveryBoxHasAnAccessibleName) {
  MainWindow* w = open();
  EXPECT_EQ(entryBox(w, 4)->accessibleName(), "New value: Test Frequency");
  EXPECT_EQ(entryBox(w, 0)->accessibleName(), "New value: Channel No.(1-4)");
  EXPECT_EQ(entryBox(w, 31)->accessibleName(), "New value: Tolvek String");
  EXPECT_EQ(child<QLineEdit>(w, "pulseWidth")->accessibleName(), "New value: E/S Min Pulse width");
  EXPECT_TRUE(entryBox(w, 8)->accessibleDescription().startsWith(
      "Ramp Start takes a whole number from 0 to 255."));
  // What an assistive tool reads.
  QAccessibleInterface* box = QAccessible::queryAccessibleInterface(entryBox(w, 5));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(QAccessible::Name), "New value: Local Osc Frequency");
  for (int k = 0; k < 32; ++k)
    EXPECT_TRUE(entryBox(w, k)->accessibleName().startsWith("New value: ")) << k;
}

TEST_F(StatusBarTest, LoadSaysWhatWasRead) {
  open();
  EXPECT_TRUE(status().startsWith("Read back 32 of 32 slots at ")) << status().toStdString();
  EXPECT_TRUE(kClock.match(status()).hasMatch());
  EXPECT_FALSE(progress()->isVisible());
}

TEST_F(StatusBarTest, ReadBackSendsTheRequestOnlyAndFollowsItsThreeSeconds) {
  MainWindow* w = open();
  port->written.clear();
  sleeper.waits.clear();
  unit.values[4] = 1234;  // changed on the unit behind the window's back

  std::vector<int> seen;
  QStringList texts;
  bool buttonsEnabled = false;
  whileProgressing([&] {
    seen.push_back(progress()->value());
    texts << status();
    buttonsEnabled |= button(w, "update")->isEnabled();
  });
  QTest::keyClick(w, Qt::Key_R, Qt::ControlModifier);
  settle();

  EXPECT_EQ(port->written, " qx");
  // " " waits out the load's second after "x" (its record came at the first
  // look, 10 ms after it); then two seconds, and this record at its first look.
  EXPECT_EQ(sleeper.waits, (std::vector<int>{990, 1000, 1000, 10}));
  // The seconds passed, counted from " " (the wait before it is not part of
  // them); the record fills the bar.
  EXPECT_EQ(seen, (std::vector<int>{0, 1000, 2000, 2010, 3000}));
  EXPECT_EQ(texts, QStringList(5, "Reading the unit back"));
  EXPECT_EQ(progress()->value(), 3000);
  EXPECT_EQ(progress()->maximum(), 3000);
  EXPECT_FALSE(buttonsEnabled);
  EXPECT_FALSE(progress()->isVisible());
  EXPECT_EQ(labelText(w, "current_4"), "1234");
  EXPECT_TRUE(status().startsWith("Read back 32 of 32 slots at ")) << status().toStdString();
  for (const char* b : {"update", "close", "default"}) EXPECT_TRUE(button(w, b)->isEnabled());
  EXPECT_TRUE(notifier.messages.empty());
}

TEST_F(StatusBarTest, UploadCountsItsBytesThenReadsBack) {
  MainWindow* w = open();
  port->written.clear();
  QTest::keyClicks(entryBox(w, 4), "1000");

  std::vector<int> values;
  QStringList texts;
  whileProgressing([&] {
    values.push_back(progress()->value());
    texts << status();
  });
  button(w, "update")->click();
  settle();

  ASSERT_GE(values.size(), static_cast<size_t>(kUploadLength + 1));
  // Each byte of the upload as it goes (from the load's full bar back to 0
  // first), then the read-back's seconds.
  for (int i = 0; i <= kUploadLength; ++i) {
    EXPECT_EQ(values[i], i) << i;
    EXPECT_EQ(texts[i], "Uploading") << i;
  }
  EXPECT_EQ(progress()->maximum(), 3000);  // the read-back took over
  EXPECT_EQ(std::vector<int>(values.begin() + kUploadLength + 1, values.end()),
            (std::vector<int>{0, 1000, 2000, 2010, 3000}));
  EXPECT_EQ(texts.back(), "Reading the unit back");
  EXPECT_EQ(status().left(status().size() - 12), "Uploaded the set-up; read back 32 of 32 slots");
  EXPECT_TRUE(kClock.match(status()).hasMatch());
  EXPECT_EQ(unit.values[4], 1000);

  button(w, "default")->click();
  settle();
  EXPECT_TRUE(status().startsWith("Uploaded the defaults; read back 32 of 32 slots at "));
}

TEST_F(StatusBarTest, EnterValidNumberStaysAndTheStatusGivesTheRange) {
  MainWindow* w = open();
  QTest::keyClicks(entryBox(w, 18), "300");
  ASSERT_EQ(notifier.messages, std::vector<std::string>{kEnterValidNumberText});
  EXPECT_EQ(status(), "E/S Gain takes a whole number from 0 to 255.");
  QTest::keyClicks(entryBox(w, 5), "x");
  EXPECT_EQ(status(), "Local Osc Frequency takes a whole number from 0 to 32000.");
  // Typing on in that box keeps the hint; a valid value in another box ends
  // it, and the load's line comes back.
  QTest::keyClick(entryBox(w, 5), Qt::Key_Backspace);
  EXPECT_EQ(status(), "Local Osc Frequency takes a whole number from 0 to 32000.");
  QTest::keyClicks(entryBox(w, 8), "7");
  EXPECT_TRUE(status().startsWith("Read back 32 of 32 slots at ")) << status().toStdString();
}

TEST_F(StatusBarTest, InvalidPortLeavesReadBackOffAndSaysSo) {
  dir.writeCommsIni("\"Port\",0\n");
  MainWindow* w = open();
  EXPECT_FALSE(action("readBack")->isEnabled());
  EXPECT_TRUE(status().startsWith("No valid port in comms.ini; nothing was read at "));
  QTest::keyClick(w, Qt::Key_R, Qt::ControlModifier);
  EXPECT_TRUE(port->written.empty());
}

TEST_F(StatusBarTest, ShortReplySaysTheRecordWasIncomplete) {
  MainWindow* w = open();
  port->onByte = [this](unsigned char c) {
    if (c == 'x') port->replies.push_back(unit.record().substr(0, 20));
  };
  w->readBackUnit();
  settle();
  EXPECT_EQ(notifier.messages, std::vector<std::string>{kShortReplyText});
  // 20 characters hold slots 0..17 whole (4 and 5 take two each).
  EXPECT_TRUE(status().startsWith("Read back 18 of 32 slots at ")) << status().toStdString();
}

TEST_F(StatusBarTest, QuitClosesLikeClose) {
  MainWindow* w = open();
  port->written.clear();
  action("quit")->trigger();
  settle();
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(port->written, "!");
}

TEST_F(StatusBarTest, AboutShowsTheFilesInUse) {
  MainWindow* w = open();
  w->showAbout();
  QMessageBox* box = w->findChild<QMessageBox*>("aboutBox");
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->isVisible());
  const QString text = box->text();
  EXPECT_TRUE(text.contains("Version 1.2")) << text.toStdString();
  EXPECT_TRUE(text.contains("Reference database: " + dir.dir.filePath("TKUUtil.mdb") + "\n"));
  EXPECT_TRUE(text.contains("Settings file: " + dir.dir.filePath("comms.ini") + "\n"));
  EXPECT_TRUE(text.endsWith("Device: /dev/ttyS0 (port 1), open")) << text.toStdString();
  box->accept();
}

// --- the operator's guide ---------------------------------------------------

// The guide's headings, in order.
QStringList headings(const QTextDocument* doc) {
  QStringList found;
  for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
    if (b.blockFormat().headingLevel() > 0) found << b.text();
  return found;
}
// The pictures the guide shows, each with the size it loaded at (empty: none loaded).
std::map<QString, QSize> pictures(QTextDocument* doc) {
  std::map<QString, QSize> found;
  for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
    for (auto f = b.begin(); !f.atEnd(); ++f) {
      const QTextImageFormat image = f.fragment().charFormat().toImageFormat();
      if (!image.isValid()) continue;
      const QVariant loaded = doc->resource(QTextDocument::ImageResource, QUrl(image.name()));
      found[image.name()] =
          loaded.value<QImage>().size().expandedTo(loaded.value<QPixmap>().size());
    }
  return found;
}

TEST_F(StatusBarTest, OperatorsGuideShowsInOneWindowFromHelpAndF1) {
  MainWindow* w = open();
  action("operatorsGuide")->trigger();
  ASSERT_EQ(guideWindows().size(), 1u);
  ui::GuideWindow* guide = guideWindows()[0];
  EXPECT_TRUE(guide->isVisible() && guide->isWindow());
  QTextDocument* doc = child<QTextBrowser>(guide, "guideText")->document();
  EXPECT_EQ(headings(doc), (QStringList{"Operator's guide", "Wiring and comms.ini",
                                        "Port numbers and devices", "Wiring a USB serial adapter",
                                        "The main window", "Messages", "The guide window"}));
  EXPECT_TRUE(doc->toPlainText().contains(
      "Couldnot get Any or Full string from KU,please verify connection"));
  const std::map<QString, QSize> shown = pictures(doc);
  std::vector<QString> names;
  for (const auto& [name, size] : shown) {
    names.push_back(name);
    EXPECT_GT(size.width(), 200) << name.toStdString() << " did not load";
  }
  EXPECT_EQ(names,
            (std::vector<QString>{"images/failed-read-back.png", "images/guide-window.png",
                                  "images/main-window-dark.png", "images/main-window.png",
                                  "images/upload-in-progress.png", "images/welcome-window.png"}));

  // F1 brings the same window back after it was closed.
  guide->close();
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  QTest::keyClick(w, Qt::Key_F1);
  EXPECT_TRUE(guide->isVisible());
  EXPECT_EQ(guideWindows(), std::vector<ui::GuideWindow*>{guide});

  // The guide goes with the main window, and never keeps the program running.
  w->close();
  EXPECT_TRUE(QTest::qWaitFor([w] { return !w->isVisible(); }, 10000));
  EXPECT_FALSE(guide->isVisible());
  EXPECT_FALSE(guide->testAttribute(Qt::WA_QuitOnClose));
  form.reset();
  EXPECT_TRUE(guideWindows().empty()) << "the main window takes its guide with it";
}

// Ctrl+F, a word and Enter select it; F3 and Shift+F3 go on and back, round the
// end; a word the guide lacks keeps the selection and says "not found".
TEST(GuideWindow, FindSelectsTheWordAndSaysWhenNotFound) {
  ui::GuideWindow g;
  g.show();
  g.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&g));
  auto* text = child<QTextBrowser>(&g, "guideText");
  auto* box = child<QLineEdit>(&g, "findBox");
  auto* result = child<QLabel>(&g, "findResult");
  auto selection = [text] { return text->textCursor().selectedText(); };
  auto at = [text] { return text->textCursor().selectionStart(); };

  QTest::keyClick(&g, Qt::Key_F, Qt::ControlModifier);
  EXPECT_TRUE(box->hasFocus());
  QTest::keyClicks(box, "PORT NUMBER");
  QTest::keyClick(box, Qt::Key_Return);
  EXPECT_EQ(selection(), "port number");  // as the guide writes it first
  const int first = at();
  EXPECT_EQ(text->document()->toPlainText().indexOf("port number"), first);
  QTest::keyClick(box, Qt::Key_F3);
  const int second = at();
  EXPECT_GT(second, first);
  QTest::keyClick(box, Qt::Key_F3, Qt::ShiftModifier);
  EXPECT_EQ(at(), first);
  QTest::keyClick(box, Qt::Key_F3, Qt::ShiftModifier);  // round the start to the last
  EXPECT_GT(at(), second);
  EXPECT_EQ(result->text(), "");

  box->selectAll();
  QTest::keyClicks(box, "Fahrenheit");
  const int before = at();
  QTest::keyClick(box, Qt::Key_Return);
  EXPECT_EQ(result->text(), "not found");
  EXPECT_EQ(at(), before);
  EXPECT_EQ(selection(), "port number");
  QTest::keyClick(box, Qt::Key_Backspace);
  EXPECT_EQ(result->text(), "") << "typing takes the word back";
}

// Each picture is drawn at the ratio it is asked for, not scaled from its 1x form.
TEST(Pictures, DrawnAtTheDevicePixelRatio) {
  for (ui::Picture p : {ui::Picture::Banner, ui::Picture::Transducer, ui::Picture::Mark}) {
    const QPixmap one = ui::renderPicture(p, 1.0);
    const QPixmap two = ui::renderPicture(p, 2.0);
    EXPECT_EQ(one.size(), ui::pictureSize(p));
    EXPECT_EQ(two.size(), ui::pictureSize(p) * 2);
    EXPECT_EQ(two.devicePixelRatio(), 2.0);
    EXPECT_EQ(two.deviceIndependentSize().toSize(), ui::pictureSize(p));
    // Scaled up from 1x, every 2 x 2 block would be one colour; drawn at 2x,
    // edges fall inside blocks.
    const QImage img = two.toImage();
    int mixedBlocks = 0;
    for (int y = 0; y + 1 < img.height(); y += 2)
      for (int x = 0; x + 1 < img.width(); x += 2)
        if (img.pixel(x, y) != img.pixel(x + 1, y + 1)) ++mixedBlocks;
    EXPECT_GT(mixedBlocks, 50);
  }
  EXPECT_EQ(ui::pictureSize(ui::Picture::Banner), QSize(320, 38));
  EXPECT_EQ(ui::pictureSize(ui::Picture::Transducer), QSize(125, 77));
  EXPECT_EQ(ui::pictureSize(ui::Picture::Mark), QSize(100, 30));
}

}  // namespace
}  // namespace ku::test
