// The simulated unit, driven from the program's end of its pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "model/slot_table.h"
#include "simulator.h"

namespace {

using ku::sim::Faults;
using ku::sim::Simulator;
using Clock = std::chrono::steady_clock;

void sleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

int at(const std::string& s, std::size_t pos1) {  // 1-based, as the record's positions
  return static_cast<unsigned char>(s.at(pos1 - 1));
}

// The program's end of the line: opened and set raw as the utility does it.
class ProgramEnd {
 public:
  explicit ProgramEnd(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd_ < 0) return;
    termios tio{};
    ::tcgetattr(fd_, &tio);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B4800);
    ::cfsetospeed(&tio, B4800);
    ::tcsetattr(fd_, TCSANOW, &tio);
  }
  ~ProgramEnd() { close(); }
  ProgramEnd(const ProgramEnd&) = delete;
  ProgramEnd& operator=(const ProgramEnd&) = delete;

  bool ok() const { return fd_ >= 0; }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  void send(const std::string& s) {
    ASSERT_EQ(::write(fd_, s.data(), s.size()), static_cast<ssize_t>(s.size()));
  }
  // Reads until count bytes arrived or timeoutMs passed; returns what arrived.
  std::string readUpTo(std::size_t count, int timeoutMs) {
    std::string got;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[4096];
    while (got.size() < count) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      if (!(p.revents & POLLIN)) break;
      ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - got.size()));
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }
  // Everything that arrives within quietMs (nothing more is expected).
  std::string readQuiet(int quietMs) { return readUpTo(1 << 20, quietMs); }
  // Whether the line has gone away (hang-up or read error) within timeoutMs.
  bool lineGone(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    if (p.revents & (POLLHUP | POLLERR)) return true;
    char c;
    return ::read(fd_, &c, 1) <= 0;
  }

 private:
  int fd_ = -1;
};

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim.start();
    line = std::make_unique<ProgramEnd>(sim.devicePath());
    ASSERT_TRUE(line->ok()) << sim.devicePath();
  }
  void TearDown() override {
    line.reset();
    sim.stop();
  }
  // Sends and waits until the unit has acted on every byte.
  void sendAndWait(const std::string& s) {
    std::size_t before = sim.log().size();
    line->send(s);
    ASSERT_TRUE(sim.waitForLogSize(before + s.size(), 10000));
  }
  std::string askRecord() {
    line->send("x");
    return line->readUpTo(ku::kRecordLength, 10000);
  }

  Simulator sim;
  std::unique_ptr<ProgramEnd> line;
};

TEST(SimDefaults, UnitValuesAreTheSlotTableDefaultsWithChannelZeroAndPulseIntegral210) {
  auto v = ku::sim::defaultUnitValues();
  EXPECT_EQ(v[0], 0);
  EXPECT_EQ(v[3], 2);
  EXPECT_EQ(v[4], 799);
  EXPECT_EQ(v[5], 614);
  EXPECT_EQ(v[8], 205);
  EXPECT_EQ(v[27], 267);
  EXPECT_EQ(v[29], 0);
  EXPECT_EQ(v[30], 210);
  EXPECT_EQ(v[31], 0);
}

