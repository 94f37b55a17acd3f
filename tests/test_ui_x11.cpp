// The windows on a real X server (run_under_xvfb.sh starts one): what the window
// manager reads as the welcome window's name, and keys typed while the unit is
// busy, typed with xdotool as an operator would.
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QStyle>
#include <QTest>
#include <atomic>

#include "test_ui_support.h"
#include "ui/welcome_window.h"

namespace ku::test {
namespace {

const ::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

#define SKIP_WITHOUT_X11()                                                      \
  do {                                                                          \
    if (!qEnvironmentVariableIsEmpty("KU_NO_X11"))                              \
      GTEST_SKIP() << qgetenv("KU_NO_X11").toStdString();                       \
    if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "not on X11"; \
  } while (0)

std::string run(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  EXPECT_TRUE(p.waitForFinished(10000)) << program.toStdString();
  return p.readAllStandardOutput().toStdString();
}
QString windowId(QWidget* w) {
  return QString::number(w->winId());
}

TEST(OnX11, WelcomeWindowNameIsEmptyAndTheMainWindowKeepsItsCaption) {
  SKIP_WITHOUT_X11();
  AppContext context;
  ui::WelcomeWindow w(context);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  // Qt would write the application's name here for an empty title.
  EXPECT_EQ(run("xprop", {"-id", windowId(&w), "_NET_WM_NAME", "WM_NAME"}),
            "_NET_WM_NAME(UTF8_STRING) = \nWM_NAME(STRING) = \n");
  EXPECT_EQ(run("xdotool", {"getwindowname", windowId(&w)}), "\n");

  ProgramDir dir;
  initAppContext(context, dir.path());
  RecordingNotifier notifier;
  ui::MainWindowDeps deps;
  deps.port = std::make_unique<FakeSerialPort>();
  deps.notifier = &notifier;
  ui::MainWindow form(context, std::move(deps));
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  EXPECT_EQ(run("xdotool", {"getwindowname", windowId(&form)}), "TolvekKU \n");
}

// Counts the Return keys that reach any object of the program.
class ReturnCounter : public QObject {
 public:
  int count = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    // Once per key: as the window system hands it to a window.
    if (watched->isWindowType() && e->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(e)->key() == Qt::Key_Return)
      ++count;
    return false;
  }
};

// A message that, like a message box, runs the event loop while it is shown, and
// notes the Return keys that reach the program meanwhile.
class LoopingNotifier : public Notifier {
 public:
  explicit LoopingNotifier(ReturnCounter& counter) : counter_(counter) {}
  void show(const Message& message) override {
    const int before = counter_.count;
    QTest::qWait(500);
    returnsWhileShown.push_back(counter_.count - before);
    messages.push_back(operatorText(message));
  }
  std::vector<std::string> messages;
  std::vector<int> returnsWhileShown;

 private:
  ReturnCounter& counter_;
};

TEST(OnX11, EnterTypedDuringReadBackDoesNotReachItsMessage) {
  SKIP_WITHOUT_X11();
  ProgramDir dir;
  dir.writeCommsIni("\"Port\",1\n");
  AppContext context;
  initAppContext(context, dir.path());
  ReturnCounter counter;
  qApp->installEventFilter(&counter);
  LoopingNotifier notifier(counter);

  auto fake = std::make_unique<FakeSerialPort>();
  FakeSerialPort* port = fake.get();
  ScriptedUnit unit;
  unit.attach(*port);
  ui::MainWindowDeps deps;
  deps.port = std::move(fake);
  deps.notifier = &notifier;  // the pauses are the window's own, real ones
  ui::MainWindow form(context, std::move(deps));
  ASSERT_EQ(loadWindow(form).outcome, LoadOutcome::Linked);
  ASSERT_TRUE(notifier.messages.empty());
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));

  // While the window is idle, a Return typed into it arrives.
  run("xdotool", {"key", "Return"});
  ASSERT_TRUE(QTest::qWaitFor([&] { return counter.count == 1; }, 5000))
      << "xdotool's key did not reach the window";

  // The unit goes silent; during the read-back's first pause the operator
  // presses Enter.
  port->written.clear();
  port->onByte = [](unsigned char c) {
    if (c == ' ') run("xdotool", {"key", "Return"});
  };
  form.readBackUnit();
  ASSERT_TRUE(waitIdle(form));
  qApp->removeEventFilter(&counter);

  ASSERT_EQ(notifier.messages, std::vector<std::string>{kShortReplyText});
  EXPECT_EQ(notifier.returnsWhileShown, std::vector<int>{0}) << "the held Enter answered the box";
  // The window stays live during the read-back: the key reached it then, not later.
  EXPECT_EQ(counter.count, 2);
  EXPECT_EQ(port->written, " qx");
}

