// The diagnostic report's text: its sections in order, the record in hex, and
// the trace's lines as they were kept.
#include <gtest/gtest.h>

#include "cli/diagnostic_report.h"

namespace ku::cli {
namespace {

TEST(DiagnosticReport, HexDumpShowsOffsetHexAndText) {
  EXPECT_EQ(hexDump("0123456789abcdef\r\x80"),
            "0000  30 31 32 33 34 35 36 37 38 39 61 62 63 64 65 66  0123456789abcdef\n"
            "0010  0d 80                                            \\r\\x80\n");
  EXPECT_EQ(hexDump(""), "");
}

TEST(DiagnosticReport, HoldsEverySectionInOrder) {
  ReportFacts f;
  f.program = "kuutil 9.9";
  f.platform = "Debian GNU/Linux 12, linux 6.1, x86_64";
  f.qtVersion = "6.4.2";
  f.folders.programDir = "/opt/ku";
  f.folders.settingsFile = {"/opt/ku/comms.ini", "beside the program", true};
  f.port = TracedPort{"/opt/ku/com1", "/dev/ttyUSB0", "4800 baud 8N1, flow none, RTS on"};
  f.lastReply = std::string("0123456789");
  f.trace = {"        0 open /opt/ku/com1 -> /dev/ttyUSB0", "       12 write 1 20 \" \""};
  f.status = "Read back 0 of 32 slots at 10:00:00";
  const std::string report = diagnosticReport(f);

  const std::vector<std::string> inOrder = {
      "KU utility diagnostic report\nprogram:  kuutil 9.9\n"
      "platform: Debian GNU/Linux 12, linux 6.1, x86_64\nQt:       6.4.2\n",
      "\n== Paths ==\n",
      "program folder:     /opt/ku\n",
      "settings file:      /opt/ku/comms.ini\n  beside the program\n",
      "\n== Port ==\ndevice:   /opt/ku/com1\nresolves: /dev/ttyUSB0\n"
      "settings: 4800 baud 8N1, flow none, RTS on\n",
      "\n== Last read-back ==\nreceived 10 of 38 characters\n0000  30 31 32",
      "\n== Status bar ==\nRead back 0 of 32 slots at 10:00:00\n",
      "\n== Connection check ==\nnot run\n",
      "\n== Wire trace (latest events) ==\n        0 open /opt/ku/com1 -> /dev/ttyUSB0\n"
      "       12 write 1 20 \" \"\n"};
  std::size_t at = 0;
  for (const std::string& part : inOrder) {
    const std::size_t found = report.find(part, at);
    ASSERT_NE(found, std::string::npos) << "missing, or out of order: " << part << "\n" << report;
    at = found + part.size();
  }
  EXPECT_EQ(at, report.size());

  f.port.reset();
  f.lastReply.reset();
  f.trace.clear();
  f.connectionCheck = "verdict: silent";
  const std::string bare = diagnosticReport(f);
  for (const char* part :
       {"== Port ==\nnot opened in this run\n", "== Last read-back ==\nnone in this run\n",
        "== Connection check ==\nverdict: silent\n", "==\nno events\n"})
    EXPECT_NE(bare.find(part), std::string::npos) << part << "\n" << bare;
}

}  // namespace
}  // namespace ku::cli
