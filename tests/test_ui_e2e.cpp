// The main window on the real serial port and the real pauses, against the
// simulated unit on a pseudo-terminal.
#include <QTest>
#include <QTimer>

#include "simulator.h"
#include "test_ui_support.h"
#include "unit_pace.h"

namespace ku::test {
namespace {

const ::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

TEST(WindowWithSimulatedUnit, LoadUpdateAndCloseOverTheLine) {
  sim::Simulator unit;
  unit.setSlotValue(0, 1);
  unit.start();
  ProgramDir dir;
  dir.writeCommsIni("\"Port\",3\n");
  dir.copyReferenceDb();
  unit.makeLink(dir.path() + "/com3");

  AppContext module;
  initAppContext(module, dir.path());
  module.locale.decimalPoint = ".";
  RecordingNotifier notifier;
  ui::MainWindowDeps deps;
  deps.notifier = &notifier;  // the port, the pauses and the database are the real ones
  ui::MainWindow form(module, std::move(deps));

  EXPECT_EQ(form.load().outcome, LoadOutcome::Linked);
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

}  // namespace
}  // namespace ku::test
