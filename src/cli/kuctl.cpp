#include "cli/kuctl.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>

#include "app/backups.h"
#include "app/connection_check.h"
#include "app/operator_texts.h"
#include "app/safeguards.h"
#include "app/setup_file.h"
#include "app/unit_controller.h"
#include "app/version.h"
#include "cli/command_line.h"
#include "cli/info.h"
#include "model/errors.h"
#include "model/log.h"

namespace ku::cli {
namespace {

// The line after a message about the unit's reply: what came, and where to look
// further ("received 12 of 38 characters (kuctl doctor checks the connection)").
void tellReceived(std::ostream& err, const std::string& received) {
  if (!received.empty()) err << "kuctl: " << received << " (kuctl doctor checks the connection)\n";
}

// The message box of the command line: each message on standard error, kept so
// that the exit status can tell which one came. The short-reply message is
// followed by what was received.
class StderrNotifier : public Notifier {
 public:
  explicit StderrNotifier(std::ostream& err) : err_(err) {}
  void show(const Message& message) override {
    const std::string text = operatorText(message);
    err_ << "kuctl: " << text << "\n";
    if (message.kind == MessageKind::ShortReply) tellReceived(err_, message.detail);
    err_.flush();
    messages.push_back(text);
    kinds.push_back(message.kind);
  }
  std::vector<std::string> messages;
  std::vector<MessageKind> kinds;

 private:
  std::ostream& err_;
};

int statusForMessage(MessageKind kind) {
  switch (kind) {
    case MessageKind::InvalidPort:
      return kExitInvalidPort;
    case MessageKind::ShortReply:
      return kExitShortReply;
    case MessageKind::ValueLimit:
      return kExitValueLimit;
    case MessageKind::UploadBroken:
      return kExitUploadBroken;
    default:
      return kExitOtherMessage;
  }
}

// What a command takes after its name.
enum class Argument {
  None,
  Entries,       // SLOT=VALUE ..., at least one
  ReadFile,      // a set-up file, read before the port is touched
  WriteFile,     // the set-up file to write
  OptionalFile,  // a backup to restore, else the newest of this unit
};

struct Run;

// One command of kuctl: its name, what it takes, whether it works on the unit
// (the port opened and the set-up read back first), what the backup before its
// upload records (none: it uploads nothing of its own), whether the window's
// rows are printed after it, and its handler, which returns the exit status.
struct Command {
  const char* name;
  Argument argument;
  bool opensLink;
  const char* backupReason;
  bool printsRows;
  int (*handler)(Run& run);
};

// The table of commands, in the order the usage names them.
const std::vector<Command>& commands();

const Command* findCommand(const std::string& name) {
  for (const Command& c : commands())
    if (name == c.name) return &c;
  return nullptr;
}

struct Options {
  const Command* command = nullptr;
  std::string file;    // save, apply, diff, restore
  EntryTexts entries;  // slot, text as typed
  std::optional<std::int16_t> port;
  std::optional<std::string> device;  // a device path instead of any port number
  std::string pulseWidth = "0";
  std::optional<std::string> trace;  // the wire trace's file
  bool json = false;
  bool noBackup = false;
  bool force = false;  // restore a backup of another port or channel
  bool help = false;
  bool version = false;
};

bool parseWholeNumber(const std::string& s, long& v) {
  if (s.empty() || s.size() > 9) return false;
  v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  return true;
}

const char kPortUsage[] = "--port takes a port number from 1 to 32767";
const char kPulseWidthUsage[] = "--pulse-width takes the text of the pulse-width box";
const char kDeviceUsage[] = "--device takes the path of a serial device";
const char kTraceUsage[] = "--trace takes the path of the file to write the wire trace to";

// kuctl's options, each with the words --help shows for it.
struct KuctlOptions {
  QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                          QStringLiteral("show this text")};
  QCommandLineOption version{QStringLiteral("version"), QStringLiteral("print kuctl's version")};
  QCommandLineOption port{QStringLiteral("port"),
                          QStringLiteral("use port number N instead of the one in comms.ini"),
                          QStringLiteral("N")};
  QCommandLineOption device{
      QStringLiteral("device"),
      QStringLiteral("open the serial device PATH (a /dev/serial/by-id/ name, /dev/ttyUSB0, a "
                     "pseudo-terminal, ...) instead of a port number; comms.ini is not needed"),
      QStringLiteral("PATH")};
  QCommandLineOption pulseWidth{
      QStringLiteral("pulse-width"),
      QStringLiteral("the text of the pulse-width box, in ms (default \"0\")"),
      QStringLiteral("T")};
  QCommandLineOption json{
      QStringLiteral("json"),
      QStringLiteral("print the rows as JSON instead of a table (a slot the last "
                     "read-back did not bring: \"current\" and \"value\" "
                     "are null)")};
  QCommandLineOption trace{
      QStringLiteral("trace"),
      QStringLiteral("write every event on the line (open, each byte written and read, pauses, "
                     "the record, failures, close) to FILE, one per line"),
      QStringLiteral("FILE")};
  QCommandLineOption noBackup{QStringLiteral("no-backup"),
                              QStringLiteral("upload without writing a backup first")};
  QCommandLineOption force{QStringLiteral("force"),
                           QStringLiteral("restore: take a backup of another port or channel")};

