// The QSerialPort-based port on a real pseudo-terminal made by the test: the
// program opens the terminal's slave end (through a comN link), the test plays
// the unit on the master end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "link/qt_serial_port.h"
#include "model/errors.h"
#include "qt_app.h"
#include "scratch_dir.h"

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

using TempDir = test::ScratchDir;

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
  port.open(static_cast<std::int16_t>(n), kUnitLine);
}

// Everything the port receives within a generous time, read by polling readAll().
std::string inputUntil(QtSerialPort& port, std::size_t n) {
  std::string got;
  const auto deadline = Clock::now() + std::chrono::seconds(3);
  while (got.size() < n && Clock::now() < deadline) {
    got += port.readAll();
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

  EXPECT_EQ(port.devicePath(), "");  // nothing tried yet
  for (int bad : {0, -1, -32768}) {
    EXPECT_EQ(codeOf([&] { port.open(static_cast<std::int16_t>(bad), kUnitLine); }),
              kInvalidPortNumber);
    EXPECT_FALSE(port.isOpen());
  }
  setUpAndOpen(port, 3);
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(port.devicePath(), l3);
}

TEST(QtSerialPort, MissingDevicesAre8002) {
  TempDir dir;
  dir.link(4, dir.path() + "/gone");
  QtSerialPort port(dir.path());
  for (int n : {4, 32000}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(codeOf([&] { setUpAndOpen(port, n); }), kInvalidPortNumber);
    EXPECT_FALSE(port.isOpen());
  }
  EXPECT_EQ(codeOf([&] { port.openDevice(dir.path() + "/nothing", kUnitLine); }),
            kInvalidPortNumber);
  EXPECT_EQ(port.devicePath(), dir.path() + "/nothing");
}

// The terminal's settings as the system holds them, read from a second descriptor.
termios settingsOf(const std::string& device) {
  termios t{};
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  EXPECT_GE(fd, 0) << device;
  if (fd >= 0) {
    EXPECT_EQ(::tcgetattr(fd, &t), 0);
    ::close(fd);
  }
  return t;
}

// A serial device node with no port behind it: ttyS1 (character device 4, 65),
// made in dir as name. Empty with the reason when it cannot be made here.
std::string noHardwareNode(const std::string& dir, const std::string& name) {
  const std::string node = dir + "/" + name;
  if (::mknod(node.c_str(), S_IFCHR | 0600, ::makedev(4, 65)) != 0) return std::string();
  const int fd = ::open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd >= 0) {  // this machine has a second serial port
    ::close(fd);
    ::unlink(node.c_str());
    return std::string();
  }
  return node;
}

TEST(QtSerialPort, ADeviceWithNoHardwareBehindItIs8002) {
  TempDir dir;
  const std::string node = noHardwareNode(dir.path(), "com2");
  if (node.empty())
    GTEST_SKIP() << "cannot make a ttyS1 node with no port behind it here (needs root, "
                    "and ttyS1 must have no hardware): "
                 << std::strerror(errno);
  QtSerialPort port(dir.path());
  try {
    setUpAndOpen(port, 2);
    FAIL() << "the open succeeded";
  } catch (const KuError& e) {
    EXPECT_EQ(e.code(), kInvalidPortNumber) << e.what();
    EXPECT_NE(std::string(e.what()).find(node), std::string::npos) << e.what();
    std::cout << "no hardware: " << e.what() << "\n";
  }
  EXPECT_FALSE(port.isOpen());
}

TEST(QtSerialPort, NoRightsToTheDeviceIs8005NamingTheDevice) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to open as another user";
  Pty pty;
  ::chmod(pty.slavePath().c_str(), 0600);  // root's alone
  int result[2];
  ASSERT_EQ(::pipe(result), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // As nobody: the device exists but is not ours to open.
    std::string answer = "setuid";
    if (::setgid(65534) == 0 && ::setuid(65534) == 0) {
      QtSerialPort port("/nonexistent");
      try {
        port.openDevice(pty.slavePath(), kUnitLine);
        answer = "opened";
      } catch (const PortAccessDenied& e) {
        answer = "denied " + std::to_string(e.code()) + " " + e.device();
      } catch (const KuError& e) {
        answer = "other " + std::to_string(e.code()) + " " + e.what();
      }
    }
    (void)!::write(result[1], answer.data(), answer.size());
    ::_exit(0);
  }
  ::close(result[1]);
  char buf[512] = {};
  const ssize_t n = ::read(result[0], buf, sizeof buf - 1);
  ::close(result[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  const std::string answer(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
  if (answer == "setuid") GTEST_SKIP() << "cannot become another user here";
  EXPECT_EQ(answer, "denied 8005 " + pty.slavePath());
}

TEST(QtSerialPort, TheLineSettingsReachTheTerminal) {
  struct Case {
    const char* name;
    LineSettings settings;
    speed_t speed;
    tcflag_t size;
    bool parity, twoStops, hardwareFlow;
  };
  const Case cases[] = {
      {"the unit's line: 4800 8N1, no flow control", kUnitLine, B4800, CS8, false, false, false},
      // A pseudo-terminal always keeps 8 data bits without parity (the kernel
      // resets them), so only speed, stop bits and flow control can show here
      // that the settings are applied rather than left as they were.
      {"another line, to show the settings are applied",
       {9600, 7, LineSettings::Parity::Even, 2, LineSettings::FlowControl::Hardware, false},
       B9600,
       CS8,
       false,
       true,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    Pty pty;
    QtSerialPort port(dir.path());
    port.openDevice(pty.slavePath(), c.settings);
    ASSERT_TRUE(port.isOpen());
    const termios t = settingsOf(pty.slavePath());
    EXPECT_EQ(::cfgetospeed(&t), c.speed);
    EXPECT_EQ(::cfgetispeed(&t), c.speed);
    EXPECT_EQ(t.c_cflag & CSIZE, c.size);
    EXPECT_EQ((t.c_cflag & PARENB) != 0, c.parity);
    EXPECT_FALSE(t.c_cflag & PARODD);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStops);
    EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.hardwareFlow);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));
  }
}

