// The start-up procedure of AppContext: the tables first, then the welcome window.
#pragma once

#include <QString>

#include "app/unit_controller.h"
#include "ui/main_window.h"

namespace ku::ui {

class WelcomeWindow;

// Fills the context's tables and shows the welcome window, non-modal and without
// owner. The window deletes itself when it closes. programDir is the folder of
// comms.ini and the reference database.
WelcomeWindow* startUp(AppContext& context, const QString& programDir,
                       MainWindowDepsFactory depsFactory = {});

}  // namespace ku::ui