  // In the order --help lists them.
  void addTo(QCommandLineParser& parser) const {
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({port, device, pulseWidth, json, trace, noBackup, force, help, version});
  }
};

// The options part of --help, as the parser lays it out.
std::string optionsHelp() {
  QCommandLineParser parser;
  KuctlOptions().addTo(parser);
  const QString text = parser.helpText();
  const qsizetype from = text.indexOf(QLatin1String("Options:\n"));
  return from < 0 ? std::string() : text.mid(from).toStdString();
}

// The list of command names, for the usage error that names none.
std::string commandNames() {
  std::string names;
  const std::vector<Command>& list = commands();
  for (std::size_t i = 0; i < list.size(); ++i)
    names += (i == 0 ? "" : i + 1 == list.size() ? " or " : ", ") + std::string(list[i].name);
  return names;
}

// Returns an error text, or empty when the command line is sound.
std::string parseArgs(const std::vector<std::string>& args, Options& o) {
  QStringList list{QStringLiteral("kuctl")};
  for (const std::string& a : args) list << QString::fromStdString(a);

  QCommandLineParser parser;
  const KuctlOptions opt;
  opt.addTo(parser);
  const bool parsed = parser.parse(list);
  // Help and version win over any other fault of the command line.
  o.help = parser.isSet(opt.help);
  o.version = parser.isSet(opt.version);
  if (o.help || o.version) return {};
  if (!parsed) {
    if (!parser.unknownOptionNames().isEmpty())
      return "unknown option " +
             optionAsTyped(list.mid(1), parser.unknownOptionNames().first()).toStdString();
    // Only an option's missing value is left; it can only be missing at the end.
    if (list.last().endsWith(QLatin1String("port"))) return kPortUsage;
    if (list.last().endsWith(QLatin1String("pulse-width"))) return kPulseWidthUsage;
    if (list.last().endsWith(QLatin1String("device"))) return kDeviceUsage;
    if (list.last().endsWith(QLatin1String("trace"))) return kTraceUsage;
    return parser.errorText().toStdString();
  }
  o.json = parser.isSet(opt.json);
  o.noBackup = parser.isSet(opt.noBackup);
  o.force = parser.isSet(opt.force);
  if (parser.isSet(opt.port)) {
    long n = 0;
    if (!parseWholeNumber(parser.value(opt.port).toStdString(), n) || n < 1 || n > 32767)
      return kPortUsage;
    o.port = static_cast<std::int16_t>(n);
  }
  if (parser.isSet(opt.pulseWidth)) o.pulseWidth = parser.value(opt.pulseWidth).toStdString();
  if (parser.isSet(opt.device)) {
    if (parser.value(opt.device).isEmpty()) return kDeviceUsage;
    if (o.port) return "--device and --port cannot be used together";
    o.device = parser.value(opt.device).toStdString();
  }
  if (parser.isSet(opt.trace)) {
    if (parser.value(opt.trace).isEmpty()) return kTraceUsage;
    o.trace = parser.value(opt.trace).toStdString();
  }

  for (const QString& arg : parser.positionalArguments()) {
    const std::string a = arg.toStdString();
    if (!o.command) {
      o.command = findCommand(a);
      if (!o.command) return "unknown command " + a;
      continue;
    }
    const std::string name = o.command->name;
    switch (o.command->argument) {
      case Argument::ReadFile:
      case Argument::WriteFile:
      case Argument::OptionalFile:
        if (!o.file.empty()) return "'" + name + "' takes one FILE: " + a;
        o.file = a;
        break;
      case Argument::Entries: {
        const auto eq = a.find('=');
        long slot = -1;
        if (eq == std::string::npos || !parseWholeNumber(a.substr(0, eq), slot) || slot > 31)
          return "an entry is SLOT=VALUE with a slot from 0 to 31: " + a;
        for (const auto& [earlier, text] : o.entries) {
          if (earlier == slot)
            return slotCaption(earlier) + " is given twice (" + std::to_string(earlier) + "=" +
                   text + " and " + a + "); nothing was sent";
        }
        o.entries.emplace_back(static_cast<int>(slot), a.substr(eq + 1));
        break;
      }
      case Argument::None:
        return "'" + name + "' takes no entries: " + a;
    }
  }
  if (!o.command) return "no command given (" + commandNames() + ")";
  const std::string name = o.command->name;
  if (o.command->argument == Argument::Entries && o.entries.empty())
    return name + " needs at least one SLOT=VALUE";
  if (o.force && o.command->argument != Argument::OptionalFile) return "--force belongs to restore";
  if ((o.command->argument == Argument::ReadFile || o.command->argument == Argument::WriteFile) &&
      o.file.empty())
    return name + " needs a FILE";
  return {};
}

std::string padRight(const std::string& s, std::size_t w) {
  return s.size() >= w ? s : s + std::string(w - s.size(), ' ');
}

void printTable(const RecordingUnitView& v, std::ostream& out) {
  out << padRight("slot", 5) << padRight("name", 22) << padRight("current", 9)
      << padRight("reference", 12) << padRight("unit", 10) << padRight("description", 14)
      << padRight("value", 10) << "unit\n";
  for (int r = 0; r < kWindowRows; ++r) {
    const bool slotRow = r < kRowSlots;
    out << padRight(slotRow ? std::to_string(r) : "-", 5)
        << padRight(slotRow ? slotInfo(r).rowLabel : kPulseWidthLabel, 22)
        << padRight(v.rows[r].current, 9) << padRight(v.rows[r].reference, 12)
        << padRight(v.rows[r].referenceUnit, 10)
        << padRight(slotRow ? v.rows[r].descriptionName : "", 14)
        << padRight(slotRow ? v.rows[r].description : "", 10)
        << (slotRow ? v.rows[r].descriptionUnit : "") << "\n";
  }
}

QString q(const std::string& s) {
  return QString::fromStdString(s);
}

void printJson(const RecordingUnitView& v, const UnitController& controller,
               const StderrNotifier& n, const std::string& pulseWidth, std::ostream& out) {
  QJsonArray rows;
  const UnreadSlots unread = controller.unreadAtLastReadBack();
  for (int r = 0; r < kWindowRows; ++r) {
    QJsonObject row;
    const bool slotRow = r < kRowSlots;
    // A slot shows only what the last read-back brought: null when it did not.
    const bool read = slotRow && !unread[static_cast<std::size_t>(r)];
    if (slotRow) {
      row["slot"] = r;
      row["name"] = q(slotInfo(r).rowLabel);
      const SlotValue& sv = controller.readBackValues()[r];
      row["value"] = read && sv ? QJsonValue(*sv) : QJsonValue();
      row["current"] = read ? QJsonValue(q(v.rows[r].current)) : QJsonValue();
    } else {
      row["slot"] = QJsonValue();
      row["name"] = kPulseWidthLabel;
      row["value"] = q(pulseWidth);
      row["current"] = q(v.rows[r].current);
    }
    row["reference"] = q(v.rows[r].reference);
    row["referenceUnit"] = q(v.rows[r].referenceUnit);
    row["description"] = q(slotRow ? v.rows[r].descriptionName : "");
    row["descriptionValue"] = q(slotRow ? v.rows[r].description : "");
    row["descriptionUnit"] = q(slotRow ? v.rows[r].descriptionUnit : "");
    rows.append(row);
  }
  QJsonArray messages;
  for (const auto& m : n.messages) messages.append(q(m));
  QJsonObject doc;
  doc["rows"] = rows;
  doc["messages"] = messages;
  doc["referenceError"] = controller.lastRefreshError().empty()
                              ? QJsonValue()
                              : QJsonValue(q(controller.lastRefreshError()));
  out << QJsonDocument(doc).toJson(QJsonDocument::Indented).toStdString();
}

void tellIncomplete(std::ostream& err, const std::vector<int>& unread, const char* consequence) {
  err << "kuctl: the unit's set-up could not be read completely (slot";
  for (int s : unread) err << " " << s;
  err << "); " << consequence << "\n";
}

// A backup's channel as the window shows it (channel + 1), "?" when unknown.
std::string channelText(const SlotValue& channel) {
  return channel ? std::to_string(*channel + 1) : "?";
}

std::string backupPort(const BackupEntry& b) {
  if (!b.problem.empty()) return "(damaged)";
  const std::string& name = b.unit.deviceById.empty() ? b.unit.device : b.unit.deviceById;
  return name.empty() ? "?" : name;
}

int listBackupsCommand(const std::string& folder, bool json, std::ostream& out, std::ostream& err) {
  std::vector<BackupEntry> list;
  try {
    list = listBackups(folder);
  } catch (const BackupError& e) {
    err << "kuctl: " << e.what() << "\n";
    return kExitUsage;
  }
  if (json) {
    QJsonArray rows;
    for (const BackupEntry& b : list) {
      QJsonObject row;
      row["time"] = q(b.time);
      row["timeInFuture"] = b.inFuture;
      row["device"] = q(b.unit.device);
      row["deviceById"] =
          b.unit.deviceById.empty() ? QJsonValue() : QJsonValue(q(b.unit.deviceById));
      row["channel"] = b.unit.channel ? QJsonValue(*b.unit.channel + 1) : QJsonValue();
      row["reason"] = b.reason.empty() ? QJsonValue() : QJsonValue(q(b.reason));
      row["file"] = q(b.path);
      row["problem"] = b.problem.empty() ? QJsonValue() : QJsonValue(q(b.problem));
      rows.append(row);
    }
    QJsonObject doc;
    doc["folder"] = q(folder);
    doc["backups"] = rows;
    out << QJsonDocument(doc).toJson(QJsonDocument::Indented).toStdString();
    return kExitOk;
  }
  if (list.empty()) {
    out << "No backups in " << folder << "\n";
    return kExitOk;
  }
  // Each column as wide as its longest text and two blanks, so none runs into the next.
  std::vector<std::array<std::string, 5>> rows{{"time", "port", "channel", "reason", "file"}};
  for (const BackupEntry& b : list) {
    rows.push_back({b.time + (b.inFuture ? " (future)" : ""), backupPort(b),
                    b.problem.empty() ? channelText(b.unit.channel) : "",
                    b.problem.empty() ? (b.reason.empty() ? "?" : b.reason) : "", b.path});
  }
  std::array<std::size_t, 5> width{};
  for (const auto& row : rows)
    for (std::size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size() + 2);
  for (const auto& row : rows) {
    for (std::size_t c = 0; c + 1 < row.size(); ++c) out << padRight(row[c], width[c]);
    out << row.back() << "\n";
  }
  for (const BackupEntry& b : list) {
    if (!b.problem.empty()) err << "kuctl: note: " << b.problem << "\n";
    if (b.inFuture) err << "kuctl: note: the time of " << b.path << " lies in the future\n";
  }
  return kExitOk;
}

std::string unitText(const UnitIdentity& u) {
  const std::string& port = u.deviceById.empty() ? u.device : u.deviceById;
  return (port.empty() ? std::string("port unknown") : port) + ", channel " +
         channelText(u.channel);
}

// Picks the backup to restore (when none was named) and checks that it is of
// this unit: the same port and channel, unless force. Says which backup it
// restores; false when it refused.
bool chooseRestore(const UnitController& controller, const std::vector<BackupEntry>& list,
                   bool force, std::string& path, std::optional<UnitSetup>& file,
                   std::ostream& err) {
  const UnitIdentity here = identityOf(controller.readBackSetup());
  if (!file) {
    const BackupEntry* chosen = newestBackupToRestore(list, here, force);
    if (!chosen) {
      err << "kuctl: there is no backup of this unit (" << unitText(here)
          << ") that a restore did not write";
      if (const BackupEntry* other = newestBackupToRestore(list, here, true))
        err << "; the newest of another unit is " << other->path << " (" << unitText(other->unit)
            << "): restore it with --force";
      err << "; nothing was sent\n";
      return false;
    }
    for (const BackupEntry& b : list) {
      if (b.inFuture && &b != chosen && restorable(b, here, force))
        err << "kuctl: note: passed over " << b.path << ": its time (" << b.time
            << ") lies in the future; name it to restore it\n";
    }
    path = chosen->path;
    try {
      file = readSetupFile(path);
    } catch (const SetupFileError& e) {
      err << "kuctl: " << e.what() << " Nothing was sent.\n";
      return false;
    }
    err << "kuctl: restoring the backup of " << chosen->time << " (" << unitText(chosen->unit)
        << ", written before "
        << (chosen->reason.empty() ? std::string("an upload") : chosen->reason) << "): " << path
        << "\n";
    if (chosen->inFuture)
      err << "kuctl: note: the time recorded in this backup lies in the future; check the "
             "computer's clock\n";
  }
  const std::vector<std::string> differences = unitDifferences(identityOf(*file), here);
  if (!differences.empty()) {
    std::string list;
    for (const std::string& d : differences) list += (list.empty() ? "" : "; ") + d;
    if (!force) {
      err << "kuctl: " << path << " is not a backup of this unit: " << list
          << ". Nothing was sent (--force restores it anyway).\n";
      return false;
    }
    err << "kuctl: restoring " << path << " although " << list << " (--force)\n";
  }
  return true;
}

int diffFile(const UnitController& controller, const UnitSetup& file, std::ostream& out) {
  const std::vector<int> differ =
      differingSlots(file, controller.slotValues(), controller.unreadAtLastReadBack());
  if (differ.empty()) {
    out << "The unit's slots 1 to 29 hold the file's values.\n";
    return kExitOk;
  }
  out << padRight("slot", 5) << padRight("name", 22) << padRight("unit", 9) << "file\n";
  for (int s : differ) {
    const auto k = static_cast<std::size_t>(s);
    out << padRight(std::to_string(s), 5) << padRight(slotInfo(s).rowLabel, 22)
        << padRight(std::to_string(*controller.slotValues()[k]), 9) << *file.values[k] << "\n";
  }
  return kExitDiffer;
}

// What a stop left behind: whether an upload went out (whole, or up to a slot
// boundary), that the unit was not read back after it, and the backup that
// restores the set-up it replaced.
void tellStopped(const StopRequested& stop, bool closeByteSent, const std::string& backup,
                 std::ostream& err) {
  err << "kuctl: stopped by " << signalName(stop.signal());
  if (stop.uploadBytesSent() == 0) {
    err << "; nothing was uploaded";
  } else {
    err << "; the upload "
        << (stop.uploadBytesSent() < stop.uploadBytesTotal() ? "ended between two slots"
                                                             : "went out whole")
        << " (" << stop.uploadBytesSent() << " of " << stop.uploadBytesTotal()
        << " bytes) and the unit was not read back";
  }
  err << (closeByteSent ? "; the close byte was sent.\n" : ".\n");
  if (stop.uploadBytesSent() == 0) return;
  if (backup.empty())
    err << "kuctl: no backup was written before this upload (--no-backup).\n";
  else
    err << "kuctl: the unit's set-up before the upload is in " << backup
        << "; to put it back: kuctl restore " << backup << "\n";
}

// After a read-back that only read: the rows are out as soon as 38 characters
// are in; the rest of the unit's second, which the close byte waits out anyway,
// tells whether more came. A short reply already has its message.
void noteReplyNotTheRecord(UnitController& controller, const LoadResult& load, std::ostream& err) {
  if (load.outcome != LoadOutcome::Linked) return;
  const ReplyCheck& reply = controller.lastReply();
  if (reply.verdict == ReplyVerdict::LongReply || reply.verdict == ReplyVerdict::Nmea ||
      reply.verdict == ReplyVerdict::Noise) {
    err << "kuctl: note: " << replyProblemText(reply)
        << " The values shown may not be the unit's.\n";
    tellReceived(err, receivedText(reply));
  }
}

// One run of a command. Past the load step the controller, the in-memory
// window and what was read before the port was touched are set too.
struct Run {
  Run(const Options& options, Environment& environment, const Folders& chosen, std::ostream& output,
      std::ostream& errors)
      : o(options),
        command(*options.command),
        env(environment),
        folders(chosen),
        out(output),
        err(errors) {}
  const Options& o;
  const Command& command;
  Environment& env;
  const Folders& folders;
  std::ostream& out;
  std::ostream& err;
  UnitController* controller = nullptr;
  std::optional<UnitSetup> file;     // apply, diff, restore
  std::string filePath;              // its path
  std::vector<BackupEntry> backups;  // restore without a FILE: the list to choose from
  EntryTexts entries;                // update: the entries, each accepted
};

// How an upload ended, said where the controller left the words to kuctl.
int uploadStatus(Run& r, UploadOutcome sent) {
  switch (sent) {
    case UploadOutcome::Sent:
      if (r.controller->lastUploadBreak()) {
        // The message on standard error said how far it got and where the backup
        // is; the rows show nothing the read-back after it did not bring.
        r.controller->keepOnlyWhatWasReadBack();
        return kExitUploadBroken;
      }
      return kExitOk;
    case UploadOutcome::UnreadSlots:
      // An upload over slots that the unit did not report would send 0 (or
      // nothing it ever held) in their place.
      tellIncomplete(r.err, r.controller->refusedUnreadSlots(), "nothing was uploaded");
      return kExitShortReply;
    case UploadOutcome::NotTheRecord:
      tellReceived(r.err, receivedText(r.controller->lastReply()));
      return kExitShortReply;
    case UploadOutcome::NoBackup:
      r.err << "kuctl: " << r.controller->lastBackupError()
            << " Nothing was uploaded (--no-backup uploads without a backup).\n";
      return kExitNoBackup;
  }
  return kExitOtherMessage;
}

int portsCommand(Run& r) {
  printPorts(r.env.listPorts(), r.o.json, r.out);
  return kExitOk;
}

int infoCommand(Run& r) {
  printInfo(r.folders, PortChoice{r.o.device, r.o.port}, r.o.json, r.out);
  return kExitOk;
}

int backupsCommand(Run& r) {
  return listBackupsCommand(r.folders.backupsDir.path, r.o.json, r.out, r.err);
}

int doctorStatus(CheckVerdict verdict) {
  return verdict == CheckVerdict::Ok ? kExitOk
                                     : kExitDoctorBase + static_cast<int>(verdict) -
                                           static_cast<int>(CheckVerdict::NoSettings);
}

int doctorCommand(Run& r) {
  const PortSource source = portSourceOf(
      r.folders, r.o.device, r.o.port ? std::optional<int>(*r.o.port) : std::optional<int>());
  ConnectionCheckEnv env;
  env.sleeper = r.env.sleeper;
  env.stop = r.env.stop;
  env.makePort = [&r] { return r.env.makePort(std::string()); };
  WireTrace trace;
  if (r.o.trace) {
    std::string why;
    if (!trace.writeTo(*r.o.trace, why)) {
      r.err << "kuctl: the trace file " << *r.o.trace << " cannot be written (" << why
            << "); nothing was sent\n";
      return kExitUsage;
    }
    trace.comment(std::string("kuctl ") + kVersion + ": doctor");
    env.trace = &trace;
  }
  ConnectionCheckResult result;
  try {
    result = runConnectionCheck(source, env);
  } catch (const StopRequested& stop) {
    r.err << "kuctl: stopped by " << signalName(stop.signal())
          << "; nothing was uploaded; the close byte was sent.\n";
    return kExitSignalBase + stop.signal();
  }
  if (r.o.json) {
    QJsonArray checks;
    for (const CheckLine& l : result.lines) {
      QJsonObject o;
      o["check"] = q(l.check);
      o["passed"] = l.passed;
      o["found"] = q(l.found);
      o["advice"] = l.advice.empty() ? QJsonValue() : QJsonValue(q(l.advice));
      checks.append(o);
    }
    QJsonObject doc;
    doc["verdict"] = QString::fromLatin1(verdictWord(result.verdict));
    doc["checks"] = checks;
    r.out << QJsonDocument(doc).toJson(QJsonDocument::Indented).toStdString();
  } else {
    r.out << result.text();
  }
  return doctorStatus(result.verdict);
}

int readCommand(Run&) {
  return kExitOk;  // the read-back of the load step is all
}

int saveCommand(Run& r) {
  const SetupSaving saving = r.controller->saveSetupFile(r.o.file);
  switch (saving.outcome) {
    case SaveOutcome::Saved:
      return kExitOk;
    case SaveOutcome::UnreadSlots:
      tellIncomplete(r.err, saving.unread, "nothing was saved");
      return kExitShortReply;
    case SaveOutcome::NotTheRecord:
      tellReceived(r.err, receivedText(r.controller->lastReply()));
      return kExitShortReply;
    case SaveOutcome::NotWritten:
      return kExitUsage;
  }
  return kExitOtherMessage;
}

int diffCommand(Run& r) {
  const std::vector<int> unread = r.controller->unreadSlotsToCompare();
  if (!unread.empty()) {
    tellIncomplete(r.err, unread, "nothing was compared");
    return kExitShortReply;
  }
  return diffFile(*r.controller, *r.file, r.out);
}

int defaultsCommand(Run& r) {
  return uploadStatus(r, r.controller->runDefaultCommand());
}

int updateCommand(Run& r) {
  return uploadStatus(r, r.controller->runUpdateCommand(r.entries, r.command.backupReason));
}

// The file's slots 1..29 that differ from the unit's, as entries over the
// unit's values, uploaded; nothing is sent when a box refuses one of them.
int sendFile(Run& r, const SetupOpening& opening) {
  if (!opening.opened()) {
    r.err << "kuctl: "
          << SetupFileError(
                 r.filePath,
                 slotCaption(opening.slot) + " holds " + opening.text + ", which its box refuses",
                 opening.slot)
                 .what()
          << " Nothing was sent.\n";
    return kExitUsage;
  }
  EntryTexts entries;
  for (int s = 0; s < kRowSlots; ++s) {
    const std::string& text = opening.entries[static_cast<std::size_t>(s)];
    if (!text.empty()) entries.emplace_back(s, text);
  }
  return uploadStatus(r, r.controller->runUpdateCommand(entries, r.command.backupReason));
}

int applyCommand(Run& r) {
  return sendFile(r, r.controller->entriesOfSetup(*r.file));
}

int restoreCommand(Run& r) {
  if (!chooseRestore(*r.controller, r.backups, r.o.force, r.filePath, r.file, r.err))
    return kExitUsage;
  const SetupOpening opening = r.controller->entriesOfSetup(*r.file);
  if (opening.outcome == OpenOutcome::NothingDiffers) {
    r.err << "kuctl: the unit already holds this set-up (slots 1 to 29); nothing was sent\n";
    return kExitOk;
  }
  return sendFile(r, opening);
}

const std::vector<Command>& commands() {
  static const std::vector<Command> kCommands = {
      {"read", Argument::None, true, nullptr, true, readCommand},
      {"defaults", Argument::None, true, kBackupBeforeDefaults, true, defaultsCommand},
      {"update", Argument::Entries, true, kBackupBeforeUpdate, true, updateCommand},
      {"save", Argument::WriteFile, true, nullptr, true, saveCommand},
      {"apply", Argument::ReadFile, true, kBackupBeforeApply, true, applyCommand},
      {"diff", Argument::ReadFile, true, nullptr, false, diffCommand},  // prints its own table
      {"backups", Argument::None, false, nullptr, false, backupsCommand},
      {"restore", Argument::OptionalFile, true, kBackupBeforeRestore, true, restoreCommand},
      {"info", Argument::None, false, nullptr, false, infoCommand},
      {"ports", Argument::None, false, nullptr, false, portsCommand},
      {"doctor", Argument::None, false, nullptr, false, doctorCommand},
  };
  return kCommands;
}

// What a command reads before the port is touched: its set-up file, or for a
// restore without one the backups to choose from. False (after saying why)
// when it cannot go on.
bool readBeforeThePort(Run& r) {
  r.filePath = r.o.file;
  if (r.command.argument == Argument::OptionalFile && r.filePath.empty()) {
    try {
      r.backups = listBackups(r.folders.backupsDir.path);
    } catch (const BackupError& e) {
      r.err << "kuctl: " << e.what() << " Nothing was sent.\n";
      return false;
    }
    if (!newestBackupToRestore(r.backups, {}, true)) {
      for (const BackupEntry& b : r.backups)
        if (!b.problem.empty()) r.err << "kuctl: note: " << b.problem << "\n";
      r.err << "kuctl: there is no backup to restore in " << r.folders.backupsDir.path
            << "; nothing was sent\n";
      return false;
    }
  } else if (r.command.argument == Argument::ReadFile ||
             r.command.argument == Argument::OptionalFile) {
    try {
      r.file = readSetupFile(r.filePath);
    } catch (const SetupFileError& e) {
      r.err << "kuctl: " << e.what() << " Nothing was sent.\n";
      return false;
    }
  }
  return true;
}

// Every entry is checked before the port is touched. False after saying why.
bool acceptEntries(Run& r, const NumberLocale& locale) {
  for (const auto& [slot, text] : r.o.entries) {
    if (!isEnterable(slot)) {
      r.err << "kuctl: slot " << slot << " (" << slotInfo(slot).rowLabel
            << ") takes no entry; nothing was sent\n";
      return false;
    }
    if (!acceptedEntry(slot, text, locale)) {
      r.err << "kuctl: " << kEnterValidNumberText << ": slot " << slot << " ("
            << slotInfo(slot).rowLabel << ") takes 0 to " << entryLimit(slot) << ", not '" << text
            << "'; nothing was sent\n";
      return false;
    }
    r.entries.emplace_back(slot, text);
  }
  return true;
}

}  // namespace