TEST(SimDefaults, RecordLayoutPutsPairsHighFirstExceptThePulseIntegral) {
  Simulator sim;  // not started: record() needs no line
  sim.setSlotValue(0, 3);
  sim.setSlotValue(5, 0x1234);
  sim.setSlotValue(28, 0x0A0B);
  sim.setSlotValue(30, 0x1234);
  sim.setSlotValue(31, 0x5A);
  std::string r = sim.record();
  ASSERT_EQ(r.size(), 38u);
  EXPECT_EQ(at(r, 1), 3);
  EXPECT_EQ(at(r, 4), 2);      // slot 3
  EXPECT_EQ(at(r, 5), 0x03);   // slot 4 = 799, high
  EXPECT_EQ(at(r, 6), 0x1F);   // low
  EXPECT_EQ(at(r, 7), 0x12);   // slot 5 high
  EXPECT_EQ(at(r, 8), 0x34);   // slot 5 low
  EXPECT_EQ(at(r, 9), 10);     // slot 6
  EXPECT_EQ(at(r, 29), 100);   // slot 26
  EXPECT_EQ(at(r, 30), 0x01);  // slot 27 = 267, high
  EXPECT_EQ(at(r, 31), 0x0B);  // low
  EXPECT_EQ(at(r, 32), 0x0A);  // slot 28 high
  EXPECT_EQ(at(r, 33), 0x0B);  // slot 28 low
  EXPECT_EQ(at(r, 36), 0x34);  // slot 30: low byte first
  EXPECT_EQ(at(r, 37), 0x12);  // then high
  EXPECT_EQ(at(r, 38), 0x5A);  // slot 31
  EXPECT_THROW(sim.setSlotValue(32, 1), std::out_of_range);
  EXPECT_THROW(sim.setSlotValue(-1, 1), std::out_of_range);
}

TEST_F(SimTest, AnswersXWithTheRecordOfItsDefaults) {
  std::string r = askRecord();
  ASSERT_EQ(r.size(), 38u);
  EXPECT_EQ(r, sim.record());
  EXPECT_EQ(at(r, 1), 0);
  EXPECT_EQ(at(r, 5), 0x03);
  EXPECT_EQ(at(r, 6), 0x1F);
  EXPECT_EQ(at(r, 36), 210);
  EXPECT_EQ(at(r, 37), 0);
  EXPECT_EQ(line->readQuiet(100), "");  // nothing after the record
}

TEST_F(SimTest, BlankAndQAreTakenWithoutAnswerAndUnknownBytesAreIgnored) {
  sendAndWait(" q");
  sendAndWait(bytes({0x00, 0xFF, 'Z', 0x7F}));
  EXPECT_EQ(line->readQuiet(100), "");
  EXPECT_EQ(sim.slotValues(), ku::sim::defaultUnitValues());
  EXPECT_EQ(askRecord(), sim.record());
}

TEST_F(SimTest, UploadsSetSlotsAndChangeTheRecord) {
  // 16-bit slot 4 high first, 8-bit slot 7, channel, 16-bit slot 29.
  sendAndWait(bytes({0x41, 0x12, 0x34, 0x44, 0x07, 0x72, 0x02, 0x29, 0x7D, 0x00}));
  auto v = sim.slotValues();
  EXPECT_EQ(v[4], 0x1234);
  EXPECT_EQ(v[7], 7);
  EXPECT_EQ(v[0], 2);
  EXPECT_EQ(v[29], 32000);
  std::string r = askRecord();
  ASSERT_EQ(r.size(), 38u);
  EXPECT_EQ(at(r, 1), 2);
  EXPECT_EQ(at(r, 5), 0x12);
  EXPECT_EQ(at(r, 6), 0x34);
  EXPECT_EQ(at(r, 10), 7);
  EXPECT_EQ(at(r, 34), 0x7D);
  EXPECT_EQ(at(r, 35), 0x00);
}

TEST_F(SimTest, AValueByteIsAValueEvenWhenItLooksLikeARequest) {
  sendAndWait(bytes({0x44, 'x', 0x45, '!'}));
  EXPECT_EQ(sim.slotValues()[7], 'x');
  EXPECT_EQ(sim.slotValues()[8], '!');
  EXPECT_EQ(sim.closeCount(), 0);
  EXPECT_EQ(line->readQuiet(100), "");
}

