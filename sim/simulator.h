// ku-sim: a simulated unit on a pseudo-terminal. It keeps 32 slot values, answers
// "x" with its 38-byte record, applies uploads, notes "!" and logs every byte it
// receives with its time. Usable in-process (tests, benchmarks) and as a program.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "model/slot_table.h"

namespace ku::sim {

// Fault modes, switchable while the unit runs.
struct Faults {
  bool silent = false;    // never answers
  int shortRecord = -1;   // >= 0: answer "x" with only the first N characters
  int highBytePair = -1;  // >= 0: slot (4, 5, 27..30) whose pair is sent with a high byte >= 128
  bool noiseOnRequest = false;  // answer " " and "q" with noise
  int noiseAfterRecord = 0;     // bytes of noise sent after the record
  long hangUpAfter = -1;        // >= 0: close the line after N received bytes (counted
                                // from the setFaults call that set it)
  long floodBytes = 0;          // > 0: answer "x" with this many bytes of noise instead of a record
  // Another talker on the line, at its pace of about 480 characters a second
  // (4800 baud 8N1), whatever the unit says alongside it:
  bool nmeaTalker = false;  // NMEA 0183 sentences of a GPS and a sounder
  long noiseFrom = -1;      // >= 0: noise without end once N bytes were received
                            // (counted from the setFaults call that set it)
  // The line wired back on itself (TX to RX, a loopback plug): every byte
  // received is sent back at once, and nothing else; the unit hears nothing.
  bool echo = false;
  // > 0: the unit talks at this baud rate instead of 4800. It cannot read the
  // program's bytes, takes each for a request and answers it with its record,
  // which arrives as the garbage a 4800-baud receiver makes of it (see
  // sampledAt4800); uploads are not applied.
  int otherBaud = 0;
};

// The characters a talker at 4800 baud 8N1 puts on the line each second.
inline constexpr int kLineCharsPerSecond = 480;

// One NMEA 0183 sentence: "$", the body, "*", the checksum of the body (its
// characters XORed, two upper-case hex digits), CR LF.
std::string nmeaSentence(const std::string& body);

// What a receiver at 4800 baud 8N1 reads from bytes sent at fromBaud 8N1, back
// to back: it starts a character at each falling edge of the line, samples
// every bit in its middle at its own rate and keeps the character whatever its
// stop bit holds. Deterministic; fromBaud 4800 gives the bytes themselves.
std::string sampledAt4800(const std::string& bytes, int fromBaud);

struct LoggedByte {
  std::uint8_t byte;
  std::int64_t micros;  // monotonic time of arrival, microseconds
};

class Simulator {
 public:
  Simulator();
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Opens the pseudo-terminal and starts serving it on a thread.
  void start();
  // Stops serving and closes the pseudo-terminal (the program's end sees a hang-up).
  void stop();
  // True from start() until stop(), or until the hang-up fault has closed the line.
  bool running() const;

  // The pseudo-terminal's device path (the end the program opens).
  std::string devicePath() const;
  // Makes (or replaces) a symbolic link at linkPath to the device.
  void makeLink(const std::string& linkPath) const;

  // The unit's state. Slot 0 is the channel, 30 the Tx pulse integral.
  std::array<std::int32_t, kRowSlots> slotValues() const;
  void setSlotValue(int slot, std::int32_t value);
  // The 38-byte record for the current values.
  std::string record() const;

  void setFaults(const Faults& f);
  Faults faults() const;

  std::vector<LoggedByte> log() const;
  void clearLog();
  // Waits until the log holds at least count bytes, or timeoutMs passes. A byte is
  // in the log only once the unit has acted on it (slot set, answer queued), so a
  // true result means those bytes are fully processed.
  bool waitForLogSize(std::size_t count, int timeoutMs) const;
  // How many "!" close bytes arrived.
  int closeCount() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The unit's own defaults: the built-in defaults of the slot table, channel 0,
// Tx pulse integral 210, Tolvek String 0.
std::array<std::int32_t, kRowSlots> defaultUnitValues();

}  // namespace ku::sim
