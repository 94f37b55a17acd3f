#include "link/qt_serial_port.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QByteArray>
#include <QSerialPort>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "model/errors.h"
#include "model/log.h"

namespace ku {

namespace {

// One readAll() keeps at most this much; a unit flooding the line cannot fill memory.
constexpr qint64 kMaxInputBytes = 1 << 20;

QSerialPort::Parity parityOf(LineSettings::Parity p) {
  switch (p) {
    case LineSettings::Parity::Even:
      return QSerialPort::EvenParity;
    case LineSettings::Parity::Odd:
      return QSerialPort::OddParity;
    case LineSettings::Parity::None:
      break;
  }
  return QSerialPort::NoParity;
}

QSerialPort::DataBits dataBitsOf(int bits) {
  switch (bits) {
    case 5:
      return QSerialPort::Data5;
    case 6:
      return QSerialPort::Data6;
    case 7:
      return QSerialPort::Data7;
    default:
      return QSerialPort::Data8;
  }
}

QSerialPort::FlowControl flowOf(LineSettings::FlowControl f) {
  switch (f) {
    case LineSettings::FlowControl::Software:
      return QSerialPort::SoftwareControl;
    case LineSettings::FlowControl::Hardware:
      return QSerialPort::HardwareControl;
    case LineSettings::FlowControl::None:
      break;
  }
  return QSerialPort::NoFlowControl;
}

std::string reasonOf(const QSerialPort& port) {
  return port.errorString().toStdString();
}

// Why a device could not be opened, by the system's own cause: Qt files ENXIO
// and EIO under kinds that also cover a port held elsewhere, so the device is
// tried once more directly and its errno decides.
[[noreturn]] void throwOpenFailure(const std::string& path, QSerialPort::SerialPortError err,
                                   const std::string& reason) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  int cause = fd < 0 ? errno : 0;
  // Qt's own lock file is per name; the device's lock says whether a program
  // holds it through any name.
  if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) cause = EBUSY;
  if (fd >= 0) ::close(fd);
  qCDebug(lcLink, "%s did not open: Qt error %d (%s), system cause %s", path.c_str(),
          static_cast<int>(err), reason.c_str(), cause ? std::strerror(cause) : "none");
  switch (cause) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case EIO:
      // No such device, or no hardware behind the device node.
      throw KuError(kInvalidPortNumber,
                    "Invalid port number: " + path + ": " + std::strerror(cause));
    case EACCES:
    case EPERM:
      throw PortAccessDenied(path, std::strerror(cause));
    case EBUSY:
      throw PortHeld(path);
    default:
      break;
  }
  switch (err) {
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::UnsupportedOperationError:  // not a serial device at all
      throw KuError(kInvalidPortNumber, "Invalid port number: " + path + ": " + reason);
    default:
      // Held by another program (a lock file, an exclusive open): the port
      // exists but cannot be had.
      throw KuError(kPortAlreadyOpen, "Port already open: " + path + ": " + reason);
  }
}

}  // namespace

QtSerialPort::QtSerialPort(std::string folder) : folder_(std::move(folder)) {}

QtSerialPort::~QtSerialPort() {
  if (port_ && port_->isOpen()) port_->close();
}

std::string QtSerialPort::devicePathFor(int n) const {
  const std::string link = folder_ + "/com" + std::to_string(n);
  std::error_code ec;
  // The link itself decides: a link whose target is gone is a missing port, not a
  // reason to fall back to another device.
  if (std::filesystem::exists(std::filesystem::symlink_status(link, ec))) return link;
  return "/dev/ttyS" + std::to_string(n - 1);
}

void QtSerialPort::open(std::int16_t portNumber, const LineSettings& settings) {
  if (portNumber < 1)
    throw KuError(kInvalidPortNumber, "Invalid port number " + std::to_string(portNumber));
  if (isOpen()) throw KuError(kPortAlreadyOpen, "Port already open");
  qCDebug(lcLink, "port %d is %s", portNumber, devicePathFor(portNumber).c_str());
  openDevice(devicePathFor(portNumber), settings);
}

void QtSerialPort::openDevice(const std::string& path, const LineSettings& settings) {
  if (isOpen()) throw KuError(kPortAlreadyOpen, "Port already open");
  device_ = path;
  std::error_code ec;
  const std::filesystem::file_status st = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(st))
    throw KuError(kInvalidPortNumber, "Invalid port number: " + path + " does not exist");
  // A folder is no port at all, never one that another program holds.
  if (std::filesystem::is_directory(st))
    throw KuError(kInvalidPortNumber, "Invalid port number: " + path + " is a folder");

  qCDebug(lcLink, "opening %s", path.c_str());
  // A fresh QSerialPort for every open, made on the thread that opens it: its
  // waits run there, whichever thread used the port before.
  port_ = std::make_unique<QSerialPort>();
  port_->setPortName(QString::fromStdString(path));
  port_->setBaudRate(settings.baudRate);
  port_->setParity(parityOf(settings.parity));
  port_->setDataBits(dataBitsOf(settings.dataBits));
  port_->setStopBits(settings.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
  port_->setFlowControl(flowOf(settings.flowControl));
  port_->clearError();
  if (!port_->open(QIODevice::ReadWrite)) {
    const QSerialPort::SerialPortError err = port_->error();
    const std::string reason = reasonOf(*port_);
    port_->clearError();
    throwOpenFailure(path, err, reason);
  }
  // The device itself is locked, not its name: every path to it (a comN link,
  // /dev/serial/by-id/..., the device node) and every user, root included, meets
  // the same lock, and it goes with the descriptor however the program ends.
  // Opening the port has written nothing, so a port held elsewhere is left
  // without a byte from us.
  if (::flock(static_cast<int>(port_->handle()), LOCK_EX | LOCK_NB) != 0) {
    const int cause = errno;
    qCDebug(lcLink, "%s cannot be locked: %s", path.c_str(), std::strerror(cause));
    port_->close();
    port_->clearError();
    if (cause == EWOULDBLOCK) throw PortHeld(path);
    throw KuError(kPortAlreadyOpen, "Port already open: " + path + ": " + std::strerror(cause));
  }
  if (settings.requestToSend)
    port_->setRequestToSend(true);  // fails harmlessly on a pseudo-terminal
  port_->clearError();
}