TEST_F(SimTest, AWholeUploadPassIsAppliedAndCommandOnlySlotsTakeNoValue) {
  // The default pass with channel 1 and a few slots changed, all 69 bytes at once.
  auto want = ku::sim::defaultUnitValues();
  want[0] = 1;
  want[4] = 1000;
  want[12] = 200;
  want[28] = 300;
  std::string pass;
  for (int s = 0; s < ku::kSlotCount; ++s) {
    pass.push_back(static_cast<char>(ku::slotInfo(s).commandByte));
    if (s >= ku::kValueSlots) continue;
    int v = want[static_cast<std::size_t>(s)];
    if (ku::isWideSlot(s)) pass.push_back(static_cast<char>(v >> 8));
    pass.push_back(static_cast<char>(v & 0xFF));
  }
  ASSERT_EQ(pass.size(), static_cast<std::size_t>(ku::kUploadLength));
  sendAndWait(pass + "x");  // an "x" right after slot 33's command byte is a request
  EXPECT_EQ(sim.slotValues(), want);
  std::string r = line->readUpTo(38, 2000);
  EXPECT_EQ(r, sim.record());
}

TEST_F(SimTest, ALateValueByteIsGivenUpAndTakenAfreshAsACommand) {
  sendAndWait(bytes({0x44}));  // TVG clock, then the value comes too late
  sleepMs(100);
  sendAndWait(bytes({0x05}));
  EXPECT_EQ(sim.slotValues()[7], 14);

  sendAndWait(bytes({0x41, 0x01}));  // the low byte of a pair comes too late
  sleepMs(100);
  sendAndWait(bytes({0x02}));
  EXPECT_EQ(sim.slotValues()[4], 799);

  sendAndWait(bytes({0x45}));  // a late "x" is a request again
  sleepMs(100);
  line->send("x");
  EXPECT_EQ(line->readUpTo(38, 2000), sim.record());
  EXPECT_EQ(sim.slotValues()[8], 205);

  sendAndWait(bytes({0x46}));  // a late command byte starts its own upload
  sleepMs(100);
  sendAndWait(bytes({0x47, 0x09}));
  EXPECT_EQ(sim.slotValues()[9], 18);
  EXPECT_EQ(sim.slotValues()[10], 9);
}

TEST_F(SimTest, ABytePacedLikeTheUploadIsStillInTime) {
  // Judged by the unit's own arrival times: a busy machine may keep its thread
  // from reading a byte for more than 30 ms, and then giving the command up is
  // right. The pair is sent again (three times at most) until both bytes came
  // within 30 ms as the unit logged them; then the value must be taken.
  for (int attempt = 0; attempt < 3; ++attempt) {
    sim.clearLog();
    sendAndWait(bytes({0x42}));
    sleepMs(5);
    sendAndWait(bytes({0x01}));
    sleepMs(5);
    sendAndWait(bytes({0x02}));
    const auto log = sim.log();
    ASSERT_EQ(log.size(), 3u);
    if (log[1].micros - log[0].micros <= 30000 && log[2].micros - log[1].micros <= 30000) {
      EXPECT_EQ(sim.slotValues()[5], 0x0102);
      return;
    }
  }
  GTEST_SKIP() << "the unit's thread read a byte more than 30 ms late three times running";
}

TEST_F(SimTest, CountsCloseBytes) {
  sendAndWait("!x!");
  EXPECT_EQ(sim.closeCount(), 2);
  EXPECT_EQ(line->readUpTo(38, 2000).size(), 38u);
}

TEST_F(SimTest, LogHoldsEveryByteInOrderWithNonDecreasingTimes) {
  std::string sent = bytes({' ', 'q', 0x41, 0x03, 0x1F, 0xEE, '!'});
  for (char c : sent) {
    sendAndWait(std::string(1, c));
    sleepMs(2);
  }
  auto log = sim.log();
  ASSERT_EQ(log.size(), sent.size());
  for (std::size_t i = 0; i < log.size(); ++i) {
    EXPECT_EQ(log[i].byte, static_cast<unsigned char>(sent[i])) << i;
    if (i > 0) {
      EXPECT_GE(log[i].micros, log[i - 1].micros) << i;
    }
  }
  // Paced bytes get distinct times: the whole run spans at least the pauses.
  EXPECT_GE(log.back().micros - log.front().micros, 6 * 2000);
  sim.clearLog();
  EXPECT_TRUE(sim.log().empty());
  sendAndWait("q");
  EXPECT_EQ(sim.log().size(), 1u);
  EXPECT_FALSE(sim.waitForLogSize(2, 50));
}

