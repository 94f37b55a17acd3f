// The QSerialPort-based port on a real pseudo-terminal made by the test: the
// program opens the terminal's slave end (through a comN link), the test plays
// the unit on the master end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "link/qt_serial_port.h"
#include "model/errors.h"
#include "qt_app.h"

namespace ku {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const auto* const kQtApp = ::testing::AddGlobalTestEnvironment(new test::QtAppEnvironment);

// A pseudo-terminal whose master end the test holds; nobody holds the slave yet.
class Pty {
 public:
  Pty() {
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master_, &slave, name, nullptr, nullptr) != 0)
      throw std::runtime_error("openpty failed");
    ::close(slave);
    slavePath_ = name;
  }
  ~Pty() { closeMaster(); }
  const std::string& slavePath() const { return slavePath_; }
  int master() const { return master_; }
  void closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  void write(const std::string& bytes) const {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Reads from the master end until n bytes arrived or the generous timeout passed.
  std::string read(std::size_t n, int timeoutMs = 3000) const {
    std::string got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < n && Clock::now() < deadline) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 50) > 0 && (p.revents & POLLIN)) {
        char buf[4096];
        const ssize_t r = ::read(master_, buf, sizeof buf);
        if (r > 0) got.append(buf, static_cast<std::size_t>(r));
      }
    }
    return got;
  }

 private:
  int master_ = -1;
  std::string slavePath_;
};

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "ku-port-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string link(int n, const std::string& target) const {
    const std::string l = path_ + "/com" + std::to_string(n);
    fs::create_symlink(target, l);
    return l;
  }

 private:
  std::string path_;
};

int codeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const KuError& e) {
    return e.code();
  }
  return 0;
}

// Opens port n the way the load step does.
void setUpAndOpen(QtSerialPort& port, int n) {
  port.setCommPort(static_cast<std::int16_t>(n));
  port.setHandshaking(0);
  port.setInputLen(0);
  port.setRThreshold(0);
  port.setRTSEnable(true);
  port.setSettings("4800,n,8,1");
  port.setSThreshold(0);
  port.setPortOpen(true);
}

