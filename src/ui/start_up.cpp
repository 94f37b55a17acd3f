#include "ui/start_up.h"

#include "ui/welcome_window.h"

namespace ku::ui {

WelcomeWindow* startUp(AppContext& module, const QString& programDir,
                       MainWindowDepsFactory depsFactory) {
  initAppContext(module, programDir.toStdString());
  auto* splash = new WelcomeWindow(module, std::move(depsFactory));
  splash->show();
  return splash;
}

}  // namespace ku::ui