TEST_F(SimTest, TheLineCanBeClosedAndOpenedAgain) {
  sendAndWait(bytes({0x48, 0x21}));
  line->close();
  sleepMs(50);  // nobody holds the program's end now
  EXPECT_TRUE(sim.running());
  for (int round = 0; round < 2; ++round) {
    ProgramEnd again(sim.devicePath());
    ASSERT_TRUE(again.ok());
    again.send("x");
    std::string r = again.readUpTo(38, 2000);
    ASSERT_EQ(r.size(), 38u);
    EXPECT_EQ(at(r, 14), 0x21);  // the upload made before the close
  }
}

TEST_F(SimTest, StopIsPromptAndTheProgramSeesTheLineGo) {
  auto t0 = Clock::now();
  sim.stop();
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(1));
  EXPECT_FALSE(sim.running());
  EXPECT_TRUE(line->lineGone(1000));
  sim.stop();  // twice is harmless
}

TEST_F(SimTest, MakeLinkMakesAndReplacesASymbolicLink) {
  std::string link = ::testing::TempDir() + "ku_sim_link_" + std::to_string(::getpid());
  { std::ofstream(link) << "in the way"; }
  sim.makeLink(link);
  char buf[256] = {};
  ASSERT_GT(::readlink(link.c_str(), buf, sizeof buf - 1), 0);
  EXPECT_EQ(std::string(buf), sim.devicePath());
  sim.makeLink(link);  // again over its own link
  ProgramEnd viaLink(link);
  ASSERT_TRUE(viaLink.ok());
  viaLink.send("x");
  EXPECT_EQ(viaLink.readUpTo(38, 2000).size(), 38u);
  ::unlink(link.c_str());
  EXPECT_THROW(sim.makeLink(""), std::invalid_argument);
}

// --- Fault modes -------------------------------------------------------------------------

TEST_F(SimTest, SilentUnitAnswersNothingButStillTakesUploads) {
  Faults f;
  f.silent = true;
  f.noiseOnRequest = true;
  f.noiseAfterRecord = 5;
  sim.setFaults(f);
  EXPECT_TRUE(sim.faults().silent);
  sendAndWait(bytes({' ', 'q', 'x', 0x44, 0x09}));
  EXPECT_EQ(line->readQuiet(150), "");
  EXPECT_EQ(sim.slotValues()[7], 9);
}

TEST_F(SimTest, ShortRecordSendsOnlyTheFirstCharacters) {
  Faults f;
  f.shortRecord = 37;
  sim.setFaults(f);
  line->send("x");
  EXPECT_EQ(line->readUpTo(37, 10000), sim.record().substr(0, 37));
  EXPECT_EQ(line->readQuiet(150), "");  // and nothing after them
  f.shortRecord = 0;
  sim.setFaults(f);
  line->send("x");
  EXPECT_EQ(line->readQuiet(150), "");
}

TEST_F(SimTest, HighBytePairSetsBit7OfThatSlotsHighByteOnly) {
  Faults f;
  f.highBytePair = 4;
  sim.setFaults(f);
  std::string r = askRecord();
  std::string clean = sim.record();
  ASSERT_EQ(r.size(), 38u);
  EXPECT_EQ(at(r, 5), 0x83);
  for (std::size_t p = 1; p <= 38; ++p) {
    if (p != 5) {
      EXPECT_EQ(at(r, p), at(clean, p)) << p;
    }
  }
  f.highBytePair = 30;  // the low-first pair: its high byte is position 37
  sim.setFaults(f);
  r = askRecord();
  ASSERT_EQ(r.size(), 38u);
  EXPECT_EQ(at(r, 36), 210);
  EXPECT_EQ(at(r, 37), 0x80);
  EXPECT_EQ(sim.slotValues()[30], 210);  // the unit's value itself is untouched
}