// Everything the port receives within a generous time, read by polling input().
std::string inputUntil(QtSerialPort& port, std::size_t n) {
  std::string got;
  const auto deadline = Clock::now() + std::chrono::seconds(3);
  while (got.size() < n && Clock::now() < deadline) {
    got += port.input();
    if (got.size() < n) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return got;
}

TEST(QtSerialPort, PortNumberMapsToALinkOrTtyS) {
  TempDir dir;
  Pty pty;
  QtSerialPort port(dir.path());
  EXPECT_EQ(port.devicePathFor(1), "/dev/ttyS0");
  EXPECT_EQ(port.devicePathFor(3), "/dev/ttyS2");
  const std::string l3 = dir.link(3, pty.slavePath());
  const std::string l4 = dir.link(4, dir.path() + "/gone");  // dangling: still this port's
  EXPECT_EQ(port.devicePathFor(3), l3);
  EXPECT_EQ(port.devicePathFor(4), l4);
  EXPECT_EQ(port.devicePathFor(5), "/dev/ttyS4");

  EXPECT_EQ(port.devicePath(), "/dev/ttyS0");  // the initial number is 1
  port.setCommPort(3);
  EXPECT_EQ(port.devicePath(), l3);
  for (int bad : {0, -1, -32768}) {
    EXPECT_EQ(codeOf([&] { port.setCommPort(static_cast<std::int16_t>(bad)); }),
              kInvalidPortNumber);
    EXPECT_EQ(port.devicePath(), l3);  // keeps the earlier number
  }
}

TEST(QtSerialPort, MissingDevicesAre8002) {
  TempDir dir;
  dir.link(4, dir.path() + "/gone");
  QtSerialPort port(dir.path());
  for (int n : {4, 32000}) {
    SCOPED_TRACE(n);
    port.setCommPort(static_cast<std::int16_t>(n));
    EXPECT_EQ(codeOf([&] { port.setPortOpen(true); }), kInvalidPortNumber);
    EXPECT_FALSE(port.portOpen());
  }
}

TEST(QtSerialPort, BytesTravelBothWays) {
  TempDir dir;
  Pty pty;
  dir.link(2, pty.slavePath());
  QtSerialPort port(dir.path());
  setUpAndOpen(port, 2);
  ASSERT_TRUE(port.portOpen());

  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  for (char c : all) port.output(std::string(1, c));  // one byte per write, each flushed
  EXPECT_EQ(pty.read(all.size()), all);

  EXPECT_EQ(port.input(), "");  // nothing received yet
  pty.write(all + all);
  EXPECT_EQ(inputUntil(port, 512), all + all);
  EXPECT_EQ(port.input(), "");  // removed once read

  port.setPortOpen(false);
  EXPECT_FALSE(port.portOpen());
  EXPECT_NO_THROW(port.setPortOpen(false));  // closing a closed port is harmless
  EXPECT_EQ(codeOf([&] { port.output("!"); }), kPortNotOpen);
  EXPECT_EQ(codeOf([&] { port.input(); }), kPortNotOpen);
}

TEST(QtSerialPort, WrittenByteHasLeftWhenOutputReturns) {
  TempDir dir;
  Pty pty;
  dir.link(1, pty.slavePath());
  QtSerialPort port(dir.path());
  setUpAndOpen(port, 1);
  port.output("!");
  port.setPortOpen(false);  // closing right after must not lose the byte
  EXPECT_EQ(pty.read(1), "!");
}

TEST(QtSerialPort, SettingsTextIsChecked) {
  QtSerialPort port("/nonexistent");
  for (const char* good : {"4800,n,8,1", "9600,e,7,2", "1200,O,5,1.5", "19200,m,6,1", "300,s,8,2",
                           " 4800 , n , 8 , 1 "}) {
    EXPECT_EQ(codeOf([&] { port.setSettings(good); }), 0) << good;
  }
  for (const char* bad :
       {"", "4800", "4800,n,8", "4800,x,8,1", "4800,n,9,1", "4800,n,8,3", "0,n,8,1", "-4800,n,8,1",
        "48a0,n,8,1", "4800,n,8,1,1", "99999999999,n,8,1"}) {
    EXPECT_NE(codeOf([&] { port.setSettings(bad); }), 0) << bad;
  }
  EXPECT_NE(codeOf([&] { port.setHandshaking(4); }), 0);
  EXPECT_NE(codeOf([&] { port.setInputLen(-1); }), 0);
}

TEST(QtSerialPort, HeldByAnotherPortIs8005) {
  TempDir dir;
  Pty pty;
  dir.link(1, pty.slavePath());
  QtSerialPort first(dir.path());
  setUpAndOpen(first, 1);
  ASSERT_TRUE(first.portOpen());

  QtSerialPort second(dir.path());
  try {
    setUpAndOpen(second, 1);
    FAIL() << "second open succeeded";
  } catch (const KuError& e) {
    EXPECT_EQ(e.code(), kPortAlreadyOpen);
    EXPECT_NE(std::string(e.what()).find(dir.path() + "/com1"), std::string::npos) << e.what();
    std::cout << "held by another port: " << e.what() << "\n";
  }
  EXPECT_FALSE(second.portOpen());
  EXPECT_EQ(codeOf([&] { first.setPortOpen(true); }), kPortAlreadyOpen);  // already open

  first.setPortOpen(false);
  EXPECT_EQ(codeOf([&] { second.setPortOpen(true); }), 0);  // free again
}

TEST(QtSerialPort, HeldByAnotherProcessIs8005) {
  TempDir dir;
  Pty pty;
  dir.link(1, pty.slavePath());
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char c = 'n';
    {
      QtSerialPort holder(dir.path());
      try {
        setUpAndOpen(holder, 1);
        c = 'y';
      } catch (...) {
      }
      (void)!::write(ready[1], &c, 1);
      (void)!::read(release[0], &c, 1);
    }
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');

  QtSerialPort port(dir.path());
  port.setCommPort(1);
  int code = 0;
  std::string text;
  try {
    port.setPortOpen(true);
  } catch (const KuError& e) {
    code = e.code();
    text = e.what();
  }
  EXPECT_EQ(code, kPortAlreadyOpen);
  EXPECT_NE(text.find("com1"), std::string::npos) << text;
  std::cout << "held by another process: " << text << "\n";

  (void)!::write(release[1], &c, 1);
  int status = 0;
  ::waitpid(child, &status, 0);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
  EXPECT_EQ(codeOf([&] { port.setPortOpen(true); }), 0);
}

TEST(QtSerialPort, OtherEndGoingAwayFailsWithoutHanging) {
  TempDir dir;
  Pty pty;
  dir.link(1, pty.slavePath());
  QtSerialPort port(dir.path());
  setUpAndOpen(port, 1);
  pty.closeMaster();
  const auto start = Clock::now();
  EXPECT_EQ(codeOf([&] { port.input(); }), kDeviceIo);
  EXPECT_NE(codeOf([&] { port.output("x"); }), 0);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
  EXPECT_NO_THROW(port.setPortOpen(false));
}

TEST(QtSerialPort, OneInputIsBoundedUnderAFlood) {
  TempDir dir;
  Pty pty;
  dir.link(1, pty.slavePath());
  QtSerialPort port(dir.path());
  setUpAndOpen(port, 1);
  ::fcntl(pty.master(), F_SETFL, ::fcntl(pty.master(), F_GETFL) | O_NONBLOCK);
  std::atomic<bool> stop{false};
  std::thread flood([&] {
    const std::string chunk(4096, 'N');
    while (!stop) {
      if (::write(pty.master(), chunk.data(), chunk.size()) < 0)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  std::size_t most = 0;
  for (int i = 0; i < 20; ++i) {
    most = std::max(most, port.input().size());
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  stop = true;
  flood.join();
  EXPECT_LE(most, std::size_t{1} << 20);
  EXPECT_GT(most, 0u);
}

}  // namespace
}  // namespace ku
