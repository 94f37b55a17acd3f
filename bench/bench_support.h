// What the benchmark programs share: statistics, the report lines, a program
// folder to run in, and stand-ins for the port, the pauses and the message box.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "../tests/support/scratch_dir.h"
#include "app/operator_texts.h"
#include "link/serial_port.h"
#include "link/sleeper.h"

namespace ku::bench {

// Nanoseconds on the monotonic clock, comparable between processes.
inline std::int64_t monotonicNs() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// The p-th quantile (0..1) by nearest rank; samples need not be sorted.
inline double quantile(std::vector<double> samples, double p) {
  if (samples.empty()) return std::nan("");
  std::sort(samples.begin(), samples.end());
  const double rank = std::ceil(p * static_cast<double>(samples.size()));
  const auto index = static_cast<std::size_t>(std::max(1.0, rank)) - 1;
  return samples[std::min(index, samples.size() - 1)];
}

struct Summary {
  std::size_t count = 0;
  double min = 0, median = 0, p99 = 0, max = 0;
};

inline Summary summarise(const std::vector<double>& samples) {
  Summary s;
  s.count = samples.size();
  if (samples.empty()) return s;
  s.min = *std::min_element(samples.begin(), samples.end());
  s.max = *std::max_element(samples.begin(), samples.end());
  s.median = quantile(samples, 0.5);
  s.p99 = quantile(samples, 0.99);
  return s;
}

// One report line. A figure with a goal prints "GOAL ... met" or "not met" so
// that scripts/bench can count them; a figure without one prints "INFO".
inline int& unmetGoals() {
  static int n = 0;
  return n;
}

inline void info(const std::string& what, double value, const std::string& unit) {
  std::printf("INFO  %-72s %11.3f %-3s\n", what.c_str(), value, unit.c_str());
  std::fflush(stdout);
}

inline void note(const std::string& text) {
  std::printf("NOTE  %s\n", text.c_str());
  std::fflush(stdout);
}

// goal: a readable bound such as "< 0.5 ms"; met: whether the value keeps it.
inline void goal(const std::string& what, double value, const std::string& unit,
                 const std::string& bound, bool met) {
  if (!met) ++unmetGoals();
  std::printf("GOAL  %-72s %11.3f %-3s  goal %-12s %s\n", what.c_str(), value, unit.c_str(),
              bound.c_str(), met ? "met" : "NOT MET");
  std::fflush(stdout);
}

// A figure of a comparison (not of what the program runs) set beside a goal
// without counting as one.
inline void beside(const std::string& what, double value, const std::string& unit,
                   const std::string& bound, bool within) {
  std::printf("INFO  %-72s %11.3f %-3s  (goal %s: %s)\n", what.c_str(), value, unit.c_str(),
              bound.c_str(), within ? "within" : "outside");
  std::fflush(stdout);
}

// A number with the given digits after the point, for report texts.
inline std::string fixed(double value, int digits) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", digits, value);
  return buf;
}

inline void section(const std::string& title) {
  std::printf("\n== %s\n", title.c_str());
  std::fflush(stdout);
}

using TempDir = test::ScratchDir;

// A program folder: the reference database (a link, so that the file keeps its
// age and the cache's settling rule does not hold it back) and comms.ini.
inline void prepareProgramDir(const TempDir& dir, const std::string& database, int port) {
  std::filesystem::create_symlink(std::filesystem::absolute(database), dir.file("TKUUtil.mdb"));
  std::ofstream(dir.file("comms.ini")) << "\"Port\"," << port << "\n";
}

// Waits that take no time; its clock moves on by each wait, so a read-back that
// finds no record still ends after its second (of no real time).
class ZeroSleeper : public Sleeper {
 public:
  void sleepMs(int ms) override { elapsed_ += std::chrono::milliseconds(ms); }
  MonotonicClock::time_point now() const override {
    return MonotonicClock::time_point{} + elapsed_;
  }

 private:
  std::chrono::milliseconds elapsed_{0};
};

class CountingNotifier : public Notifier {
 public:
  void show(const Message& message) override {
    ++count;
    last = operatorText(message);
  }
  int count = 0;
  std::string last;
};

// A unit on no line at all: answers "x" with a fixed record, takes every write.
class RecordPort : public SerialPort {
 public:
  explicit RecordPort(std::string record) : record_(std::move(record)) {}
  void open(std::int16_t, const LineSettings&) override { open_ = true; }
  void openDevice(const std::string&, const LineSettings&) override { open_ = true; }
  void close() override { open_ = false; }
  bool isOpen() const override { return open_; }
  void write(const std::string& bytes) override {
    for (char c : bytes) {
      if (c == 'x') pending_ += record_;
    }
  }
  std::string readAll() override {
    std::string out;
    out.swap(pending_);
    return out;
  }

 private:
  std::string record_;
  std::string pending_;
  bool open_ = true;
};

// The folder of this executable (where the build puts TKUUtil.mdb, kuctl, ...).
inline std::string executableDir() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : self.parent_path().string();
}

inline std::string envOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : fallback;
}

// A benchmark program's main: "--quick" as its only argument asks for the
// short run; a failure is reported under the program's name with status 1.
inline int benchMain(int argc, char** argv, const char* name, int (*run)(bool quick)) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  try {
    return run(quick);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", name, e.what());
    return 1;
  }
}

}  // namespace ku::bench
