// kuctl: the KU utility's command-line companion.
#include <QCoreApplication>
#include <iostream>

#include "cli/kuctl.h"
#include "link/qt_serial_port.h"
#include "reference/db_cache.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ku::installStopHandlers();
  std::vector<std::string> args(argv + 1, argv + argc);

  ku::RealSleeper sleeper;
  auto opener = ku::makeCachingMdbOpener();
  ku::cli::Environment env;
  env.folders =
      ku::FolderEnvironment::ofProcess(QCoreApplication::applicationDirPath().toStdString());
  env.makePort = [](const std::string& dir) { return std::make_unique<ku::QtSerialPort>(dir); };
  env.listPorts = [] { return ku::listSerialPorts(); };
  env.sleeper = &sleeper;
  env.opener = opener.get();
  env.stop = &ku::processStopRequest();
  return ku::cli::run(args, env, std::cout, std::cerr);
}
