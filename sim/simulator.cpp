#include "simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "link/protocol.h"
#include "model/slot_table.h"

namespace ku::sim {
namespace {

// A value byte must follow its command (or the byte before it) within this time.
constexpr std::int64_t kValueTimeoutMicros = 30000;
// How long the serving thread waits in poll(): bounds how long stop() takes.
constexpr int kPollMillis = 10;
// Back-off when the line reports a hang-up or an error, so the thread never spins.
constexpr int kBackOffMillis = 5;
// Noise bytes sent in answer to " " and "q" when that fault is on.
constexpr int kRequestNoiseBytes = 6;
// Flood noise is generated in pieces of this size as the line drains.
constexpr std::size_t kFloodChunk = 4096;

std::int64_t nowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void sleepMillis(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The slot a command byte addresses, or -1 when the byte is no command.
int slotOfCommand(std::uint8_t b) {
  for (int s = 0; s < kSlotCount; ++s) {
    if (slotInfo(s).commandByte == b) return s;
  }
  return -1;
}

std::runtime_error systemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

// The record for the given values, laid out by the slot table, with the
// high-byte fault applied.
std::string buildRecord(const std::array<std::int32_t, kRowSlots>& v, int highBytePair) {
  std::string r(kRecordLength, '\0');
  for (int s = 0; s < kRowSlots; ++s) {
    const SlotInfo& row = slotInfo(s);
    const std::int32_t value = v[static_cast<std::size_t>(s)];
    int high = (value >> 8) & 0xFF;
    if (s == highBytePair) high |= 0x80;
    const char low = static_cast<char>(value & 0xFF);
    const std::size_t at = static_cast<std::size_t>(row.recordPosition - 1);
    switch (row.record) {
      case ValueForm::Byte:
        r[at] = low;
        break;
      case ValueForm::HighFirst:
        r[at] = static_cast<char>(high);
        r[at + 1] = low;
        break;
      case ValueForm::LowFirst:
        r[at] = low;
        r[at + 1] = static_cast<char>(high);
        break;
      case ValueForm::None:
        break;
    }
  }
  return r;
}

// The sentences the talker repeats, the time and depth changing: a GPS fix, a
// course over ground and a sounder's depth.
std::string talkerSentence(long n) {
  char body[96];
  const long second = n / 3;
  const int hh = static_cast<int>((second / 3600) % 24), mm = static_cast<int>((second / 60) % 60),
            ss = static_cast<int>(second % 60);
  switch (n % 3) {
    case 0:
      std::snprintf(body, sizeof body,
                    "GPGGA,%02d%02d%02d,6325.%03ld,N,01024.%03ld,E,1,08,0.9,12.4,M,39.1,M,,", hh,
                    mm, ss, 100 + second % 800, 200 + second % 700);
      break;
    case 1:
      std::snprintf(body, sizeof body,
                    "GPRMC,%02d%02d%02d,A,6325.%03ld,N,01024.%03ld,E,005.2,087.4,081226,,,A", hh,
                    mm, ss, 100 + second % 800, 200 + second % 700);
      break;
    default:
      std::snprintf(body, sizeof body, "SDDPT,%ld.%ld,0.5,", 20 + second % 60, second % 10);
      break;
  }
  return nmeaSentence(body);
}

}  // namespace

std::string sampledAt4800(const std::string& bytes, int fromBaud) {
  if (fromBaud <= 0 || bytes.empty()) return {};
  // Time in units of 1 / (2 x 4800 x fromBaud) s: a sent bit lasts 2 x 4800
  // units, a received one 2 x fromBaud, half of it fromBaud.
  const std::int64_t sentBit = 2 * 4800, heardBit = 2 * static_cast<std::int64_t>(fromBaud);
  std::vector<int> bits;  // start bit, 8 data bits from the lowest, stop bit
  for (char c : bytes) {
    bits.push_back(0);
    for (int i = 0; i < 8; ++i) bits.push_back((static_cast<unsigned char>(c) >> i) & 1);
    bits.push_back(1);
  }
  const auto level = [&](std::int64_t t) {
    const std::int64_t k = t / sentBit;
    return k < static_cast<std::int64_t>(bits.size()) ? bits[static_cast<std::size_t>(k)] : 1;
  };
  std::string heard;
  std::int64_t t = 0;
  for (;;) {
    // The next falling edge at or after t: a sent bit 0 after a 1 (or the first).
    std::int64_t k = (t + sentBit - 1) / sentBit;
    while (k < static_cast<std::int64_t>(bits.size()) &&
           !(bits[static_cast<std::size_t>(k)] == 0 &&
             (k == 0 || bits[static_cast<std::size_t>(k - 1)] == 1)))
      ++k;
    if (k >= static_cast<std::int64_t>(bits.size())) break;
    const std::int64_t edge = k * sentBit;
    if (level(edge + heardBit / 2) != 0) {  // a glitch, no start bit
      t = edge + heardBit / 2;
      continue;
    }
    int c = 0;
    for (int i = 0; i < 8; ++i) c |= level(edge + heardBit / 2 + (i + 1) * heardBit) << i;
    heard.push_back(static_cast<char>(c));
    t = edge + heardBit / 2 + 9 * heardBit;  // the middle of the stop bit
  }
  return heard;
}

std::string nmeaSentence(const std::string& body) {
  unsigned sum = 0;
  for (unsigned char c : body) sum ^= c;
  static const char* hex = "0123456789ABCDEF";
  return "$" + body + "*" + hex[(sum >> 4) & 15] + hex[sum & 15] + "\r\n";
}

std::array<std::int32_t, kRowSlots> defaultUnitValues() {
  std::array<std::int32_t, kRowSlots> v{};
  for (int s = 0; s < kValueSlots; ++s) v[static_cast<std::size_t>(s)] = slotInfo(s).builtInDefault;
  v[0] = 0;
  v[30] = 210;
  v[31] = 0;
  return v;
}

struct Simulator::Impl {
  mutable std::mutex m;
  mutable std::condition_variable logGrew;

