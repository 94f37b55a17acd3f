// kuutil: the KU engineering utility's windows.
#include <QApplication>

#include "app/unit_controller.h"
#include "app/version.h"
#include "ui/start_up.h"

int main(int argc, char* argv[]) {
  ku::AppContext module;  // outlives every window
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("TolvekKU"));
  QApplication::setApplicationVersion(QString::fromLatin1(ku::kVersion));
  ku::ui::Main(module, QCoreApplication::applicationDirPath());
  return QApplication::exec();
}
