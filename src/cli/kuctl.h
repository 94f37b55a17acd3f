// kuctl: the command-line companion. It runs the main window's own steps (load,
// read-back, uploads, entry checking, reference refresh, close) on an in-memory
// window and prints what the window would show.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "app/folders.h"
#include "app/serial_ports.h"
#include "link/serial_port.h"
#include "link/sleeper.h"
#include "link/stop_request.h"
#include "reference/reference_database.h"

namespace ku::cli {

// Exit statuses; --help documents them.
enum ExitStatus : int {
  kExitOk = 0,
  kExitDiffer = 1,           // diff: the unit's values differ from the file's
  kExitUsage = 2,            // bad command line or a rejected entry; nothing was sent
  kExitInvalidPort = 3,      // the invalid-port message
  kExitPortUnavailable = 4,  // the port could not be opened (held elsewhere, no rights, ...)
  kExitShortReply = 5,       // the short-reply message
  kExitValueLimit = 6,       // the value-limit message
  kExitOtherMessage = 7,     // any other message of the system
  kExitNoBackup = 8,         // the backup before an upload could not be written; nothing sent
  kExitUploadBroken = 9,     // a write failed during the upload: the unit may hold part of it
  // doctor: 10 + the verdict's place after ok (10 no-settings ... 19 long-reply).
  kExitDoctorBase = 10,
  // Stopped by a signal: 128 + its number (130 SIGINT, 143 SIGTERM, 129 SIGHUP).
  kExitSignalBase = 128,
};

// What kuctl runs on; tests swap in fakes.
struct Environment {
  // The program's folder and the environment that choose comms.ini, TKUUtil.mdb
  // and the backups folder.
  FolderEnvironment folders;
  // A port whose number N opens comN in linkFolder (else /dev/ttyS<N-1>).
  std::function<std::unique_ptr<SerialPort>(const std::string& linkFolder)> makePort;
  // The serial ports of this computer (kuctl ports).
  std::function<std::vector<SerialPortEntry>()> listPorts;
  Sleeper* sleeper = nullptr;
  ReferenceDatabaseOpener* opener = nullptr;
  // Set by SIGINT, SIGTERM and SIGHUP; the exchanges give way to it. None: no stop.
  const StopRequest* stop = nullptr;
};

// Runs one command line (args without the program name). Output to out, the
// system's messages and errors to err. Returns the exit status.
int run(const std::vector<std::string>& args, Environment& env, std::ostream& out,
        std::ostream& err);

std::string helpText();

}  // namespace ku::cli
