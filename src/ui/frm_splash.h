// frmSplash, the welcome window: pictures and fixed texts, and the one button
// that leads on to the main window.
#pragma once

#include <QWidget>

#include "app/form1_core.h"
#include "ui/form1.h"

class QFrame;
class QLabel;
class QPushButton;

namespace ku::ui {

class frmSplash : public QWidget {
  Q_OBJECT

 public:
  // depsFactory supplies the main window's port and helpers when it is loaded;
  // empty means the production defaults.
  explicit frmSplash(Module1& module, Form1DepsFactory depsFactory = {});

  // The platform line, "Platform :    <name>".
  static QString platformText();

 signals:
  // The main window has been loaded and shown.
  void mainWindowShown(ku::ui::Form1* form);

 private:
  void Command1_Click();

  Module1& module_;
  Form1DepsFactory depsFactory_;
};

}  // namespace ku::ui
