// The main window on the real serial port and the real pauses, against the
// simulated unit on a pseudo-terminal.
#include <QTest>
#include <QTimer>

#include "simulator.h"
#include "test_ui_support.h"

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

  QTest::keyClicks(entryBox(&form, 4), "1000");
  // The window keeps handling its own events (painting) while the pauses run.
  bool handledWhileBusy = false;
  QTimer::singleShot(300, &form, [&] { handledWhileBusy = form.busy(); });
  button(&form, "update")->click();
  EXPECT_TRUE(handledWhileBusy);

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
