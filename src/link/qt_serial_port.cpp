#include "link/qt_serial_port.h"

#include <QByteArray>
#include <QSerialPort>
#include <QString>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "model/errors.h"

namespace ku {

namespace {

constexpr int kInvalidPropertyValue = 380;
// One input() keeps at most this much; a unit flooding the line cannot fill memory.
constexpr qint64 kMaxInputBytes = 1 << 20;

struct LineSettings {
  qint32 baud = 9600;
  QSerialPort::Parity parity = QSerialPort::NoParity;
  QSerialPort::DataBits dataBits = QSerialPort::Data8;
  QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

std::string trimmed(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  std::size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// "4800,n,8,1": baud, parity (n, e, o, m, s), data bits (5..8), stop bits (1, 1.5, 2).
bool parseSettings(const std::string& text, LineSettings& out) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    parts.push_back(trimmed(text.substr(start, comma - start)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (parts.size() != 4) return false;

  const std::string& baud = parts[0];
  if (baud.empty() || baud.size() > 9 || baud.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const long b = std::strtol(baud.c_str(), nullptr, 10);
  if (b <= 0) return false;
  out.baud = static_cast<qint32>(b);

  if (parts[1].size() != 1) return false;
  switch (parts[1][0]) {
    case 'n':
    case 'N':
      out.parity = QSerialPort::NoParity;
      break;
    case 'e':
    case 'E':
      out.parity = QSerialPort::EvenParity;
      break;
    case 'o':
    case 'O':
      out.parity = QSerialPort::OddParity;
      break;
    case 'm':
    case 'M':
      out.parity = QSerialPort::MarkParity;
      break;
    case 's':
    case 'S':
      out.parity = QSerialPort::SpaceParity;
      break;
    default:
      return false;
  }

  if (parts[2] == "5")
    out.dataBits = QSerialPort::Data5;
  else if (parts[2] == "6")
    out.dataBits = QSerialPort::Data6;
  else if (parts[2] == "7")
    out.dataBits = QSerialPort::Data7;
  else if (parts[2] == "8")
    out.dataBits = QSerialPort::Data8;
  else
    return false;

  if (parts[3] == "1")
    out.stopBits = QSerialPort::OneStop;
  else if (parts[3] == "1.5")
    out.stopBits = QSerialPort::OneAndHalfStop;
  else if (parts[3] == "2")
    out.stopBits = QSerialPort::TwoStop;
  else
    return false;
  return true;
}

// 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both (Qt has no combined mode: RTS/CTS).
QSerialPort::FlowControl flowOf(std::int32_t mode) {
  switch (mode) {
    case 1:
      return QSerialPort::SoftwareControl;
    case 2:
    case 3:
      return QSerialPort::HardwareControl;
    default:
      return QSerialPort::NoFlowControl;
  }
}

std::string reasonOf(const QSerialPort& port) {
  return port.errorString().toStdString();
}

}  // namespace

QtSerialPort::QtSerialPort(std::string programDir)
    : programDir_(std::move(programDir)), port_(std::make_unique<QSerialPort>()) {}

QtSerialPort::~QtSerialPort() {
  if (port_ && port_->isOpen()) port_->close();
}

std::string QtSerialPort::devicePathFor(int n) const {
  const std::string link = programDir_ + "/com" + std::to_string(n);
  std::error_code ec;
  // The link itself decides: a link whose target is gone is a missing port, not a
  // reason to fall back to another device.
  if (std::filesystem::exists(std::filesystem::symlink_status(link, ec))) return link;
  return "/dev/ttyS" + std::to_string(n - 1);
}

std::string QtSerialPort::devicePath() const {
  return devicePathFor(commPort_);
}

void QtSerialPort::setCommPort(std::int16_t number) {
  if (number < 1)
    throw KuError(kInvalidPortNumber, "Invalid port number " + std::to_string(number));
  if (port_->isOpen() && number != commPort_) throw KuError(kPortAlreadyOpen, "Port already open");
  commPort_ = number;
}

void QtSerialPort::setHandshaking(std::int32_t mode) {
  if (mode < 0 || mode > 3)
    throw KuError(kInvalidPropertyValue,
                  "Invalid property value: handshaking " + std::to_string(mode));
  handshaking_ = mode;
  port_->setFlowControl(flowOf(mode));
  port_->clearError();
}

void QtSerialPort::setInputLen(std::int16_t len) {
  if (len < 0) throw KuError(kInvalidPropertyValue, "Invalid property value: input length");
  inputLen_ = len;
}

void QtSerialPort::setRThreshold(std::int16_t n) {
  // The port is polled: no notification is ever raised, whatever the threshold.
  if (n < 0) throw KuError(kInvalidPropertyValue, "Invalid property value: receive threshold");
}

void QtSerialPort::setSThreshold(std::int16_t n) {
  if (n < 0) throw KuError(kInvalidPropertyValue, "Invalid property value: send threshold");
}

void QtSerialPort::setRTSEnable(bool on) {
  rts_ = on;
  if (port_->isOpen()) {
    // A pseudo-terminal has no modem lines; that is no reason to fail.
    port_->setRequestToSend(on);
    port_->clearError();
  }
}

void QtSerialPort::setSettings(const std::string& settings) {
  LineSettings parsed;
  if (!parseSettings(settings, parsed))
    throw KuError(kInvalidPropertyValue, "Invalid property value: settings \"" + settings + "\"");
  settings_ = settings;
  // Before open these are kept and applied by open(); while open they apply now.
  port_->setBaudRate(parsed.baud);
  port_->setParity(parsed.parity);
  port_->setDataBits(parsed.dataBits);
  port_->setStopBits(parsed.stopBits);
  port_->clearError();
}

bool QtSerialPort::portOpen() const {
  return port_->isOpen();
}

void QtSerialPort::setPortOpen(bool open) {
  if (!open) {
    if (port_->isOpen()) port_->close();
    pending_.clear();
    port_->clearError();
    return;
  }
  if (port_->isOpen()) throw KuError(kPortAlreadyOpen, "Port already open");

  const std::string path = devicePath();
  std::error_code ec;
  if (!std::filesystem::exists(path, ec))
    throw KuError(kInvalidPortNumber, "Invalid port number: " + path + " does not exist");

  LineSettings st;
  parseSettings(settings_, st);  // settings_ only ever holds accepted text
  port_->setPortName(QString::fromStdString(path));
  port_->setBaudRate(st.baud);
  port_->setParity(st.parity);
  port_->setDataBits(st.dataBits);
  port_->setStopBits(st.stopBits);
  port_->setFlowControl(flowOf(handshaking_));
  port_->clearError();
  if (!port_->open(QIODevice::ReadWrite)) {
    const QSerialPort::SerialPortError err = port_->error();
    const std::string reason = reasonOf(*port_);
    port_->clearError();
    switch (err) {
      case QSerialPort::DeviceNotFoundError:
      case QSerialPort::UnsupportedOperationError:  // not a serial device at all
        throw KuError(kInvalidPortNumber, "Invalid port number: " + path + ": " + reason);
      default:
        // Held by another program (lock file, exclusive open, busy), or no rights
        // to the device: the port exists but cannot be had.
        throw KuError(kPortAlreadyOpen, "Port already open: " + path + ": " + reason);
    }
  }
  if (rts_) port_->setRequestToSend(true);  // fails harmlessly on a pseudo-terminal
  port_->clearError();
}

void QtSerialPort::output(const std::string& bytes) {
  if (!port_->isOpen()) throw KuError(kPortNotOpen, "Operation not valid when the port is closed");
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

std::string QtSerialPort::input() {
  if (!port_->isOpen()) throw KuError(kPortNotOpen, "Operation not valid when the port is closed");
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
    buf.truncate(kMaxInputBytes);
    port_->clear(QSerialPort::Input);
    port_->readAll();
    port_->clearError();
  }
  std::string out = std::move(pending_);
  pending_.clear();
  out.append(buf.constData(), static_cast<std::size_t>(buf.size()));
  if (out.size() > static_cast<std::size_t>(kMaxInputBytes)) out.resize(kMaxInputBytes);
  if (inputLen_ > 0 && out.size() > static_cast<std::size_t>(inputLen_)) {
    pending_ = out.substr(static_cast<std::size_t>(inputLen_));
    out.resize(static_cast<std::size_t>(inputLen_));
  }
  return out;
}

}  // namespace ku
