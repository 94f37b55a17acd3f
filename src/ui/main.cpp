// kuutil: the KU engineering utility's windows.
#include <QApplication>

#include "app/folders.h"
#include "app/unit_controller.h"
#include "app/version.h"
#include "link/notifier.h"
#include "ui/start_up.h"

int main(int argc, char* argv[]) {
  ku::AppContext module;  // outlives every window
  module.programName = std::string("kuutil ") + ku::kVersion;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(ku::kAppTitle));
  QApplication::setApplicationVersion(QString::fromLatin1(ku::kVersion));
  const QString programDir = QCoreApplication::applicationDirPath();
  ku::ui::startUp(module, programDir);
  // comms.ini, the comN links and TKUUtil.mdb: the program's folder or the standard ones.
  ku::useFolders(module,
                 ku::resolveFolders(ku::FolderEnvironment::ofProcess(programDir.toStdString())));
  return QApplication::exec();
}
