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

QString traceFileOf(const QStringList& arguments, const QString& fromEnvironment) {
  const QString option = QStringLiteral("--trace");
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == option && i + 1 < arguments.size()) return arguments[i + 1];
    if (arguments[i].startsWith(option + QLatin1Char('=')))
      return arguments[i].mid(option.size() + 1);
  }
  return fromEnvironment;
}

}  // namespace ku::ui
