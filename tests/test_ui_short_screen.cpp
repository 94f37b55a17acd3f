// The windows on a screen of 1024 x 600 (the offscreen platform configured by
// tests/data/short_screen.json): frames centred in the screen, nothing off it.
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include "test_ui_support.h"
#include "ui/welcome_window.h"

namespace ku::test {
namespace {

// Set before the application object exists.
const bool kShortScreen =
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" KU_TEST_DATA_DIR "/short_screen.json");
const ::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

using ui::MainWindow;

class ShortScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.writeCommsIni("\"Port\",1\n");
    initAppContext(context, dir.path());
  }
  MainWindow* open() {
    auto fake = std::make_unique<FakeSerialPort>();
    unit.attach(*fake);
    form = std::make_unique<MainWindow>(context, fakeDeps(std::move(fake), notifier, sleeper));
    loadWindow(*form);
    form->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    return form.get();
  }

  ProgramDir dir;
  AppContext context;
  FakeSleeper sleeper;
  RecordingNotifier notifier;
  ScriptedUnit unit;
  std::unique_ptr<MainWindow> form;
};

TEST_F(ShortScreenTest, WelcomeFrameIsCentred) {
  ui::WelcomeWindow w(context);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  QCoreApplication::processEvents();
  const QRect area = w.screen()->availableGeometry();
  ASSERT_TRUE(kShortScreen);
  ASSERT_EQ(area, QRect(0, 0, 1024, 600));
  const QRect frame = w.frameGeometry();
  ASSERT_NE(frame, w.geometry()) << "the platform draws a frame";
  EXPECT_LE(std::abs(frame.center().x() - area.center().x()), 1);
  EXPECT_LE(std::abs(frame.center().y() - area.center().y()), 1);
}

// A screen of 1024 x 600, shorter than the form: the window keeps to it, and the
// form scrolls with every control in its place.
TEST_F(ShortScreenTest, FormScrollsAndKeepsTheButtonsReachable) {
  MainWindow* w = open();
  w->placeOnScreen();
  QCoreApplication::processEvents();
  const QRect area = w->screen()->availableGeometry();
  ASSERT_LT(area.height(), 697);
  EXPECT_TRUE(area.contains(w->frameGeometry())) << "the window stays on the screen";
  QWidget* f = child<QWidget>(w, "form");
  EXPECT_EQ(f->size(), QSize(676, 697));
  auto* scroll = child<QScrollArea>(w, "formScroll");
  EXPECT_TRUE(scroll->verticalScrollBar()->isVisible());
  EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());

  // Tab from the last box on to "Update" scrolls it into view.
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  entryBox(w, 29)->setFocus(Qt::OtherFocusReason);
  for (int i = 0; i < 3; ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), button(w, "update"));
  const QRect shown(button(w, "update")->mapTo(scroll->viewport(), QPoint(0, 0)),
                    button(w, "update")->size());
  EXPECT_TRUE(scroll->viewport()->rect().contains(shown));
  EXPECT_EQ(child<QWidget>(w, "update")->geometry(), QRect(256, 672, 81, 17));
}

}  // namespace
}  // namespace ku::test