TEST_F(SimTest, NoiseOnRequestAnswersBlankAndQ) {
  Faults f;
  f.noiseOnRequest = true;
  sim.setFaults(f);
  // Wait as long as need be for the first noise byte, then take the rest.
  line->send(" ");
  EXPECT_EQ(line->readUpTo(1, 10000).size(), 1u);
  line->readQuiet(150);
  line->send("q");
  EXPECT_EQ(line->readUpTo(1, 10000).size(), 1u);
  line->readQuiet(150);
  EXPECT_EQ(askRecord(), sim.record());  // the record itself stays clean
  EXPECT_EQ(line->readQuiet(100), "");
}

TEST_F(SimTest, NoiseAfterRecordFollowsTheFullRecord) {
  Faults f;
  f.noiseAfterRecord = 12;
  sim.setFaults(f);
  line->send("x");
  std::string r = line->readUpTo(50, 2000);
  ASSERT_EQ(r.size(), 50u);
  EXPECT_EQ(r.substr(0, 38), sim.record());
  EXPECT_EQ(line->readQuiet(100), "");
}

TEST(SimOtherBaud, AReceiverAt4800SamplesTheLineInTheMiddleOfItsBits) {
  using ku::sim::sampledAt4800;
  EXPECT_EQ(sampledAt4800(std::string("AB\0", 3), 4800), std::string("AB\0", 3));
  // 0x00 at 2400: low for nine of its bits; one character, its stop bit low too.
  EXPECT_EQ(sampledAt4800(std::string(1, '\0'), 2400), std::string(1, '\0'));
  // 0xFF at 2400: the start bit lasts two of the receiver's bits, the first
  // taken for data bit 0.
  EXPECT_EQ(sampledAt4800("\xFF", 2400), "\xFE");
  // 0x0F at 9600 (start 0, data 1111 0000, stop 1, each half a receiver's bit):
  // the start bit is over before the receiver's look at its middle, so that
  // edge is no start; the one before the four low bits starts a character of
  // a low bit 0 and the idle line after it.
  EXPECT_EQ(sampledAt4800("\x0F", 9600), "\xFE");
}

TEST_F(SimTest, EchoSendsEveryByteBackAndNothingElse) {
  Faults f;
  f.echo = true;
  sim.setFaults(f);
  line->send(" qx\x41\x05");
  EXPECT_EQ(line->readUpTo(5, 10000), " qx\x41\x05");
  EXPECT_EQ(line->readQuiet(100), "");
  EXPECT_EQ(sim.slotValues()[4], 799);  // "A" and its value went nowhere
}

TEST_F(SimTest, OtherBaudAnswersEveryByteWithItsRecordAsGarbage) {
  Faults f;
  f.otherBaud = 9600;
  sim.setFaults(f);
  const std::string garbage = ku::sim::sampledAt4800(sim.record(), 9600);
  ASSERT_FALSE(garbage.empty());
  EXPECT_NE(garbage.size(), 38u);
  for (const char* request : {" ", "q", "x"}) {
    line->send(request);
    EXPECT_EQ(line->readUpTo(garbage.size(), 10000), garbage) << request;
  }
  sendAndWait("\x41\x00\x05");  // an upload is not understood either
  EXPECT_EQ(sim.slotValues()[4], 799);
}

TEST(SimNmea, SentencesCarryTheirChecksum) {
  // The textbook GPS fix, whose checksum is 47.
  EXPECT_EQ(ku::sim::nmeaSentence("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"),
            "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n");
  EXPECT_EQ(ku::sim::nmeaSentence("SDDPT,0.0,0.5,"), "$SDDPT,0.0,0.5,*7E\r\n");
}

