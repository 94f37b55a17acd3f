#include "ui/start_up.h"

#include <QApplication>
#include <QFile>

#include "ui/welcome_window.h"

namespace ku::ui {

QIcon programIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    const QString file = QStringLiteral(":/icon/ku-utility-%1.png").arg(size);
    if (QFile::exists(file)) icon.addFile(file, QSize(size, size));
  }
  if (icon.isNull()) icon = QIcon::fromTheme(QString::fromLatin1(kDesktopName));
  return icon;
}

void setProgramIdentity() {
  QApplication::setWindowIcon(programIcon());
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopName));
}

WelcomeWindow* startUp(AppContext& context, const QString& programDir,
                       MainWindowDepsFactory depsFactory) {
  initAppContext(context, programDir.toStdString());
  setProgramIdentity();
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
