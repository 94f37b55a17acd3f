// The welcome window, the way to the main window, and pictures of both windows.
#include <QDir>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "test_ui_support.h"
#include "ui/start_up.h"
#include "ui/welcome_window.h"

namespace ku::test {
namespace {

const ::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

using ui::MainWindow;
using ui::WelcomeWindow;

// Runs the start-up procedure with fake helpers and counts when the main
// window's port is made.
class StartUpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.writeCommsIni("\"Port\",1\n");
    dir.copyReferenceDb();
  }
  void TearDown() override {
    delete form.data();
    delete splash.data();
  }

  WelcomeWindow* start() {
    splash = ui::startUp(context, dir.dir.path(), [this] {
      ++portsMade;
      auto fake = std::make_unique<FakeSerialPort>();
      port = fake.get();
      unit.attach(*port);
      return fakeDeps(std::move(fake), notifier, sleeper);
    });
    QObject::connect(splash, &WelcomeWindow::mainWindowShown, [this](MainWindow* f) { form = f; });
    return splash.data();
  }

  ProgramDir dir;
  AppContext context;
  FakeSleeper sleeper;
  RecordingNotifier notifier;
  ScriptedUnit unit;
  FakeSerialPort* port = nullptr;
  int portsMade = 0;
  QPointer<WelcomeWindow> splash;
  QPointer<MainWindow> form;
};

TEST_F(StartUpTest, WelcomeWindowWaitsWithOnlyItsButtonFocusable) {
  WelcomeWindow* s = start();
  EXPECT_TRUE(s->isVisible());
  EXPECT_EQ(s->size(), QSize(439, 288));
  EXPECT_EQ(s->minimumSize(), s->maximumSize());  // not resizable
  EXPECT_TRUE(s->windowTitle().isEmpty());
  EXPECT_FALSE(s->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));

  QStringList focusable;
  for (QWidget* c : s->findChildren<QWidget*>())
    if (c->focusPolicy() != Qt::NoFocus) focusable << c->objectName();
  EXPECT_EQ(focusable, QStringList{"next"});
  EXPECT_TRUE(child<QPushButton>(s, "next")->isDefault());

  EXPECT_EQ(labelText(s, "welcome"), "WELCOME");
  EXPECT_EQ(labelText(s, "version"), "Version 1.2");
  EXPECT_EQ(labelText(s, "utilities"), "Engineering Utilities");
#ifdef Q_OS_LINUX
  EXPECT_EQ(labelText(s, "platform"), "Platform :    Linux");
#endif
  EXPECT_EQ(child<QPushButton>(s, "next")->text(), "------->");

  // Nothing of the main window exists yet: no port, no comms.ini read.
  QTest::qWait(50);
  EXPECT_EQ(portsMade, 0);
  EXPECT_EQ(form, nullptr);
  EXPECT_EQ(context.port.portNumberAccepted, false);
}

TEST_F(StartUpTest, EnterShowsTheMainWindowAtOnceAndLoadsBehindIt) {
  WelcomeWindow* s = start();
  s->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(s));
  QTest::keyClick(child<QPushButton>(s, "next"), Qt::Key_Return);

  // The main window is on screen before the load step has run: the read-back
  // goes on behind it, the entry boxes and commands disabled meanwhile.
  EXPECT_EQ(portsMade, 1);
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->busy());
  EXPECT_FALSE(entryBox(form, 4)->isEnabled());
  EXPECT_FALSE(button(form, "update")->isEnabled());
  EXPECT_EQ(labelText(form, "current_4"), "");
  EXPECT_EQ(form->windowTitle(), "TolvekKU ");

  ASSERT_TRUE(waitIdle(*form));
  EXPECT_EQ(unit.received, " qx");
  EXPECT_EQ(labelText(form, "current_4"), "799");
  EXPECT_TRUE(entryBox(form, 4)->isEnabled());
  EXPECT_TRUE(button(form, "update")->isEnabled());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(splash, nullptr);  // unloaded for good
  EXPECT_TRUE(QGuiApplication::quitOnLastWindowClosed());

  child<QPushButton>(form, "close")->click();
  ASSERT_TRUE(QTest::qWaitFor([this] { return !form || !form->isVisible(); }, 10000));
  EXPECT_EQ(unit.received.back(), '!');
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(form, nullptr);  // unloaded with its window
}

