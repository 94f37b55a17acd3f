#include "cli/diagnostic_report.h"

#include <QString>
#include <QSysInfo>
#include <QtGlobal>
#include <cstdio>
#include <sstream>

#include "link/record_check.h"
#include "model/log.h"
#include "model/log.h"

namespace ku::cli {

ReportFacts reportFacts(const WireTrace& trace) {
  ReportFacts f;
  f.platform = QSysInfo::prettyProductName().toStdString() + ", " +
               QSysInfo::kernelType().toStdString() + " " +
               QSysInfo::kernelVersion().toStdString() + ", " +
               QSysInfo::currentCpuArchitecture().toStdString();
  f.qtVersion = qVersion();
  f.port = trace.port();
  f.lastReply = trace.lastReply();
  f.trace = trace.lines();
  return f;
}

std::string hexDump(const std::string& bytes) {
  std::string out;
  for (std::size_t row = 0; row < bytes.size(); row += 16) {
    const std::string part = bytes.substr(row, 16);
    char head[24];
    std::snprintf(head, sizeof head, "%04zx ", row);
    std::string hex = " " + hexBytes(part).toStdString();
    hex.resize(16 * 3, ' ');
    out += head + hex + "  " + printableBytes(part) + "\n";
  }
  return out;
}

std::string diagnosticReport(const ReportFacts& f) {
  std::ostringstream out;
  auto heading = [&out](const char* title) { out << "\n== " << title << " ==\n"; };
  out << "KU utility diagnostic report\n"
      << "program:  " << f.program << "\n"
      << "platform: " << f.platform << "\n"
      << "Qt:       " << f.qtVersion << "\n";

  heading("Paths");
  // As "kuctl info" shows them, without its first line: the version is above.
  std::ostringstream info;
  printInfo(f.folders, f.portChoice, false, info);
  const std::string paths = info.str();
  out << paths.substr(paths.find('\n') + 1);

  heading("Port");
  if (f.port) {
    out << "device:   " << f.port->device << "\n"
        << "resolves: " << (f.port->resolved.empty() ? "-" : f.port->resolved) << "\n"
        << "settings: " << f.port->settings << "\n";
  } else {
    out << "not opened in this run\n";
  }

  heading("Last read-back");
  if (!f.lastReply) {
    out << "none in this run\n";
  } else {
    const ReplyCheck check = checkReply(*f.lastReply, f.lastReply->size());
    out << receivedText(check) << "\n" << hexDump(*f.lastReply);
  }

  heading("Status bar");
  out << (f.status.empty() ? "-" : f.status) << "\n";

  heading("Connection check");
  out << (f.connectionCheck.empty() ? "not run\n" : f.connectionCheck);
  if (!f.connectionCheck.empty() && f.connectionCheck.back() != '\n') out << "\n";

  heading("Wire trace (latest events)");
  if (f.trace.empty()) out << "no events\n";
  for (const std::string& line : f.trace) out << line << "\n";
  return out.str();
}

}  // namespace ku::cli