  // State, under m.
  std::array<std::int32_t, kRowSlots> values = defaultUnitValues();
  Faults faults;
  std::vector<LoggedByte> log;
  int closes = 0;
  long receivedForHangUp = 0;
  std::string path;
  int pendingSlot = -1;  // an upload command waiting for its value bytes
  std::size_t valueBytesWanted = 0;
  std::vector<std::uint8_t> valueBytes;
  std::int64_t lastByteMicros = 0;

  // Owned by whoever runs: start()/stop() when the thread is not running, the thread
  // otherwise.
  int master = -1;
  int slaveKeep = -1;  // keeps the line up while the program side has it closed
  std::thread thread;
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> serving{false};

  // Serving thread only.
  std::string out;  // answer bytes not yet written
  long floodLeft = 0;
  std::uint32_t noiseState = 0x2545F491u;
  // The other talker: when it started, how many characters it has put out, and
  // the rest of its current sentence.
  std::int64_t talkStartMicros = -1;
  long talkSent = 0;
  long sentences = 0;
  std::string sentenceLeft;

  // Queues what the talker (NMEA or noise) has due by now at the line's pace.
  void talk() {
    bool nmea = false, noise = false;
    {
      std::lock_guard<std::mutex> lock(m);
      nmea = faults.nmeaTalker;
      noise = faults.noiseFrom >= 0 && receivedForHangUp >= faults.noiseFrom;
    }
    if (!nmea && !noise) {
      talkStartMicros = -1;
      return;
    }
    const std::int64_t now = nowMicros();
    if (talkStartMicros < 0) {
      talkStartMicros = now;
      talkSent = 0;
    }
    const long due = static_cast<long>((now - talkStartMicros) * kLineCharsPerSecond / 1000000);
    // A line that nobody reads takes no more: the talker's characters are lost.
    const bool lineFull = out.size() >= kFloodChunk;
    for (; talkSent < due; ++talkSent) {
      if (lineFull) continue;
      if (noise) {
        out.push_back(static_cast<char>(noiseByte()));
        continue;
      }
      if (sentenceLeft.empty()) sentenceLeft = talkerSentence(sentences++);
      out.push_back(sentenceLeft.front());
      sentenceLeft.erase(0, 1);
    }
  }

  std::uint8_t noiseByte() {
    noiseState ^= noiseState << 13;
    noiseState ^= noiseState >> 17;
    noiseState ^= noiseState << 5;
    return static_cast<std::uint8_t>(noiseState >> 24);
  }
  void queueNoise(long n) {
    for (long i = 0; i < n; ++i) out.push_back(static_cast<char>(noiseByte()));
  }

