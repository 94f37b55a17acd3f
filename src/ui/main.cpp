// kuutil: the KU engineering utility's windows.
#include <QApplication>
#include <iostream>

#include "app/folders.h"
#include "app/operator_texts.h"
#include "app/unit_controller.h"
#include "app/version.h"
#include "link/stop_request.h"
#include "link/wire_trace.h"
#include "ui/close_request_log.h"
#include "ui/start_up.h"
#include "ui/stop_signals.h"

int main(int argc, char* argv[]) {
  // Every event on the line, kept in memory for the diagnostic report and, with
  // --trace FILE or KU_TRACE=FILE, written to that file; outlives every window.
  ku::WireTrace trace;
  ku::AppContext context;  // outlives every window
  context.programName = std::string("kuutil ") + ku::kVersion;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(ku::kAppTitle));
  QApplication::setApplicationVersion(QString::fromLatin1(ku::kVersion));
  const QString programDir = QCoreApplication::applicationDirPath();
  app.installEventFilter(new ku::ui::CloseRequestLog(&app));
  const QString traceFile =
      ku::ui::traceFileOf(QApplication::arguments(), qEnvironmentVariable("KU_TRACE"));
  if (!traceFile.isEmpty()) {
    std::string why;
    if (trace.writeTo(traceFile.toStdString(), why))
      trace.comment(std::string("kuutil ") + ku::kVersion);
    else
      std::cerr << "kuutil: the trace file " << traceFile.toStdString() << " cannot be written ("
                << why << "); the trace is kept in memory only\n";
  }
  // SIGINT, SIGTERM, SIGHUP and the log-out close the windows as Close does.
  ku::ui::StopSignals stopSignals;
  ku::ui::closeAllWindowsOnStop(stopSignals);
  ku::ui::startUp(context, programDir, [&trace] {
    ku::ui::MainWindowDeps deps;
    deps.stop = &ku::processStopRequest();
    deps.trace = &trace;
    return deps;
  });
  // comms.ini, the comN links and TKUUtil.mdb: the program's folder or the standard ones.
  ku::useFolders(context,
                 ku::resolveFolders(ku::FolderEnvironment::ofProcess(programDir.toStdString())));
  const int status = QApplication::exec();
  const int stoppedBy = ku::processStopRequest().signal();
  if (stoppedBy == 0) return status;
  std::cerr << "kuutil: closed on " << ku::signalName(stoppedBy) << "\n";
  return 128 + stoppedBy;
}
