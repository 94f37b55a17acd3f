// The welcome window's caption is empty. On X11, Qt writes the application's
// name into a window's name whenever its title is empty; this writes the empty
// name back.
#pragma once

class QWidget;

namespace ku::ui {

// Gives the window's native window an empty name (_NET_WM_NAME and WM_NAME) on
// X11; elsewhere the empty title Qt already set is left as it is. Call it once the
// native window exists (from the window's show event).
void clearNativeTitle(QWidget* window);

}  // namespace ku::ui