// In the event loop: the moment between the two windows does not end the
// program; closing the main window does.
TEST_F(StartUpTest, ProgramRunsUntilTheMainWindowCloses) {
  WelcomeWindow* s = start();
  bool mainWindowUp = false, closedByButton = false;
  QTimer::singleShot(0, s, [&] {
    child<QPushButton>(s, "next")->click();
    QTimer::singleShot(200, [&] {
      mainWindowUp = form && form->isVisible();
      if (form) child<QPushButton>(form, "close")->click();
      closedByButton = true;
    });
  });
  QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });  // a hang fails here
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_TRUE(mainWindowUp);
  EXPECT_TRUE(closedByButton);
  EXPECT_EQ(form, nullptr);
  EXPECT_EQ(unit.received, " qx!");  // the port went with its window
}

// Pictures of both windows go to the build folder; their sizes and a few
// controls are checked against the layout in twips.
TEST_F(StartUpTest, WindowsMatchTheirLayout) {
  const QString shots = QStringLiteral(KU_BIN_DIR "/../ui-screenshots");
  ASSERT_TRUE(QDir().mkpath(shots));

  WelcomeWindow* s = start();
  const QPixmap splashShot = s->grab();
  EXPECT_EQ(splashShot.size(), QSize(439, 288));
  EXPECT_TRUE(splashShot.save(shots + "/WelcomeWindow.png"));
  EXPECT_EQ(child<QWidget>(s, "frame")->geometry(), QRect(0, 0, 472, 283));
  EXPECT_EQ(child<QWidget>(s, "banner")->geometry(), QRect(80, 40, 320, 38));
  EXPECT_EQ(child<QWidget>(s, "transducer")->geometry(), QRect(24, 104, 125, 77));
  EXPECT_EQ(child<QWidget>(s, "mark")->geometry(), QRect(224, 104, 100, 30));
  EXPECT_EQ(child<QWidget>(s, "next")->geometry(), QRect(352, 248, 57, 25));
  EXPECT_EQ(child<QWidget>(s, "company")->pos(), QPoint(24, 240));
  EXPECT_EQ(splashShot.toImage().pixelColor(2, 280), ui::backgroundColour());

  child<QPushButton>(s, "next")->click();
  ASSERT_NE(form, nullptr);
  // The form between the menu bar and the status bar keeps its client area.
  const QPixmap mainShot = child<QWidget>(form, "form")->grab();
  EXPECT_EQ(mainShot.size(), QSize(676, 697));
  EXPECT_TRUE(mainShot.save(shots + "/MainWindow.png"));
  EXPECT_EQ(child<QWidget>(form, "entry_0")->geometry(), QRect(260, 40, 73, 19));
  EXPECT_EQ(child<QWidget>(form, "entry_31")->geometry(), QRect(260, 629, 73, 19));
  EXPECT_EQ(child<QWidget>(form, "pulseWidth")->geometry(), QRect(260, 648, 73, 19));
  EXPECT_EQ(child<QWidget>(form, "current_0")->pos(), QPoint(152, 40));
  EXPECT_EQ(child<QWidget>(form, "description_18")->pos(), QPoint(568, 384));
  EXPECT_EQ(child<QWidget>(form, "description_17")->pos().y(), 363);
  EXPECT_EQ(child<QWidget>(form, "descriptionHeading")->pos(), QPoint(472, 16));
  EXPECT_EQ(child<QWidget>(form, "default")->geometry(), QRect(184, 672, 73, 17));
  EXPECT_EQ(child<QWidget>(form, "update")->geometry(), QRect(256, 672, 81, 17));
  EXPECT_EQ(child<QWidget>(form, "close")->geometry(), QRect(336, 672, 81, 17));
  EXPECT_EQ(mainShot.toImage().pixelColor(2, 2), ui::backgroundColour());
}

}  // namespace
}  // namespace ku::test
