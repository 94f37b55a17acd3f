// The connection check (kuctl doctor, Unit > Check connection...): looks at
// everything between the program and the unit in order and stops at the first
// step that fails: the settings that name the port, the device, the user's
// rights to it, other programs holding it, the USB adapter behind it, the line
// settings as the port took them, and the unit's answers to " ", "q" and "x".
// Every step gives one line (what was checked, what was found, what to do), and
// the check one verdict in a fixed word that scripts can test. It never uploads
// anything.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/folders.h"
#include "link/serial_port.h"
#include "link/sleeper.h"
#include "link/stop_request.h"
#include "link/unit_link.h"
#include "link/wire_trace.h"

namespace ku {

// In the order the check can reach them; Ok last of all.
enum class CheckVerdict {
  Ok,
  NoSettings,    // no comms.ini, or no usable port number in it
  NoDevice,      // the device does not exist, is no serial device, or has no hardware
  NoPermission,  // this user may not open it
  Busy,          // another program has it open or locked
  Silent,        // nothing came back
  Echo,          // every byte came straight back: the line is wired back on itself
  Nmea,          // NMEA 0183 sentences of a GPS or a sounder
  Noise,         // characters that are no answer of the unit
  ShortRecord,   // 1 to 37 characters of the record
  LongReply,     // more than 38 characters in answer to "x" alone
};

// "ok", "no-settings", "no-device", "no-permission", "busy", "silent", "echo",
// "nmea", "noise", "short-record", "long-reply".
const char* verdictWord(CheckVerdict verdict);

// One step of the check.
struct CheckLine {
  std::string check;   // what was checked: settings, device, access, holders, adapter, line, unit
  bool passed = true;  // false: the step failed and the check stopped there
  std::string found;   // what was found
  std::string advice;  // what to do; empty when there is nothing to do
};

struct ConnectionCheckResult {
  CheckVerdict verdict = CheckVerdict::Ok;
  std::vector<CheckLine> lines;
  // Every line as "check: found. advice", then "verdict: WORD".
  std::string text() const;
};

// Where the port comes from: a device path, else a port number, else the
// settings file's port number.
struct PortSource {
  std::optional<std::string> device;
  std::optional<int> portNumber;
  std::string settingsFile;  // comms.ini, read when neither of the above is given
  bool settingsFileExists = false;
  std::string settingsLookedIn;  // where it was looked for, for the line that misses it
  // The folder whose comN link port N opens (else /dev/ttyS<N-1>).
  std::function<std::string(int portNumber)> linkFolderFor;
};

// The port as the program's folders name it, or as the command line does.
PortSource portSourceOf(const Folders& folders, std::optional<std::string> device = {},
                        std::optional<int> portNumber = {});

// What the check runs on; tests point the system folders elsewhere.
struct ConnectionCheckEnv {
  Sleeper* sleeper = nullptr;
  // Makes the port the check opens when it has none of its own.
  std::function<std::unique_ptr<SerialPort>()> makePort;
  // The link of this program whose port may already be open on the device (the
  // window's): when it is, the check talks over it, paced as its exchanges are,
  // neither locking the device again nor counting this program as a holder,
  // and leaves it open.
  UnitLink* ownLink = nullptr;
  // Where the exchange over a port the check opens itself is traced; none by default.
  WireTrace* trace = nullptr;
  // A pending stop ends the exchange with the unit (StopRequested).
  const StopRequest* stop = nullptr;
  std::string procRoot = "/proc";
  std::string sysRoot = "/sys";
  // Whether a program is installed (ModemManager, brltty); by default it is
  // looked for in /usr/sbin, /usr/bin, /sbin and /bin.
  std::function<bool(const std::string& program)> installed;
};

ConnectionCheckResult runConnectionCheck(const PortSource& source, ConnectionCheckEnv& env);

// What came back in each second of the exchange, and what was waiting before it.
struct UnitAnswers {
  std::string before;  // on the line before " " went out
  std::string toBlank, toQ, toX;
};

// The verdict on the unit's answers, by their first signature: nothing at all
// (silent); each byte sent came straight back (echo); NMEA 0183 text anywhere
// (nmea); the 38-character record in answer to "x" (ok); characters in answer
// to " " or "q", which the unit never answers (noise); otherwise the length of
// the answer to "x" (short-record, long-reply).
CheckVerdict judgeAnswers(const UnitAnswers& answers);

// The first bytes in upper-case hex, separated by spaces, "..." after them
// when there are more: "78 00 01 ...".
std::string hexStart(const std::string& bytes, std::size_t count = 16);

}  // namespace ku
