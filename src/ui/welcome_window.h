// WelcomeWindow, the welcome window: pictures and fixed texts, and the one button
// that leads on to the main window.
#pragma once

#include <QWidget>

#include "app/unit_controller.h"
#include "ui/main_window.h"

class QFrame;
class QLabel;
class QPushButton;

namespace ku::ui {

class WelcomeWindow : public QWidget {
  Q_OBJECT

 public:
  // depsFactory supplies the main window's port and helpers when it is loaded;
  // empty means the production defaults.
  explicit WelcomeWindow(AppContext& context, MainWindowDepsFactory depsFactory = {});

  // The platform line, "Platform :    <name>".
  static QString platformText();

 protected:
  void showEvent(QShowEvent* event) override;

 Q_SIGNALS:
  // The main window has been loaded and shown.
  void mainWindowShown(ku::ui::MainWindow* form);

 private:
  void openMainWindow();

  AppContext& context_;
  MainWindowDepsFactory depsFactory_;
};

}  // namespace ku::ui
