#include "app/connection_check.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "app/folders.h"
#include "link/comms_ini.h"
#include "link/protocol.h"
#include "link/record_check.h"
#include "model/errors.h"
#include "model/log.h"
#include "reference/number_text.h"

namespace ku {
namespace {

// Adapters that brltty's rules claim for braille displays although most of
// them are plain serial adapters.
constexpr const char* kBrlttyClaims[] = {"1a86:7523"};

std::string readFirstLine(const std::string& path) {
  std::ifstream f(path);
  std::string line;
  std::getline(f, line);
  return line;
}

std::string resolved(const std::string& path) {
  char buf[PATH_MAX];
  return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

std::string linkTarget(const std::string& path) {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
  if (n < 0) return {};
  return std::string(buf, static_cast<std::size_t>(n));
}

std::string userName(uid_t uid) {
  const passwd* pw = ::getpwuid(uid);
  return pw ? pw->pw_name : std::to_string(uid);
}

std::string groupName(gid_t gid) {
  const group* gr = ::getgrgid(gid);
  return gr ? gr->gr_name : std::to_string(gid);
}

// "crw-rw----".
std::string modeText(mode_t m) {
  std::string s = S_ISCHR(m) ? "c" : S_ISDIR(m) ? "d" : S_ISREG(m) ? "-" : "?";
  const char* rwx = "rwx";
  for (int i = 8; i >= 0; --i) s += (m & (1u << i)) ? rwx[(8 - i) % 3] : '-';
  return s;
}

bool processHasGroup(gid_t gid) {
  if (::getegid() == gid) return true;
  const int n = ::getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(n));
  const int got = ::getgroups(n, groups.data());
  return std::find(groups.begin(), groups.begin() + std::max(got, 0), gid) !=
         groups.begin() + std::max(got, 0);
}

// Whether the user database lists the user in the group (as a member or by
// its primary group): then only the session is older than the membership.
bool userListedInGroup(uid_t uid, gid_t gid) {
  const passwd* pw = ::getpwuid(uid);
  if (!pw) return false;
  if (pw->pw_gid == gid) return true;
  const std::string name = pw->pw_name;
  const group* gr = ::getgrgid(gid);
  if (!gr) return false;
  for (char** m = gr->gr_mem; m && *m; ++m)
    if (name == *m) return true;
  return false;
}

struct Holder {
  int pid;
  std::string program;
};

std::string holderText(const std::vector<Holder>& holders) {
  std::string s;
  for (const Holder& h : holders)
    s += (s.empty() ? "" : ", ") + h.program + " (pid " + std::to_string(h.pid) + ")";
  return s;
}

// The pseudo-terminal number of /dev/pts/N; -1 for any other device.
int ptsNumber(const std::string& device) {
  const std::string prefix = "/dev/pts/";
  if (device.compare(0, prefix.size(), prefix) != 0) return -1;
  const std::string digits = device.substr(prefix.size());
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::atoi(digits.c_str());
}

// The processes other than this one that have device open, and those that hold
// the other end of its pseudo-terminal (the talker behind it), from procRoot.
void findHolders(const std::string& procRoot, const std::string& device, std::vector<Holder>& held,
                 std::vector<Holder>& otherEnd) {
  const int pts = ptsNumber(device);
  DIR* proc = ::opendir(procRoot.c_str());
  if (!proc) return;
  while (const dirent* e = ::readdir(proc)) {
    const std::string name = e->d_name;
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const int pid = std::atoi(name.c_str());
    if (pid == ::getpid()) continue;
    const std::string fdDir = procRoot + "/" + name + "/fd";
    DIR* fds = ::opendir(fdDir.c_str());
    if (!fds) continue;  // another user's process, or gone
    bool holds = false, master = false;
    while (const dirent* f = ::readdir(fds)) {
      if (f->d_name[0] == '.') continue;
      const std::string target = linkTarget(fdDir + "/" + f->d_name);
      if (target == device) holds = true;
      if (pts >= 0 && (target == "/dev/ptmx" || target == "/dev/pts/ptmx")) {
        std::ifstream info(procRoot + "/" + name + "/fdinfo/" + f->d_name);
        for (std::string line; std::getline(info, line);)
          if (line == "tty-index:\t" + std::to_string(pts)) master = true;
      }
    }
    ::closedir(fds);
    if (!holds && !master) continue;
    const Holder h{pid, readFirstLine(procRoot + "/" + name + "/comm")};
    (master ? otherEnd : held).push_back(h);
  }
  ::closedir(proc);
  auto byPid = [](const Holder& a, const Holder& b) { return a.pid < b.pid; };
  std::sort(held.begin(), held.end(), byPid);
  std::sort(otherEnd.begin(), otherEnd.end(), byPid);
}

bool installedOnSystem(const std::string& program) {
  for (const char* dir : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"})
    if (::access((std::string(dir) + program).c_str(), X_OK) == 0) return true;
  return false;
}

// The channel and test frequency as the window shows them: "channel 1, Test
// Frequency 799 (50 kHz)".
std::string recordSummary(const std::string& record) {
  ErrorTrail trail;
  const DecodedRecord v = decodeRecord(record, trail);
  std::string s = "channel " + (v[0] ? std::to_string(*v[0] + 1) : std::string("?"));
  s += ", " + std::string(slotInfo(4).rowLabel) + " ";
  if (!v[4]) return s + "?";
  const double kHz = static_cast<double>(kFrequencyBaseKHz) / (*v[4] + 1) / 2;
  return s + std::to_string(*v[4]) + " (" + numberText(round3(kHz), NumberLocale{}) + " " +
         slotInfo(4).texts.referenceUnit + ")";
}

std::string counted(std::size_t n) {
  return std::to_string(n) + (n == 1 ? " character" : " characters");
}

// The unit step's line for the answers and their verdict.
CheckLine unitLine(const UnitAnswers& a, CheckVerdict verdict) {
  CheckLine line{"unit", verdict == CheckVerdict::Ok, {}, {}};
  std::string found = "\" \" brought " + counted(a.toBlank.size()) + ", \"q\" " +
                      std::to_string(a.toQ.size()) + ", \"x\" " + std::to_string(a.toX.size());
  if (!a.before.empty()) found += " (" + counted(a.before.size()) + " before \" \")";
  // The bytes that tell the verdict: all of them for a talker on the line, the
  // three answers for an echo, else the answer to "x".
  const std::string shown = verdict == CheckVerdict::Noise || verdict == CheckVerdict::Nmea
                                ? a.before + a.toBlank + a.toQ + a.toX
                            : verdict == CheckVerdict::Echo ? a.toBlank + a.toQ + a.toX
                                                            : a.toX;
  if (!shown.empty()) found += "; first bytes " + hexStart(shown);
  found += ": ";
  switch (verdict) {
    case CheckVerdict::Ok:
      found += "the unit's 38-character record, " + recordSummary(a.toX);
      break;
    case CheckVerdict::Silent:
      found += "nothing came back";
      line.advice =
          "Check that the unit is powered and that the cable is plugged in at both ends, "
          "and that this is the unit's port (kuctl ports lists the ports)";
      break;
    case CheckVerdict::Echo:
      found += "every byte came straight back, the line is wired back on itself";
      line.advice =
          "Check the cable: TX wired to RX, or a loopback plug, instead of the unit; a "
          "null-modem adapter in the wrong place does the same";
      break;
    case CheckVerdict::Nmea: {
      const std::string all = a.before + a.toBlank + a.toQ + a.toX;
      const std::size_t from = all.find('$');
      found += "NMEA 0183 sentences (\"" +
               printableBytes(all.substr(from == std::string::npos ? 0 : from, 20)) +
               "...\"), a GPS or a sounder on this port";
      line.advice = "Choose the unit's port (kuctl ports lists the ports; Unit > Port...)";
      break;
    }
    case CheckVerdict::Noise:
      found +=
          "characters the unit never sends (it does not answer \" \" or \"q\"), another "
          "device or a unit at another baud rate";
      line.advice = "Check that this is the unit's port and that the unit talks at 4800 baud";
      break;
    case CheckVerdict::ShortRecord:
      found += "only " + std::to_string(a.toX.size()) + " of the record's " +
               std::to_string(kRecordLength) + " characters, the line breaks off";
      line.advice = "Check the cable and its connectors for a loose contact, then check again";
      break;
    case CheckVerdict::LongReply:
      found += counted(a.toX.size()) + " in answer to \"x\" where the record has " +
               std::to_string(kRecordLength) + ", another device on the line?";
      line.advice = "Check that this is the unit's port and that nothing else is wired to it";
      break;
    default:
      break;
  }
  line.found = found;
  return line;
}

// Runs the check's steps; each returns false when the check stops at it.
class Check {
 public:
  Check(const PortSource& source, ConnectionCheckEnv& env) : source_(source), env_(env) {}

  ConnectionCheckResult run() {
    if (settings() && device() && access() && holders()) {
      adapter();
      if (openPort()) {
        line();
        exchange();
      }
    }
    return result_;
  }

 private:
  void pass(const std::string& check, const std::string& found, const std::string& advice = {}) {
    result_.lines.push_back({check, true, found, advice});
  }
  bool fail(CheckVerdict verdict, const std::string& check, const std::string& found,
            const std::string& advice) {
    result_.verdict = verdict;
    result_.lines.push_back({check, false, found, advice});
    return false;
  }

  bool settings() {
    if (source_.device) {
      pass("settings", "--device " + *source_.device + " given; comms.ini is not read");
      path_ = *source_.device;
      return true;
    }
    int n = 0;
    if (source_.portNumber) {
      n = *source_.portNumber;
      pass("settings", "port " + std::to_string(n) + " given with --port; comms.ini is not read");
    } else {
      const std::string choose =
          "Choose the unit's port with Unit > Port... in the window (kuctl ports lists the "
          "ports), or give kuctl --device PATH";
      if (!source_.settingsFileExists)
        return fail(CheckVerdict::NoSettings, "settings",
                    "no comms.ini " + source_.settingsLookedIn, choose);
      PortNumberValue number, firstItem;
      try {
        readCommsIni(source_.settingsFile, number, firstItem);
      } catch (const KuError&) {
        // As the load step reads it: the last complete pair counts.
      }
      try {
        n = portNumberToInt16(number);
      } catch (const KuError& e) {
        return fail(CheckVerdict::NoSettings, "settings",
                    source_.settingsFile + " holds no usable port number (" + e.what() + ")",
                    choose);
      }
      if (n < 1)
        return fail(
            CheckVerdict::NoSettings, "settings",
            source_.settingsFile + " names port " + std::to_string(n) + ", which is no port",
            choose);
      pass("settings", source_.settingsFile + " names port " + std::to_string(n));
    }
    const std::string folder = source_.linkFolderFor ? source_.linkFolderFor(n) : std::string();
    path_ = portDevice(folder, n).path;
    return true;
  }

  bool device() {
    real_ = resolved(path_);
    std::string found = path_;
    const std::string target = linkTarget(path_);
    if (!target.empty()) found += ", a link to " + target;
    const std::string plug =
        "Plug the adapter in (kuctl ports lists the serial ports), or choose the port again "
        "with Unit > Port...";
    struct stat st {};
    if (real_.empty() || ::stat(real_.c_str(), &st) != 0)
      return fail(CheckVerdict::NoDevice, "device", found + ", does not exist", plug);
    if (real_ != path_ && real_ != target) found += " (" + real_ + ")";
    if (!S_ISCHR(st.st_mode))
      return fail(CheckVerdict::NoDevice, "device", found + ", is no serial device", plug);
    pass("device", found + ", a character device");
    return true;
  }

  bool access() {
    struct stat st {};
    ::stat(real_.c_str(), &st);
    const std::string group = groupName(st.st_gid);
    const std::string me = userName(::getuid());
    const std::string facts =
        real_ + ": owner " + userName(st.st_uid) + ", group " + group + ", " + modeText(st.st_mode);
    if (::access(real_.c_str(), R_OK | W_OK) == 0) {
      pass("access", facts + "; " + me + " may read and write it");
      return true;
    }
    const bool groupMayUse = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (groupMayUse && !processHasGroup(st.st_gid) && userListedInGroup(::getuid(), st.st_gid))
      return fail(CheckVerdict::NoPermission, "access",
                  facts + "; " + me + " is in group " + group + ", but this session is older",
                  "Log out and in again (or restart the computer) so the membership takes effect");
    if (groupMayUse && !processHasGroup(st.st_gid))
      return fail(CheckVerdict::NoPermission, "access",
                  facts + "; " + me + " is not in group " + group,
                  "Join the group: sudo usermod -aG " + group + " $USER, then log out and in");
    return fail(CheckVerdict::NoPermission, "access",
                facts + "; " + me + " has no right to read and write it",
                "Ask the administrator for read and write rights to " + real_);
  }

  bool usingOwnPort() const {
    return env_.ownLink && env_.ownLink->port().isOpen() &&
           resolved(env_.ownLink->port().devicePath()) == real_;
  }

  bool holders() {
    std::vector<Holder> held, otherEnd;
    findHolders(env_.procRoot, real_, held, otherEnd);
    std::string note;
    if (!otherEnd.empty())
      note = "; the other end of this pseudo-terminal is " + holderText(otherEnd);
    if (!held.empty()) {
      std::string pids;
      for (const Holder& h : held) pids += " " + std::to_string(h.pid);
      std::string advice = "Close that program, or end it: kill" + pids;
      for (const Holder& h : held) {
        if (h.program == "ModemManager")
          advice =
              "ModemManager probes new adapters: wait a minute, or stop it: sudo systemctl "
              "stop ModemManager";
        if (h.program == "brltty")
          advice =
              "brltty takes the adapter for a braille display: sudo systemctl stop brltty, "
              "or remove it: sudo apt remove brltty";
      }
      return fail(CheckVerdict::Busy, "holders", real_ + " is open in " + holderText(held) + note,
                  advice);
    }
    if (usingOwnPort()) {
      pass("holders", "no other program has " + real_ + " open; this program holds it" + note);
      return true;
    }
    // The port lock of this program and kuctl: the device itself is locked.
    const int fd = ::open(real_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const bool locked = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (fd >= 0) ::close(fd);
    if (locked)
      return fail(CheckVerdict::Busy, "holders",
                  real_ +
                      " is locked by another program (a KU utility window or kuctl of "
                      "another user?)",
                  "Close that program");
    pass("holders", "no other program has " + real_ + " open or locked" + note);
    return true;
  }

  void adapter() {
    const std::string name = real_.substr(real_.rfind('/') + 1);
    const std::string tty = env_.sysRoot + "/class/tty/" + name + "/device";
    std::string dir = resolved(tty);
    while (!dir.empty() && dir != "/" && dir.size() > env_.sysRoot.size() &&
           readFirstLine(dir + "/idVendor").empty())
      dir = dir.substr(0, dir.rfind('/'));
    const std::string vendor = dir.empty() ? "" : readFirstLine(dir + "/idVendor");
    if (vendor.empty()) {
      pass("adapter", real_ + " is no USB adapter");
      return;
    }
    const std::string id = vendor + ":" + readFirstLine(dir + "/idProduct");
    std::string found = "USB adapter " + id;
    for (const char* file : {"/manufacturer", "/product"}) {
      const std::string text = readFirstLine(dir + file);
      if (!text.empty()) found += ", " + text;
    }
    const std::string driver = linkTarget(tty + "/driver");
    if (!driver.empty()) found += " (driver " + driver.substr(driver.rfind('/') + 1) + ")";
    const auto installed = [this](const std::string& p) {
      return env_.installed ? env_.installed(p) : installedOnSystem(p);
    };
    std::string advice;
    for (const char* claimed : kBrlttyClaims)
      if (id == claimed && installed("brltty"))
        advice = "brltty is installed and takes " + id +
                 " adapters for braille displays: if the port goes away after plugging in, "
                 "remove it (sudo apt remove brltty)";
    if (installed("ModemManager"))
      advice += std::string(advice.empty() ? "" : "; ") +
                "ModemManager is installed and probes new serial adapters for a minute after "
                "plugging in";
    pass("adapter", found, advice);
  }

  bool openPort() {
    if (usingOwnPort()) {
      link_ = env_.ownLink;
      return true;
    }
    owned_ = std::make_unique<UnitLink>(env_.makePort(), *env_.sleeper);
    owned_->setStopRequest(env_.stop);
    owned_->setTrace(env_.trace);
    const LinkOutcome out = owned_->openDevice(path_);
    if (out.code == kNoError) {
      link_ = owned_.get();
      return true;
    }
    owned_.reset();
    if (!out.accessDeniedDevice.empty())
      return fail(CheckVerdict::NoPermission, "line", out.text,
                  "Ask the administrator for read and write rights to " + real_);
    if (out.code == kInvalidPortNumber)
      return fail(CheckVerdict::NoDevice, "line",
                  out.text + ": no hardware answers behind this device",
                  "Choose the port the unit is wired to (kuctl ports lists the ports)");
    return fail(CheckVerdict::Busy, "line", out.text, "Close the program that holds it");
  }

  // The line settings read back from the open port itself: a second open of
  // the device would be refused to any user but root while the port is open.
  void line() {
    const std::string advice =
        "The port did not take the unit's line settings (" + lineSettingsText(kUnitLine) + ")";
    const std::optional<LineInUse> in = link_->port().lineInUse();
    if (!in) return pass("line", "the settings could not be read back from the port", advice);
    const LineSettings& s = in->settings;
    std::string text = lineSettingsText(s);
    if (!in->rtsKnown)
      text = text.substr(0, text.rfind(", RTS")) + ", no RTS line (a pseudo-terminal)";
    const bool matches = s.baudRate == kUnitLine.baudRate && s.dataBits == kUnitLine.dataBits &&
                         s.parity == kUnitLine.parity && s.stopBits == kUnitLine.stopBits &&
                         s.flowControl == kUnitLine.flowControl;
    pass("line", text, matches ? std::string() : advice);
  }

  void exchange() {
    UnitAnswers a;
    try {
      a.before = link_->takeWaiting();
      a.toBlank = link_->probe(kFirstRequestByte);
      a.toQ = link_->probe(kSecondRequestByte);
      a.toX = link_->probe(kRecordRequestByte);
    } catch (const KuError& e) {
      closeOwned();
      result_.verdict = CheckVerdict::NoDevice;
      result_.lines.push_back({"unit", false, std::string("the line failed: ") + e.what(),
                               "Check that the adapter is plugged in, then check again"});
      return;
    } catch (...) {
      closeOwned();
      throw;
    }
    closeOwned();
    result_.verdict = judgeAnswers(a);
    result_.lines.push_back(unitLine(a, result_.verdict));
  }

  // As every exchange of the program ends, on a port the check opened itself:
  // the close byte, then the port closed.
  void closeOwned() {
    if (owned_) owned_->sendCloseByteAndClose();
  }

  const PortSource& source_;
  ConnectionCheckEnv& env_;
  ConnectionCheckResult result_;
  std::string path_;                 // the device as named
  std::string real_;                 // what it resolves to
  std::unique_ptr<UnitLink> owned_;  // the link over a port the check opened itself
  UnitLink* link_ = nullptr;
};

bool startsWith(const std::string& s, char c) {
  return !s.empty() && s.front() == c;
}

}  // namespace

const char* verdictWord(CheckVerdict verdict) {
  switch (verdict) {
    case CheckVerdict::Ok:
      return "ok";
    case CheckVerdict::NoSettings:
      return "no-settings";
    case CheckVerdict::NoDevice:
      return "no-device";
    case CheckVerdict::NoPermission:
      return "no-permission";
    case CheckVerdict::Busy:
      return "busy";
    case CheckVerdict::Silent:
      return "silent";
    case CheckVerdict::Echo:
      return "echo";
    case CheckVerdict::Nmea:
      return "nmea";
    case CheckVerdict::Noise:
      return "noise";
    case CheckVerdict::ShortRecord:
      return "short-record";
    case CheckVerdict::LongReply:
      return "long-reply";
  }
  return "?";
}

std::string ConnectionCheckResult::text() const {
  std::string s;
  for (const CheckLine& l : lines) {
    const char end = l.found.empty() ? '.' : l.found.back();
    s += l.check + ": " + l.found + (end == '?' || end == '.' ? "" : ".");
    if (!l.advice.empty()) s += " " + l.advice + (l.advice.back() == '.' ? "" : ".");
    s += "\n";
  }
  return s + "verdict: " + verdictWord(verdict) + "\n";
}

CheckVerdict judgeAnswers(const UnitAnswers& a) {
  const std::string all = a.before + a.toBlank + a.toQ + a.toX;
  if (all.empty()) return CheckVerdict::Silent;
  if (a.toBlank == std::string(1, kFirstRequestByte) &&
      a.toQ == std::string(1, kSecondRequestByte) && startsWith(a.toX, kRecordRequestByte))
    return CheckVerdict::Echo;
  if (looksLikeNmea(all)) return CheckVerdict::Nmea;
  const ReplyCheck x = checkReply(a.toX, a.toX.size());
  if (x.verdict == ReplyVerdict::Record) return CheckVerdict::Ok;
  if (!a.before.empty() || !a.toBlank.empty() || !a.toQ.empty()) return CheckVerdict::Noise;
  return x.verdict == ReplyVerdict::ShortRecord ? CheckVerdict::ShortRecord
                                                : CheckVerdict::LongReply;
}

std::string hexStart(const std::string& bytes, std::size_t count) {
  const std::string hex = hexBytes(bytes.substr(0, count)).toUpper().toStdString();
  return bytes.size() > count ? hex + " ..." : hex;
}

PortSource portSourceOf(const Folders& folders, std::optional<std::string> device,
                        std::optional<int> portNumber) {
  PortSource s;
  s.device = std::move(device);
  s.portNumber = portNumber;
  s.settingsFile = folders.settingsFile.path;
  s.settingsFileExists = folders.settingsFile.exists;
  s.settingsLookedIn = "beside the program (" + folders.programDir +
                       ") or in the user's settings folder (" + folders.userSettingsDir + ")";
  s.linkFolderFor = [folders](int n) { return folders.linkFolderFor(n); };
  return s;
}

ConnectionCheckResult runConnectionCheck(const PortSource& source, ConnectionCheckEnv& env) {
  return Check(source, env).run();
}

}  // namespace ku