void QtSerialPort::close() {
  if (port_ && port_->isOpen()) port_->close();
  port_.reset();
}

bool QtSerialPort::isOpen() const {
  return port_ && port_->isOpen();
}

void QtSerialPort::write(const std::string& bytes) {
  if (!isOpen()) throw KuError(kPortNotOpen, "Operation not valid when the port is closed");
  if (bytes.empty()) return;
  const qint64 n = static_cast<qint64>(bytes.size());
  const qint64 written = port_->write(bytes.data(), n);
  if (written != n) {
    const std::string reason = reasonOf(*port_);
    port_->clearError();
    throw KuError(kDeviceIo, "Device I/O error: " + reason);
  }
  // Qt only buffers the write: push it out now, so the byte has left before the
  // caller's pause starts. At 4800 baud a byte takes about 2 ms; allow plenty.
  const int timeoutMs = 2000 + static_cast<int>(std::min<qint64>(n, 1000000)) * 5;
  while (port_->bytesToWrite() > 0) {
    if (!port_->waitForBytesWritten(timeoutMs)) {
      const std::string reason = reasonOf(*port_);
      port_->clearError();
      throw KuError(kDeviceIo, "Device I/O error: " + reason);
    }
  }
}

std::string QtSerialPort::readAll() {
  if (!isOpen()) throw KuError(kPortNotOpen, "Operation not valid when the port is closed");
  QByteArray buf;
  bool overflow = false;
  while (port_->waitForReadyRead(0)) {
    const QByteArray chunk = port_->readAll();
    buf += chunk;
    if (port_->error() == QSerialPort::ReadError || port_->error() == QSerialPort::ResourceError)
      break;
    if (chunk.isEmpty()) break;  // "ready" with nothing to read: a hung-up line
    if (buf.size() >= kMaxInputBytes) {
      overflow = true;
      break;
    }
  }
  if (!overflow) buf += port_->readAll();
  const QSerialPort::SerialPortError err = port_->error();
  if (err == QSerialPort::ReadError || err == QSerialPort::ResourceError) {
    const std::string reason = reasonOf(*port_);
    port_->clearError();
    throw KuError(kDeviceIo, "Device I/O error: " + reason);
  }
  port_->clearError();
  if (overflow || buf.size() > kMaxInputBytes) {
    // Keep the first part and drop what else is pending at this moment.
    qCDebug(lcLink, "input over %lld bytes: the rest pending is dropped",
            static_cast<long long>(kMaxInputBytes));
    buf.truncate(kMaxInputBytes);
    port_->clear(QSerialPort::Input);
    port_->readAll();
    port_->clearError();
  }
  return std::string(buf.constData(), static_cast<std::size_t>(buf.size()));
}

namespace {

long baudOf(speed_t speed) {
  static const std::pair<speed_t, long> kSpeeds[] = {
      {B0, 0},         {B300, 300},     {B600, 600},       {B1200, 1200},
      {B2400, 2400},   {B4800, 4800},   {B9600, 9600},     {B19200, 19200},
      {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
  for (const auto& [code, baud] : kSpeeds)
    if (code == speed) return baud;
  return -1;
}

}  // namespace

std::optional<LineInUse> QtSerialPort::lineInUse() const {
  if (!isOpen()) return std::nullopt;
  const int fd = static_cast<int>(port_->handle());
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return std::nullopt;
  LineInUse in;
  LineSettings& s = in.settings;
  s.baudRate = static_cast<std::int32_t>(baudOf(::cfgetospeed(&t)));
  const tcflag_t size = t.c_cflag & CSIZE;
  s.dataBits = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
  s.parity = !(t.c_cflag & PARENB)  ? LineSettings::Parity::None
             : (t.c_cflag & PARODD) ? LineSettings::Parity::Odd
                                    : LineSettings::Parity::Even;
  s.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
  s.flowControl = (t.c_cflag & CRTSCTS)          ? LineSettings::FlowControl::Hardware
                  : (t.c_iflag & (IXON | IXOFF)) ? LineSettings::FlowControl::Software
                                                 : LineSettings::FlowControl::None;
  int lines = 0;
  in.rtsKnown = ::ioctl(fd, TIOCMGET, &lines) == 0;
  s.requestToSend = in.rtsKnown && (lines & TIOCM_RTS) != 0;
  return in;
}

std::string tryOpeningPort(const std::string& device) {
  QtSerialPort port{std::string()};
  try {
    port.openDevice(device, kUnitLine);
  } catch (const KuError& e) {
    return e.what();
  }
  port.close();
  return {};
}

}  // namespace ku
