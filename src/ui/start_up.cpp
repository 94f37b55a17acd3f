#include "ui/start_up.h"

#include "ui/frm_splash.h"

namespace ku::ui {

frmSplash* Main(Module1& module, const QString& programDir, Form1DepsFactory depsFactory) {
  startUp(module, programDir.toStdString());
  auto* splash = new frmSplash(module, std::move(depsFactory));
  splash->show();
  return splash;
}

}  // namespace ku::ui