TEST_F(SimTest, NmeaTalkerSendsSentencesAtTheLinesPaceAlongsideTheUnit) {
  Faults f;
  f.nmeaTalker = true;
  sim.setFaults(f);
  const auto t0 = Clock::now();
  const std::string heard = line->readUpTo(1 << 20, 1000);
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  // 480 characters a second; generous bounds for a busy machine.
  EXPECT_GT(heard.size(), 200u);
  EXPECT_LT(static_cast<double>(heard.size()), 480 * seconds + 100);
  for (const char* address : {"\r\n$GPGGA,", "\r\n$GPRMC,", "\r\n$SDDPT,"})
    EXPECT_NE(heard.find(address), std::string::npos) << address;
  // The unit still answers: its record arrives among the sentences.
  line->send("x");
  const std::string more = line->readUpTo(1 << 20, 600);
  EXPECT_NE(more.find(sim.record()), std::string::npos);

  f.silent = true;  // a GPS instead of the unit
  sim.setFaults(f);
  line->readQuiet(50);
  line->send("x");
  const std::string alone = line->readUpTo(1 << 20, 600);
  EXPECT_EQ(alone.find(sim.record()), std::string::npos);
  EXPECT_NE(alone.find("\r\n$"), std::string::npos);
}

TEST_F(SimTest, NoiseFromStartsAfterNReceivedBytesAndGoesOn) {
  Faults f;
  f.noiseFrom = 3;
  sim.setFaults(f);
  sendAndWait("  ");
  EXPECT_EQ(line->readQuiet(200), "");
  sendAndWait("q");
  const std::string first = line->readUpTo(1 << 20, 500);
  EXPECT_GT(first.size(), 50u);
  EXPECT_GT(line->readUpTo(1 << 20, 500).size(), 50u);  // and on
}

TEST_F(SimTest, HangUpClosesTheLineAfterNBytesAndKeepsTheLog) {
  sendAndWait("q");  // counted from setFaults, not from start
  Faults f;
  f.hangUpAfter = 3;
  sim.setFaults(f);
  line->send(bytes({0x44, 0x08, '!', 'x', 'x'}));
  EXPECT_TRUE(line->lineGone(2000));
  auto log = sim.log();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[3].byte, '!');
  EXPECT_EQ(sim.slotValues()[7], 8);
  EXPECT_EQ(sim.closeCount(), 1);
  auto t0 = Clock::now();
  while (sim.running() && Clock::now() - t0 < std::chrono::seconds(2)) sleepMs(5);
  EXPECT_FALSE(sim.running());
}

TEST_F(SimTest, HangUpAtZeroBytesAndARestartServesANewLine) {
  Faults f;
  f.hangUpAfter = 0;
  sim.setFaults(f);
  EXPECT_TRUE(line->lineGone(2000));
  sim.setFaults(Faults{});
  sim.start();
  ASSERT_TRUE(sim.running());
  ProgramEnd fresh(sim.devicePath());
  ASSERT_TRUE(fresh.ok());
  fresh.send("x");
  EXPECT_EQ(fresh.readUpTo(38, 2000), sim.record());
}

TEST_F(SimTest, FloodSendsExactlyThatManyBytesInsteadOfTheRecord) {
  Faults f;
  f.floodBytes = 200000;
  sim.setFaults(f);
  line->send("x");
  std::string r = line->readUpTo(200000, 8000);
  EXPECT_EQ(r.size(), 200000u);
  EXPECT_NE(r.substr(0, 38), sim.record());
  EXPECT_EQ(line->readQuiet(100), "");
}

TEST_F(SimTest, FloodNobodyReadsStillLetsTheUnitListenAndStop) {
  Faults f;
  f.floodBytes = 50L * 1000 * 1000;
  sim.setFaults(f);
  line->send("x");
  sleepMs(100);  // the line's buffers are full by now
  sendAndWait(bytes({0x44, 0x33}));
  EXPECT_EQ(sim.slotValues()[7], 0x33);
  auto t0 = Clock::now();
  sim.stop();
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(1));
}