std::string helpText() {
  return R"(Usage: kuctl [OPTIONS] COMMAND [SLOT=VALUE ... | FILE]

Talks to a KU unit over the serial port named in comms.ini, exactly as the KU
utility's main window does, and prints what the window shows.

Commands:
  read                 read the unit's set-up back and show it
  defaults             upload the built-in default set-up (the unit keeps its
                       channel), then read it back and show it
  update SLOT=VALUE... read the set-up back, lay each entry over it, upload the
                       whole set-up, then read it back and show it. Each value is
                       checked the way the entry boxes check typing: 0..255, or
                       0..32000 for slots 4, 5, 27, 28, 29; a number is rounded
                       to a whole number (halves to even); slots 0, 30 and 31
                       take no entry. A rejected entry stops kuctl before any
                       byte is sent.
  save FILE            read the set-up back and write it to FILE as a set-up
                       file (JSON); an incomplete read-back, or a reply
                       that is not the unit's record, writes nothing
  apply FILE           read the set-up back, lay slots 1..29 of the set-up file
                       over it as entries (checked as typing is), upload the
                       whole set-up, then read it back and show it; slots 0, 30
                       and 31 of a file are never uploaded
  diff FILE            read the set-up back and list each of slots 1..29 whose
                       value differs from the file's: slot, name, unit, file
  backups              list the automatic backups, newest first by the time each
                       records: time, port, channel, why it was written, file
                       (--json too); an unreadable backups folder exits 2
  restore [FILE]       read the set-up back, then apply the newest backup of
                       this port and channel that no restore wrote (it says
                       which; one dated in the future only when no other is
                       left), or the backup FILE. A backup of another port or
                       channel is refused unless --force; when the unit already
                       holds the backup's slots 1..29, nothing is sent (exit 0)
  info                 print the version and every path kuctl would use (the
                       settings file, the device, the reference database, the
                       backups folder) and why; touches no port (--json too)
  ports                list the serial ports: device, description, maker,
                       serial number and the stable /dev/serial/by-id/ name
                       that links to it, where these are known (--json too)
  doctor               check the connection step by step and stop at the
                       first step that fails: the settings and the port
                       number (or --device), the device, the user's rights
                       to it, programs holding it, the USB adapter, the line
                       settings as the port took them, and the unit's answer
                       to " ", "q" and "x" (about 3 s). One line per step,
                       then one verdict: ok, no-settings, no-device,
                       no-permission, busy, silent, echo, nmea, noise,
                       short-record or long-reply (--json: {"verdict": ...,
                       "checks": [...]}); exit status 0 for ok, 10..19 for
                       the others. Nothing is uploaded.
  When the first read-back leaves unread a slot that "defaults" (the channel)
  or "update", "apply" and "restore" (any slot without an entry) would send,
  nothing is uploaded. A set-up file that cannot be used is refused before any
  byte is sent.

Before every upload (defaults, update, apply, restore) the set-up read back
first is written as a set-up file to the backups folder, with the device, its
stable /dev/serial/by-id/ name, the channel and why it was written,
$XDG_STATE_HOME/ku-utility/backups/ (by default ~/.local/state/...), one file
per upload, named by the UTC time; backups are never overwritten or removed.
When the backup cannot be written, nothing is uploaded.

)" + optionsHelp() +
         R"(