TEST(QtSerialPort, BytesTravelBothWays) {
  TempDir dir;
  Pty pty;
  dir.link(2, pty.slavePath());
  QtSerialPort port(dir.path());
  setUpAndOpen(port, 2);
  ASSERT_TRUE(port.isOpen());

  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  for (char c : all) port.write(std::string(1, c));  // one byte per write, each flushed
  EXPECT_EQ(pty.read(all.size()), all);

  EXPECT_EQ(port.readAll(), "");  // nothing received yet
  pty.write(all + all);
  EXPECT_EQ(inputUntil(port, 512), all + all);
  EXPECT_EQ(port.readAll(), "");  // removed once read

  port.close();
  EXPECT_FALSE(port.isOpen());
  EXPECT_NO_THROW(port.close());  // closing a closed port is harmless
  EXPECT_EQ(codeOf([&] { port.write("!"); }), kPortNotOpen);
  EXPECT_EQ(codeOf([&] { port.readAll(); }), kPortNotOpen);
}

TEST(QtSerialPort, WrittenByteHasLeftWhenWriteReturns) {
  TempDir dir;
  Pty pty;
  dir.link(1, pty.slavePath());
  QtSerialPort port(dir.path());
  setUpAndOpen(port, 1);
  port.write("!");
  port.close();  // closing right after must not lose the byte
  EXPECT_EQ(pty.read(1), "!");
}

TEST(QtSerialPort, HeldByAnotherPortIs8005) {
  TempDir dir;
  Pty pty;
  dir.link(1, pty.slavePath());
  QtSerialPort first(dir.path());
  setUpAndOpen(first, 1);
  ASSERT_TRUE(first.isOpen());

  QtSerialPort second(dir.path());
  try {
    setUpAndOpen(second, 1);
    FAIL() << "second open succeeded";
  } catch (const KuError& e) {
    EXPECT_EQ(e.code(), kPortAlreadyOpen);
    EXPECT_NE(std::string(e.what()).find(dir.path() + "/com1"), std::string::npos) << e.what();
    std::cout << "held by another port: " << e.what() << "\n";
  }
  EXPECT_FALSE(second.isOpen());
  EXPECT_EQ(codeOf([&] { setUpAndOpen(first, 1); }), kPortAlreadyOpen);  // already open
  // The device under its own name is the same port, root or not, and the
  // refused open puts nothing on the line.
  try {
    second.openDevice(pty.slavePath(), kUnitLine);
    FAIL() << "the device opened a second time under its own name";
  } catch (const PortHeld& e) {
    EXPECT_EQ(std::string(e.what()),
              "Port already open: " + pty.slavePath() + " is held by another program");
  }
  EXPECT_EQ(pty.read(1, 200), "");

  first.close();
  EXPECT_EQ(codeOf([&] { setUpAndOpen(second, 1); }), 0);  // free again
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
  int code = 0;
  std::string text;
  try {
    setUpAndOpen(port, 1);
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
  EXPECT_EQ(codeOf([&] { setUpAndOpen(port, 1); }), 0);
}

TEST(QtSerialPort, OtherEndGoingAwayFailsWithoutHanging) {
  TempDir dir;
  Pty pty;
  dir.link(1, pty.slavePath());
  QtSerialPort port(dir.path());
  setUpAndOpen(port, 1);
  pty.closeMaster();
  const auto start = Clock::now();
  EXPECT_EQ(codeOf([&] { port.readAll(); }), kDeviceIo);
  EXPECT_NE(codeOf([&] { port.write("x"); }), 0);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
  EXPECT_NO_THROW(port.close());
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
    most = std::max(most, port.readAll().size());
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  stop = true;
  flood.join();
  EXPECT_LE(most, std::size_t{1} << 20);
  EXPECT_GT(most, 0u);
}

}  // namespace
}  // namespace ku
