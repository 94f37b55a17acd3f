// The start-up procedure of AppContext: the tables first, then the welcome window.
#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>

#include "app/unit_controller.h"
#include "ui/main_window.h"

namespace ku::ui {

class WelcomeWindow;

// The name of the program's desktop entry (ku-utility.desktop) and icon.
inline constexpr const char* kDesktopName = "ku-utility";

// The program's icon: the one built into the program at the sizes a task bar
// and a dock ask for, else the desktop theme's "ku-utility".
QIcon programIcon();
// Gives every window of the program its icon, and names its desktop entry, so
// that the task bar shows the icon and groups the windows with the menu entry.
void setProgramIdentity();

// Fills the context's tables and shows the welcome window, non-modal and without
// owner. The window deletes itself when it closes. programDir is the folder of
// comms.ini and the reference database.
WelcomeWindow* startUp(AppContext& context, const QString& programDir,
                       MainWindowDepsFactory depsFactory = {});

// The wire trace's file: "--trace FILE" (or "--trace=FILE") among the program's
// arguments, else the KU_TRACE variable's value (a desktop launch); empty for none.
QString traceFileOf(const QStringList& arguments, const QString& fromEnvironment);

}  // namespace ku::ui