// --- The ku-sim program ------------------------------------------------------------------

struct Child {
  pid_t pid = -1;
  int out = -1;  // its standard output
};

Child spawn(const std::vector<std::string>& args) {
  int p[2];
  if (::pipe(p) != 0) return {};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(p[1], 1);
    int devnull = ::open("/dev/null", O_WRONLY);
    if (devnull >= 0) ::dup2(devnull, 2);
    ::close(p[0]);
    ::close(p[1]);
    std::vector<char*> argv;
    std::string bin = KU_BIN_DIR "/ku-sim";
    argv.push_back(bin.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(bin.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(p[1]);
  return {pid, p[0]};
}

std::string readLineFrom(int fd, int timeoutMs) {
  std::string s;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char c;
    if (::read(fd, &c, 1) != 1) break;
    if (c == '\n') return s;
    s.push_back(c);
  }
  return s;
}

int waitExit(pid_t pid, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  while (Clock::now() < deadline) {
    if (::waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    sleepMs(10);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return -2;
}

TEST(SimProgram, ServesTheLineAndWritesItsLogOnSigterm) {
  std::string dir = ::testing::TempDir();
  std::string logFile = dir + "ku_sim_log_" + std::to_string(::getpid()) + ".txt";
  std::string link = dir + "ku_sim_com_" + std::to_string(::getpid());
  Child c = spawn({"--channel", "3", "--pulse-integral", "4660", "--link", link, "--log", logFile});
  ASSERT_GT(c.pid, 0);
  std::string device = readLineFrom(c.out, 5000);
  ASSERT_FALSE(device.empty());
  EXPECT_EQ(readLineFrom(c.out, 2000), link);
  {
    ProgramEnd line(link);
    ASSERT_TRUE(line.ok()) << device;
    line.send("x");
    std::string r = line.readUpTo(38, 2000);
    ASSERT_EQ(r.size(), 38u);
    EXPECT_EQ(at(r, 1), 3);
    EXPECT_EQ(at(r, 36), 0x34);
    EXPECT_EQ(at(r, 37), 0x12);
    line.send(bytes({0x0B, '!'}));
    sleepMs(100);
  }
  ::kill(c.pid, SIGTERM);
  EXPECT_EQ(waitExit(c.pid, 5000), 0);
  ::close(c.out);

  std::ifstream f(logFile);
  std::vector<std::string> lines;
  for (std::string l; std::getline(f, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "0\t78\tx");
  EXPECT_EQ(lines[1].substr(lines[1].find('\t')), "\t0B\t.");
  EXPECT_EQ(lines[2].substr(lines[2].find('\t')), "\t21\t!");
  EXPECT_GE(std::stol(lines[2]), std::stol(lines[1]));
  struct stat st;
  EXPECT_NE(::lstat(link.c_str(), &st), 0);  // the link is gone
  ::unlink(logFile.c_str());
}

TEST(SimProgram, HelpAndBadOptions) {
  Child help = spawn({"--help"});
  ASSERT_GT(help.pid, 0);
  std::string first = readLineFrom(help.out, 5000);
  EXPECT_NE(first.find("ku-sim"), std::string::npos);
  EXPECT_EQ(waitExit(help.pid, 5000), 0);
  ::close(help.out);

  for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{{"--bogus"},
                                                                            {"--channel"},
                                                                            {"--channel", "x1"},
                                                                            {"--high-byte", "6"},
                                                                            {"--short", "-1"},
                                                                            {"--noise-from", "-1"},
                                                                            {"--nmea", "1"}}) {
    Child c = spawn(bad);
    ASSERT_GT(c.pid, 0);
    EXPECT_EQ(waitExit(c.pid, 5000), 2) << bad[0];
    ::close(c.out);
  }
}

}  // namespace