Every run ends as closing the window does: the close byte "!" is sent and the
port is closed.

Files: comms.ini is read from the program's folder when it is there, else from
$XDG_CONFIG_HOME/ku-utility/ (default ~/.config/ku-utility/). Port number N
opens comN in the folder where comms.ini was found when that exists (a link to
any serial device), else /dev/ttyS<N-1>. TKUUtil.mdb is looked for beside the
program, then in <program folder>/../share/ku-utility/, then in ku-utility/ of
each folder of $XDG_DATA_DIRS (default /usr/local/share:/usr/share).

Messages of the unit link go to standard error, as the window's message boxes
would show them. Exit status:
  0  success, no message (diff: the unit holds the file's slots 1..29)
  1  diff: the unit's values differ from the file's
  2  bad command line, a rejected entry (a slot given twice too), a set-up
     file that cannot be read or written, an unreadable backups folder, or
     a restore refused for its backup (none of this unit, or one of another
     port or channel without --force); nothing was uploaded
  3  "Invalid Com Port..." (missing comms.ini, wrong port number, or no such
     device)
  4  the port could not be opened (held by another program through any of
     its names, no rights); nothing was sent
  5  "Couldnot get Any or Full string from KU..." (silent unit or short record),
     or the first read-back left slots unread, so that "update" or "defaults"
     uploaded nothing (it would have sent values the unit never reported),
     or the unit's reply to "x" was not its 38-character record (another
     device, an NMEA 0183 talker or noise on the line), so that nothing was
     uploaded or saved. "read" only notes such a reply on standard error.
  6  "There is error in values limit ..." (a value out of range was not sent)
  7  any other message
  8  the backup before an upload could not be written (nothing was uploaded;
     --no-backup uploads anyway)
  9  the upload broke off: a write failed partway ("The upload stopped after
     N of 69 bytes, in slot ..."); the unit may hold part of the new set-up,
     and the message names the backup that holds the set-up from before. The
     table and JSON show only what the read-back after it brought.
  10..19
     doctor's verdict when it is not ok: 10 no-settings, 11 no-device,
     12 no-permission, 13 busy, 14 silent, 15 echo, 16 nmea, 17 noise,
     18 short-record, 19 long-reply
  129, 130, 143
     stopped by SIGHUP, SIGINT or SIGTERM. Outside an upload kuctl stops at
     once; once an upload's first byte is out, the pass goes on to its end
     (about 1.4 s), the read-back after it is skipped, and the message names
     the backup to restore from. A second SIGINT ends the pass after the
     current slot's command and value bytes. The close byte "!" is sent
     whenever the port is open.
A failed reference refresh (for instance a missing TKUUtil.mdb) is reported on
standard error as a note and leaves the exit status alone.
)";
}