  void closeLine() {
    if (master >= 0) ::close(master);
    if (slaveKeep >= 0) ::close(slaveKeep);
    master = -1;
    slaveKeep = -1;
  }

  bool hangUpDue() const {
    return faults.hangUpAfter >= 0 && receivedForHangUp >= faults.hangUpAfter;
  }

  // Acts on one received byte. Called with m held.
  void take(std::uint8_t b, std::int64_t t) {
    log.push_back({b, t});
    ++receivedForHangUp;
    if (faults.echo) {
      out.push_back(static_cast<char>(b));
      return;
    }
    if (faults.otherBaud > 0) {
      if (!faults.silent) out += sampledAt4800(buildRecord(values, -1), faults.otherBaud);
      return;
    }

    if (pendingSlot >= 0 && t - lastByteMicros > kValueTimeoutMicros) {
      pendingSlot = -1;  // the value came too late: the command is given up
    }
    lastByteMicros = t;
    if (pendingSlot >= 0) {
      valueBytes.push_back(b);
      if (valueBytes.size() == valueBytesWanted) {
        std::int32_t v =
            valueBytesWanted == 2 ? (valueBytes[0] << 8) | valueBytes[1] : valueBytes[0];
        values[static_cast<std::size_t>(pendingSlot)] = v;
        pendingSlot = -1;
      }
      return;
    }

    int slot = slotOfCommand(b);
    if (slot >= 0) {
      if (slot < kValueSlots) {
        pendingSlot = slot;
        valueBytesWanted = static_cast<std::size_t>(byteCount(slotInfo(slot).upload));
        valueBytes.clear();
      }
      return;  // slots 30..33: the command byte alone, nothing to do
    }

    switch (b) {
      case kFirstRequestByte:
      case kSecondRequestByte:
        if (faults.noiseOnRequest && !faults.silent) queueNoise(kRequestNoiseBytes);
        break;
      case kRecordRequestByte:
        if (faults.silent) break;
        if (faults.floodBytes > 0) {
          floodLeft += faults.floodBytes;
        } else {
          std::string r = buildRecord(values, faults.highBytePair);
          if (faults.shortRecord >= 0 && static_cast<std::size_t>(faults.shortRecord) < r.size()) {
            r.resize(static_cast<std::size_t>(faults.shortRecord));
          }
          out += r;
          queueNoise(faults.noiseAfterRecord);
        }
        break;
      case kCloseByte:
        ++closes;
        break;
      default:
        break;  // not a command of the unit: logged, otherwise ignored
    }
  }

  void hangUp() {
    closeLine();
    out.clear();
    floodLeft = 0;
    serving = false;
  }

  void serve() {
    std::uint8_t buf[256];
    while (!stopRequested) {
      {
        std::lock_guard<std::mutex> lock(m);
        if (hangUpDue()) {
          hangUp();
          return;
        }
      }
      talk();
      if (out.size() < kFloodChunk && floodLeft > 0) {
        long n = std::min<long>(floodLeft, static_cast<long>(kFloodChunk));
        queueNoise(n);
        floodLeft -= n;
      }

      pollfd p{master, static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT)), 0};
      int r = ::poll(&p, 1, kPollMillis);
      if (r < 0) {
        if (errno != EINTR) sleepMillis(kBackOffMillis);
        continue;
      }
      if (r == 0) continue;

      bool idleTrouble = false;
      if (p.revents & POLLIN) {
        std::size_t want = sizeof buf;
        {
          std::lock_guard<std::mutex> lock(m);
          if (faults.hangUpAfter >= 0) {
            // Take no byte beyond the hang-up point.
            long left = faults.hangUpAfter - receivedForHangUp;
            want = std::min(want, static_cast<std::size_t>(std::max(left, 1L)));
          }
        }
        ssize_t n = ::read(master, buf, want);
        if (n > 0) {
          std::int64_t t = nowMicros();
          std::lock_guard<std::mutex> lock(m);
          for (ssize_t i = 0; i < n; ++i) take(buf[i], t);
          logGrew.notify_all();
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
          idleTrouble = true;  // EIO: nobody holds the other end
        }
      } else if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
        idleTrouble = true;
      }

