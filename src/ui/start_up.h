// The start-up procedure of AppContext: the tables first, then the welcome window.
#pragma once

#include <QString>
#include <QStringList>

#include "app/unit_controller.h"
#include "ui/main_window.h"

namespace ku::ui {

class WelcomeWindow;

// Fills the context's tables and shows the welcome window, non-modal and without
// owner. The window deletes itself when it closes. programDir is the folder of
// comms.ini and the reference database.
WelcomeWindow* startUp(AppContext& context, const QString& programDir,
                       MainWindowDepsFactory depsFactory = {});

// The wire trace's file: "--trace FILE" (or "--trace=FILE") among the program's
// arguments, else the KU_TRACE variable's value (a desktop launch); empty for none.
QString traceFileOf(const QStringList& arguments, const QString& fromEnvironment);

}  // namespace ku::ui