namespace {

// What the command line chose, for the log: "update 8=50 on /dev/ttyUSB0 (--json)".
std::string chosenText(const Options& o) {
  std::string text = o.command ? o.command->name : "no command";
  if (!o.file.empty()) text += " " + o.file;
  for (const auto& [slot, entry] : o.entries) text += " " + std::to_string(slot) + "=" + entry;
  if (o.device) text += " on " + *o.device;
  if (o.port) text += " on port " + std::to_string(*o.port);
  if (o.trace) text += " traced to " + *o.trace;
  std::string flags;
  for (const auto& [set, name] : {std::pair{o.json, "--json"}, std::pair{o.noBackup, "--no-backup"},
                                  std::pair{o.force, "--force"}, std::pair{o.help, "--help"},
                                  std::pair{o.version, "--version"}})
    if (set) flags += std::string(flags.empty() ? "" : " ") + name;
  return flags.empty() ? text : text + " (" + flags + ")";
}

int runCommand(const std::vector<std::string>& args, Environment& env, std::ostream& out,
               std::ostream& err) {
  Options o;
  const std::string usageError = parseArgs(args, o);
  qCDebug(lcCli, "command: %s%s", chosenText(o).c_str(),
          (usageError.empty() ? std::string() : " - refused: " + usageError).c_str());
  if (o.help) {
    out << helpText();
    return kExitOk;
  }
  if (o.version) {
    out << "kuctl " << kVersion << "\n";
    return kExitOk;
  }
  if (!usageError.empty()) {
    err << "kuctl: " << usageError << "\n(kuctl --help shows the usage)\n";
    return kExitUsage;
  }

  const Folders folders = resolveFolders(env.folders);
  Run r(o, env, folders, out, err);
  if (!r.command.opensLink) return r.command.handler(r);

  AppContext context;
  initAppContext(context, env.folders.programDir);
  useFolders(context, folders);
  context.programName = std::string("kuctl ") + kVersion;
  if (o.noBackup) context.backupsDir.clear();

  // A set-up file is read, and refused, before the port is touched. Restore
  // without a file lists the backups now and picks one once the read-back has
  // told which channel the unit is on.
  if (!readBeforeThePort(r) || !acceptEntries(r, context.locale)) return kExitUsage;

  std::unique_ptr<SerialPort> port =
      env.makePort(o.port ? folders.linkFolderFor(*o.port) : context.linkFolder);

  // The trace file is made before the port is touched (below); one that cannot
  // be written stops the run with nothing sent.
  WireTrace trace;
  RecordingUnitView view;
  view.pulseWidth = o.pulseWidth;
  view.answer = false;  // nobody is asked: no backup, no upload
  StderrNotifier notifier(err);
  UnitController controller(context, view, notifier, *env.sleeper, std::move(port), *env.opener);
  view.attach(&controller);
  // Nobody reads a message box here: kuctl says which slots were unread itself.
  controller.setUnreadRefusalsTold(false);
  r.controller = &controller;
  if (view.pulseWidth.empty()) controller.pulseWidthEdited();

  controller.setStopRequest(env.stop);
  if (o.trace) {
    std::string why;
    if (!trace.writeTo(*o.trace, why)) {
      err << "kuctl: the trace file " << *o.trace << " cannot be written (" << why
          << "); nothing was sent\n";
      return kExitUsage;
    }
    trace.comment(std::string("kuctl ") + kVersion + ": " + chosenText(o));
    controller.setTrace(&trace);
  }
  if (env.stop && env.stop->pending()) {
    err << "kuctl: stopped by " << signalName(env.stop->signal())
        << " before the port was opened; nothing was sent\n";
    return kExitSignalBase + env.stop->signal();
  }
  int status = kExitOk;
  // A stop ends the run at once: the close byte, what was left behind, 128 + signal.
  const auto stopped = [&](const StopRequested& stop) {
    const bool portOpen = controller.port().isOpen();
    controller.closeLink();
    tellStopped(stop, portOpen, controller.lastBackupPath(), err);
    return kExitSignalBase + stop.signal();
  };
  // A stop anywhere from the open to the last wait of the unit's second ends the run.
  try {
    const LoadResult load =
        o.device ? controller.openLinkToDevice(*o.device) : controller.openLink(o.port);
    if (load.outcome == LoadOutcome::Unlinked) {
      err << "kuctl: the port could not be opened (error " << load.lastCode << ": " << load.lastText
          << "); nothing was sent\n";
      status = kExitPortUnavailable;
    } else if (load.outcome == LoadOutcome::Linked) {
      status = r.command.handler(r);
    }  // else the invalid-port message is all

    if (!r.command.printsRows) {
      // diff printed its own table.
    } else if (o.json) {
      printJson(view, controller, notifier, view.pulseWidth, out);
    } else {
      printTable(view, out);
    }
    if (!controller.lastRefreshError().empty()) {
      err << "kuctl: note: reference values incomplete: " << controller.lastRefreshError() << "\n";
    }
    // The results are out before the close byte, which waits for the end of the
    // unit's second after the last "x".
    out.flush();
    err.flush();
    if (status != kExitShortReply) noteReplyNotTheRecord(controller, load, err);
  } catch (const StopRequested& stop) {
    return stopped(stop);
  }
  controller.closeLink();

  if ((status == kExitOk || status == kExitDiffer) && !notifier.kinds.empty())
    status = statusForMessage(notifier.kinds.front());
  return status;
}

}  // namespace

int run(const std::vector<std::string>& args, Environment& env, std::ostream& out,
        std::ostream& err) {
  const int status = runCommand(args, env, out, err);
  qCDebug(lcCli, "exit status %d", status);
  return status;
}

}  // namespace ku::cli
