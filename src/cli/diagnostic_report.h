// The diagnostic report a user can mail to support: one text file with the
// program's version, the platform, every path in use (as "kuctl info" shows
// them), the port as it was opened, the last read-back's record in hex, the
// latest events of the wire trace and the connection check's result when it
// ran. It holds only what the program showed or used, no environment.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/folders.h"
#include "cli/info.h"
#include "link/wire_trace.h"

namespace ku::cli {

struct ReportFacts {
  std::string program;   // "kuutil 1.2"
  std::string platform;  // the system, its kernel and the processor
  std::string qtVersion;
  Folders folders;
  PortChoice portChoice;
  std::optional<TracedPort> port;        // the port opened last, if any was
  std::optional<std::string> lastReply;  // the last read-back's reply to "x", as it came
  std::vector<std::string> trace;        // the trace's latest lines, oldest first
  std::string status;                    // the last line the status bar showed
  std::string connectionCheck;           // the connection check's lines; empty when not run
};

// The platform and Qt version of this process, the trace's port, reply and lines.
ReportFacts reportFacts(const WireTrace& trace);

std::string diagnosticReport(const ReportFacts& facts);

// Bytes as rows of 16: offset, hex and text ("0000  30 31 ...  01...").
std::string hexDump(const std::string& bytes);

}  // namespace ku::cli