// Pictures for the README and the guide (scripts/screenshots): both windows, the
// main window during an upload and the guide window. Written only when
// KU_SCREENSHOT_DIR names a folder; under KU_SCREENSHOT_THEME=dark (with a dark
// style, such as QT_STYLE_OVERRIDE=Adwaita-Dark) their names end in "-dark".
TEST(OnX11, Screenshots) {
  SKIP_WITHOUT_X11();
  const QString folder = qEnvironmentVariable("KU_SCREENSHOT_DIR");
  if (folder.isEmpty()) GTEST_SKIP() << "KU_SCREENSHOT_DIR not set";
  const bool dark = qEnvironmentVariable("KU_SCREENSHOT_THEME") == "dark";
  // A dark picture made under a light palette (the style did not load) would
  // pass for one; neither is written then.
  ASSERT_EQ(QApplication::palette().color(QPalette::Window).lightness() < 128, dark)
      << "the style " << QApplication::style()->name().toStdString() << " does not give a "
      << (dark ? "dark" : "light") << " palette";
  auto out = [&](const char* name) { return folder + '/' + name + (dark ? "-dark.png" : ".png"); };
  ProgramDir dir;
  dir.writeCommsIni("\"Port\",1\n");
  dir.copyReferenceDb();
  AppContext context;
  initAppContext(context, dir.path());
  ui::WelcomeWindow welcome(context);
  welcome.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&welcome));
  EXPECT_TRUE(welcome.grab().save(out("welcome-window")));
  welcome.hide();

  auto fake = std::make_unique<FakeSerialPort>();
  FakeSerialPort* port = fake.get();
  ScriptedUnit unit;
  unit.attach(*port);
  RecordingNotifier notifier;
  ui::MainWindowDeps deps;
  deps.port = std::move(fake);
  deps.notifier = &notifier;
  ui::MainWindow form(context, std::move(deps));
  ASSERT_EQ(loadWindow(form).outcome, LoadOutcome::Linked);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  QTest::keyClicks(entryBox(&form, 4), "1000");
  QTest::qWait(200);
  EXPECT_TRUE(form.grab().save(out("main-window")));
  // Caught as the upload's progress passes 40 bytes; the unit waits meanwhile.
  auto* bar = child<QProgressBar>(&form, "progress");
  std::atomic<bool> grabbed{false};
  int bytes = 0;
  unit.beforeByte = [&](unsigned char) {
    if (++bytes == 45) (void)QTest::qWaitFor([&] { return grabbed.load(); }, 5000);
  };
  QObject::connect(bar, &QProgressBar::valueChanged, &form, [&](int v) {
    if (v < 40 || grabbed) return;
    QTest::qWait(100);
    EXPECT_TRUE(form.grab().save(out("upload-in-progress")));
    grabbed = true;
  });
  button(&form, "update")->click();
  ASSERT_TRUE(waitIdle(form));
  EXPECT_TRUE(grabbed);

  // The unit goes silent: a read-back brings nothing, and the window says so
  // (the message itself went to the recording notifier).
  unit.beforeByte = nullptr;
  port->onByte = nullptr;
  port->replies.clear();
  form.readBackUnit();
  ASSERT_TRUE(waitIdle(form));
  QTest::qWait(100);
  EXPECT_TRUE(form.grab().save(out("failed-read-back")));

  // The guide window, having found a word.
  form.openOperatorGuide();
  ASSERT_EQ(guideWindows().size(), 1u);
  ui::GuideWindow* guide = guideWindows()[0];
  ASSERT_TRUE(QTest::qWaitForWindowExposed(guide));
  guide->resize(720, 560);  // narrower than the text it is shown in, within the guide
  auto* find = child<QLineEdit>(guide, "findBox");
  find->setText("comms.ini");
  EXPECT_TRUE(guide->find(find->text()));
  QTest::qWait(200);
  EXPECT_TRUE(guide->grab().save(out("guide-window")));
}

}  // namespace
}  // namespace ku::test
