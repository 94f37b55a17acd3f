// The wire trace: every event of the link, one line each, with the time in
// microseconds since the port was opened. UnitLink feeds it while one is set;
// without one the link formats nothing and reads no clock for it.
//
//   <micros> <event> <details>
//
//         0 open /dev/ttyUSB0 -> /dev/ttyUSB0
//        45 line 4800 baud 8N1, flow none, RTS on
//       112 write 1 20 " "
//       130 pause 1000 ms
//   2010563 read 38 30 30 ... "00..."
//   2010611 record 38 characters, 32 of 32 slots: 0=0 1=12 ...
//   2010640 hold 990 ms
//   3001020 write 1 21 "!"
//   3001100 close /dev/ttyUSB0
//
// write and read give the byte count, the bytes in hex and the same bytes as
// text (printable characters as they are, others as \xHH, CR and LF as \r and
// \n); a read of more than kTraceBytesPerLine bytes goes on several lines.
// The other events: pause and hold (the wait after "x" before the next byte)
// in ms, fail with what failed and why, stop with the signal. Lines that start
// with "#" are comments.
#pragma once

#include <cstddef>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/protocol.h"
#include "link/sleeper.h"

namespace ku {

inline constexpr std::size_t kTraceBytesPerLine = 32;

// What the trace knows of the port it saw opened last.
struct TracedPort {
  std::string device;    // as the link named it
  std::string resolved;  // where its links lead (realpath); empty when it does not resolve
  std::string settings;  // the line settings read back from the open port
};

class WireTrace {
 public:
  // How many of the latest lines stay in memory (lines()).
  static constexpr std::size_t kKeptLines = 400;

  WireTrace() = default;
  ~WireTrace();
  WireTrace(const WireTrace&) = delete;
  WireTrace& operator=(const WireTrace&) = delete;

  // From now on every line also goes to the file at path (created or emptied),
  // flushed line by line. False, with the reason in why, when it cannot be written.
  bool writeTo(const std::string& path, std::string& why);
  // A comment line ("# ...") in the file and in memory.
  void comment(const std::string& text);

  // The events, each with the time it happened on the link's clock.
  // The port opened: lines count their time from here on.
  void opened(MonotonicClock::time_point at, const std::string& device,
              const std::string& settings);
  void wrote(MonotonicClock::time_point at, const std::string& bytes);
  void read(MonotonicClock::time_point at, const std::string& bytes);
  void pause(MonotonicClock::time_point at, int ms);
  void hold(MonotonicClock::time_point at, int ms);
  // The wait for the record after "x" began; it lasts at most ms (the reads
  // that follow, then the record line, say how it ended).
  void awaitingRecord(MonotonicClock::time_point at, int ms);
  void record(MonotonicClock::time_point at, const std::string& reply, const DecodedRecord& values);
  void failure(MonotonicClock::time_point at, const std::string& what, const std::string& why);
  void stopped(MonotonicClock::time_point at, int signal);
  void closed(MonotonicClock::time_point at, const std::string& device, const std::string& how);

  // The latest lines, oldest first, each without its line end.
  std::vector<std::string> lines() const;
  // The port opened last, if any was.
  std::optional<TracedPort> port() const;
  // The reply to the last read-back's "x" as it came, if a read-back ran.
  std::optional<std::string> lastReply() const;

 private:
  void add(MonotonicClock::time_point at, const char* event, const std::string& details);
  void keep(const std::string& line);

  mutable std::mutex mutex_;
  std::FILE* file_ = nullptr;
  std::deque<std::string> lines_;
  std::optional<MonotonicClock::time_point> origin_;
  std::optional<TracedPort> port_;
  std::optional<std::string> lastReply_;
};

// Bytes as a write or read line shows them: count, hex, text ("2 71 78 \"qx\"").
std::string tracedBytes(const std::string& bytes);

// One line of a trace, taken apart; false when it is not an event line.
struct TraceLine {
  long long micros = 0;
  std::string event;
  std::string details;
  std::string bytes;  // write and read: the bytes, from their hex
};
bool parseTraceLine(const std::string& line, TraceLine& out);

}  // namespace ku
