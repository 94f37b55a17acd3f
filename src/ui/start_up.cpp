#include "ui/start_up.h"

#include "ui/welcome_window.h"

namespace ku::ui {

WelcomeWindow* startUp(AppContext& context, const QString& programDir,
                       MainWindowDepsFactory depsFactory) {
  initAppContext(context, programDir.toStdString());
  auto* splash = new WelcomeWindow(context, std::move(depsFactory));
  splash->show();
  return splash;
}

}  // namespace ku::ui
