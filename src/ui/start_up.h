// The start-up procedure of Module1: the tables first, then the welcome window.
#pragma once

#include <QString>

#include "app/form1_core.h"
#include "ui/form1.h"

namespace ku::ui {

class frmSplash;

// Fills the module's tables and shows the welcome window, non-modal and without
// owner. The window deletes itself when it closes. programDir is the folder of
// comms.ini and the reference database.
frmSplash* Main(Module1& module, const QString& programDir, Form1DepsFactory depsFactory = {});

}  // namespace ku::ui