      if (!out.empty() && (p.revents & POLLOUT)) {
        ssize_t n = ::write(master, out.data(), out.size());
        if (n > 0) {
          out.erase(0, static_cast<std::size_t>(n));
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
          out.clear();  // the line will not take it: drop the answer
          floodLeft = 0;
        }
      }
      if (idleTrouble) sleepMillis(kBackOffMillis);
    }
  }
};

Simulator::Simulator() : impl_(std::make_unique<Impl>()) {}

Simulator::~Simulator() {
  stop();
}

void Simulator::start() {
  Impl& d = *impl_;
  if (d.serving) return;
  if (d.thread.joinable()) d.thread.join();  // the line was hung up: serve a new one

  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) throw systemError("posix_openpt");
  char name[128];
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
      ::ptsname_r(master, name, sizeof name) != 0) {
    auto e = systemError("pseudo-terminal set-up");
    ::close(master);
    throw e;
  }
  int slave = ::open(name, O_RDWR | O_NOCTTY);
  if (slave < 0) {
    auto e = systemError(std::string("open ") + name);
    ::close(master);
    throw e;
  }
  termios tio{};
  if (::tcgetattr(slave, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B4800);
    ::cfsetospeed(&tio, B4800);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::tcsetattr(slave, TCSANOW, &tio);
  }
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave, F_SETFD, FD_CLOEXEC);
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

  {
    std::lock_guard<std::mutex> lock(d.m);
    d.path = name;
    d.pendingSlot = -1;
    d.receivedForHangUp = 0;
  }
  d.master = master;
  d.slaveKeep = slave;
  d.out.clear();
  d.floodLeft = 0;
  d.stopRequested = false;
  d.serving = true;
  d.thread = std::thread([&d] { d.serve(); });
}

void Simulator::stop() {
  Impl& d = *impl_;
  if (!d.thread.joinable()) return;
  d.stopRequested = true;
  d.thread.join();
  d.closeLine();
  d.serving = false;
}

bool Simulator::running() const {
  return impl_->serving;
}

std::string Simulator::devicePath() const {
  std::lock_guard<std::mutex> lock(impl_->m);
  return impl_->path;
}

void Simulator::makeLink(const std::string& linkPath) const {
  std::string target = devicePath();
  if (target.empty()) throw std::logic_error("the simulator has no device yet");
  if (linkPath.empty()) throw std::invalid_argument("empty link path");
  // Make the link beside its final place, then move it there in one step.
  std::string tmp = linkPath + ".new" + std::to_string(::getpid());
  ::unlink(tmp.c_str());
  if (::symlink(target.c_str(), tmp.c_str()) != 0) throw systemError("symlink " + tmp);
  if (::rename(tmp.c_str(), linkPath.c_str()) != 0) {
    auto e = systemError("rename to " + linkPath);
    ::unlink(tmp.c_str());
    throw e;
  }
}

std::array<std::int32_t, kRowSlots> Simulator::slotValues() const {
  std::lock_guard<std::mutex> lock(impl_->m);
  return impl_->values;
}

void Simulator::setSlotValue(int slot, std::int32_t value) {
  if (slot < 0 || slot > 31) throw std::out_of_range("slot out of range");
  std::lock_guard<std::mutex> lock(impl_->m);
  impl_->values[static_cast<std::size_t>(slot)] = value;
}

std::string Simulator::record() const {
  std::lock_guard<std::mutex> lock(impl_->m);
  return buildRecord(impl_->values, -1);
}

void Simulator::setFaults(const Faults& f) {
  std::lock_guard<std::mutex> lock(impl_->m);
  impl_->faults = f;
  impl_->receivedForHangUp = 0;
}

Faults Simulator::faults() const {
  std::lock_guard<std::mutex> lock(impl_->m);
  return impl_->faults;
}

std::vector<LoggedByte> Simulator::log() const {
  std::lock_guard<std::mutex> lock(impl_->m);
  return impl_->log;
}

void Simulator::clearLog() {
  std::lock_guard<std::mutex> lock(impl_->m);
  impl_->log.clear();
}

bool Simulator::waitForLogSize(std::size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(impl_->m);
  return impl_->logGrew.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                                 [&] { return impl_->log.size() >= count; });
}

int Simulator::closeCount() const {
  std::lock_guard<std::mutex> lock(impl_->m);
  return impl_->closes;
}

}  // namespace ku::sim
