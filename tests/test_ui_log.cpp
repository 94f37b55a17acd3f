// The window layer's diagnostics: every request to close a window, and the
// stop signal that asks all of them, in the ku.ui category.
#include <QDialog>
#include <QWidget>
#include <csignal>

#include "log_capture.h"
#include "test_ui_support.h"
#include "ui/close_request_log.h"
#include "ui/stop_signals.h"

namespace ku::test {
namespace {

const ::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class UiLog : public LogCapture {
 protected:
  void SetUp() override {
    LogCapture::SetUp();
    qApp->installEventFilter(&closeLog);
    useRules("ku.ui.debug=true");
    window.setObjectName(QStringLiteral("MainWindow"));
    window.show();
  }
  void TearDown() override {
    qApp->removeEventFilter(&closeLog);
    LogCapture::TearDown();
  }
  ui::CloseRequestLog closeLog;
  QWidget window;
};

TEST_F(UiLog, EveryWindowsCloseRequestIsLoggedByNameOrKindButNoChildWidgets) {
  auto* child = new QWidget(&window);
  child->close();
  window.close();
  QDialog dialog;
  dialog.show();
  dialog.close();
  EXPECT_EQ(lines(), (std::vector<std::string>{"ku.ui: close requested: MainWindow",
                                               "ku.ui: close requested: QDialog"}));
}

TEST_F(UiLog, AStopSignalAsksEveryWindowToClose) {
  ui::StopSignals stopSignals;
  ui::closeAllWindowsOnStop(stopSignals);
  Q_EMIT stopSignals.stopRequested(SIGTERM);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(lines(), (std::vector<std::string>{"ku.ui: SIGTERM: every window is asked to close",
                                               "ku.ui: close requested: MainWindow"}));
}

}  // namespace
}  // namespace ku::test
