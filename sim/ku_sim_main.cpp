// ku-sim: runs a simulated KU unit on a pseudo-terminal until SIGINT or SIGTERM.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QStringList>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "app/version.h"
#include "cli/command_line.h"
#include "simulator.h"

namespace {

const char kUsage[] =
    "Usage: ku-sim [options]\n"
    "\n"
    "Runs a simulated Tolvek KU unit on a pseudo-terminal. Prints the device path\n"
    "on the first line of standard output (and, with --link, the link path on the\n"
    "second), then serves the line until SIGINT or SIGTERM.\n"
    "\n"
    "The unit answers \"x\" with its 38-byte configuration record, takes \" \" and \"q\"\n"
    "without an answer, applies uploads (a command byte followed by the value bytes\n"
    "of its slot; a value byte that does not follow within 30 ms is given up), counts\n"
    "\"!\" and logs every byte it receives.\n"
    "\n"
    "Options:\n"
    "  --link PATH            make a symbolic link PATH to the device (replacing any\n"
    "                         file there); removed again on exit\n"
    "  --channel N            the unit's raw channel value, slot 0, 0..255 (the\n"
    "                         utility shows it as N+1); default 0\n"
    "  --pulse-integral N     the Tx pulse integral, slot 30, 0..65535; default 210\n"
    "  --silent               never answer\n"
    "  --short N              answer \"x\" with only the first N characters of the record\n"
    "  --high-byte SLOT       send the pair of SLOT (4, 5, 27, 28, 29 or 30) with a\n"
    "                         high byte of 128 or more\n"
    "  --noise-request        answer \" \" and \"q\" with a few bytes of noise\n"
    "  --noise-after N        send N bytes of noise after the record\n"
    "  --hang-up-after N      close the line after N received bytes\n"
    "  --flood N              answer \"x\" with N bytes of noise instead of the record\n"
    "  --nmea                 another talker on the line: NMEA 0183 sentences of a GPS\n"
    "                         and a sounder ($GPGGA, $GPRMC, $SDDPT, with checksums,\n"
    "                         CR LF) at 480 characters a second, alongside the unit's\n"
    "                         answers (with --silent: instead of them)\n"
    "  --noise-from N         once N bytes were received, noise without end at 480\n"
    "                         characters a second, alongside the unit's answers\n"
    "  --echo                 the line wired back on itself (TX to RX, a loopback\n"
    "                         plug): every byte is sent straight back, nothing else\n"
    "  --baud RATE            the unit talks at RATE baud (300..115200) instead of\n"
    "                         4800: it answers every byte with its record as a\n"
    "                         4800-baud receiver hears it (garbage, not 38\n"
    "                         characters) and applies no upload\n"
    "  --log FILE             on exit, write every received byte to FILE\n"
    "  --help                 show this text and exit\n"
    "  --version              print ku-sim's version and exit\n"
    "\n"
    "Log format: one line per received byte, in order of arrival:\n"
    "  <microseconds since the first byte>TAB<two upper-case hex digits>TAB<character>\n"
    "where <character> is the byte itself when it is printable ASCII (0x20..0x7E)\n"
    "and '.' otherwise. Example: \"20417\\t78\\tx\".\n"
    "\n"
    "Exit status: 0 after a signal; 1 when the line or the log cannot be made;\n"
    "2 for a bad command line.\n";

int usageError(const std::string& message) {
  std::cerr << "ku-sim: " << message << "\nTry 'ku-sim --help'.\n";
  return 2;
}

// A whole decimal number in [lo, hi], or false.
bool parseNumber(const char* text, long lo, long hi, long& out) {
  if (text == nullptr || *text == '\0') return false;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  out = v;
  return true;
}

bool writeLog(const std::string& file, const std::vector<ku::sim::LoggedByte>& log) {
  std::ofstream f(file, std::ios::binary | std::ios::trunc);
  if (!f) return false;
  static const char* hex = "0123456789ABCDEF";
  const std::int64_t first = log.empty() ? 0 : log.front().micros;
  for (const auto& b : log) {
    char c = (b.byte >= 0x20 && b.byte <= 0x7E) ? static_cast<char>(b.byte) : '.';
    f << (b.micros - first) << '\t' << hex[b.byte >> 4] << hex[b.byte & 15] << '\t' << c << '\n';
  }
  f.flush();
  return static_cast<bool>(f);
}

// Removes the link only while it still points at our device.
void removeLink(const std::string& link, const std::string& device) {
  char buf[PATH_MAX];
  ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
  if (n < 0) return;
  buf[n] = '\0';
  if (device == buf) ::unlink(link.c_str());
}

// What the command line asks for; parse() fills it or returns a usage error.
struct Settings {
  std::string linkPath, logPath;
  ku::sim::Faults faults;
  long channel = -1, pulseIntegral = -1;
  bool help = false, version = false;
};

// An option that takes a whole number, the range it accepts and where it goes.
struct NumberOption {
  const char* name;
  long lo, hi;
  const char* usage;  // the text of a missing or bad number
  std::function<void(Settings&, long)> store;
  // A further test of a number within the range; none when null.
  bool (*accepts)(long) = nullptr;
};

const std::vector<NumberOption>& numberOptions() {
  static const std::vector<NumberOption> options{
      {"channel", 0, 255, "--channel needs a number 0..255",
       [](Settings& s, long n) { s.channel = n; }},
      {"pulse-integral", 0, 65535, "--pulse-integral needs a number 0..65535",
       [](Settings& s, long n) { s.pulseIntegral = n; }},
      {"short", 0, 38, "--short needs a number 0..38",
       [](Settings& s, long n) { s.faults.shortRecord = static_cast<int>(n); }},
      {"high-byte", 4, 30, "--high-byte needs one of the slots 4, 5, 27, 28, 29, 30",
       [](Settings& s, long n) { s.faults.highBytePair = static_cast<int>(n); },
       [](long n) { return n == 4 || n == 5 || n >= 27; }},
      {"noise-after", 0, 1000000, "--noise-after needs a number 0..1000000",
       [](Settings& s, long n) { s.faults.noiseAfterRecord = static_cast<int>(n); }},
      {"hang-up-after", 0, LONG_MAX, "--hang-up-after needs a number of bytes",
       [](Settings& s, long n) { s.faults.hangUpAfter = n; }},
      {"flood", 1, LONG_MAX, "--flood needs a positive number of bytes",
       [](Settings& s, long n) { s.faults.floodBytes = n; }},
      {"baud", 300, 115200, "--baud needs a baud rate 300..115200",
       [](Settings& s, long n) { s.faults.otherBaud = static_cast<int>(n); }},
      {"noise-from", 0, LONG_MAX, "--noise-from needs a number of bytes",
       [](Settings& s, long n) { s.faults.noiseFrom = n; }},
  };
  return options;
}

// Returns an error text, or empty when the command line is sound.
std::string parse(const QStringList& args, Settings& s) {
  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
  const QCommandLineOption version(QStringLiteral("version"), {});
  const QCommandLineOption link(QStringLiteral("link"), {}, QStringLiteral("PATH"));
  const QCommandLineOption log(QStringLiteral("log"), {}, QStringLiteral("FILE"));
  const QCommandLineOption silent(QStringLiteral("silent"), {});
  const QCommandLineOption noiseRequest(QStringLiteral("noise-request"), {});
  const QCommandLineOption nmea(QStringLiteral("nmea"), {});
  const QCommandLineOption echo(QStringLiteral("echo"), {});
  parser.addOptions({help, version, link, log, silent, noiseRequest, nmea, echo});
  for (const NumberOption& o : numberOptions())
    parser.addOption(QCommandLineOption(QString::fromLatin1(o.name), {}, QStringLiteral("N")));

  const bool parsed = parser.parse(args);
  s.help = parser.isSet(help);
  s.version = parser.isSet(version);
  if (s.help || s.version) return {};
  if (!parsed && !parser.unknownOptionNames().isEmpty())
    return "unknown option '" +
           ku::cli::optionAsTyped(args.mid(1), parser.unknownOptionNames().first()).toStdString() +
           "'";
  if (!parser.positionalArguments().isEmpty())
    return "unknown option '" + parser.positionalArguments().first().toStdString() + "'";
  // A value can only be missing after the last argument: a missing path or
  // number is reported as a bad one. Any other fault is the parser's own.
  QString missing;
  if (!parsed) {
    missing = args.last().startsWith(QLatin1String("--")) ? args.last().mid(2) : QString();
    bool takesValue = missing == QLatin1String("link") || missing == QLatin1String("log");
    for (const NumberOption& o : numberOptions()) takesValue = takesValue || missing == o.name;
    if (!takesValue) return parser.errorText().toStdString();
  }
  auto missingValue = [&](const QString& name) { return name == missing; };
  for (const QCommandLineOption* o : {&link, &log}) {
    const QString name = o->names().first();
    if (parser.isSet(*o) && (parser.value(*o).isEmpty() || missingValue(name)))
      return "--" + name.toStdString() + " needs a path";
  }
  s.linkPath = parser.value(link).toStdString();
  s.logPath = parser.value(log).toStdString();
  s.faults.silent = parser.isSet(silent);
  s.faults.noiseOnRequest = parser.isSet(noiseRequest);
  s.faults.nmeaTalker = parser.isSet(nmea);
  s.faults.echo = parser.isSet(echo);

  for (const NumberOption& o : numberOptions()) {
    const QString name = QString::fromLatin1(o.name);
    if (!parser.isSet(name)) continue;
    long n = 0;
    if (missingValue(name) ||
        !parseNumber(parser.value(name).toStdString().c_str(), o.lo, o.hi, n) ||
        (o.accepts != nullptr && !o.accepts(n)))
      return o.usage;
    o.store(s, n);
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  QStringList args;
  for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  Settings settings;
  const std::string error = parse(args, settings);
  if (settings.help) {
    std::cout << kUsage;
    return 0;
  }
  if (settings.version) {
    std::cout << "ku-sim " << ku::kVersion << "\n";
    return 0;
  }
  if (!error.empty()) return usageError(error);
  const std::string& linkPath = settings.linkPath;
  const std::string& logPath = settings.logPath;
  const long channel = settings.channel, pulseIntegral = settings.pulseIntegral;
  const ku::sim::Faults& faults = settings.faults;

  // Block the stop signals before the serving thread exists, so only sigwait sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  ku::sim::Simulator sim;
  if (channel >= 0) sim.setSlotValue(0, static_cast<std::int32_t>(channel));
  if (pulseIntegral >= 0) sim.setSlotValue(30, static_cast<std::int32_t>(pulseIntegral));
  sim.setFaults(faults);
  try {
    sim.start();
    if (!linkPath.empty()) sim.makeLink(linkPath);
  } catch (const std::exception& e) {
    std::cerr << "ku-sim: " << e.what() << "\n";
    return 1;
  }
  const std::string device = sim.devicePath();
  std::cout << device << "\n";
  if (!linkPath.empty()) std::cout << linkPath << "\n";
  std::cout.flush();

  int sig = 0;
  while (sigwait(&stopSignals, &sig) != 0) {
  }

  sim.stop();
  if (!linkPath.empty()) removeLink(linkPath, device);
  if (!logPath.empty() && !writeLog(logPath, sim.log())) {
    std::cerr << "ku-sim: cannot write the log to " << logPath << ": " << std::strerror(errno)
              << "\n";
    return 1;
  }
  return 0;
}
