#include "link/comms_ini.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "model/errors.h"

namespace ku {

namespace {

// One item keeps at most this many characters; the rest is read and dropped, so a
// huge file without separators costs time but no memory.
constexpr std::size_t kMaxItemLength = 4096;

bool isBlank(int c) {
  return c == ' ' || c == '\t';
}
bool isLineEnd(int c) {
  return c == '\r' || c == '\n';
}

// Whether text (blanks around it allowed) is a plain decimal number: an optional
// sign, digits with an optional point, an optional exponent. Sets value.
bool readsAsNumber(const std::string& text, double& value) {
  std::size_t b = 0;
  std::size_t e = text.size();
  while (b < e && isBlank(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && isBlank(static_cast<unsigned char>(text[e - 1]))) --e;
  if (b == e) return false;
  std::size_t i = b;
  if (text[i] == '+' || text[i] == '-') ++i;
  std::size_t digits = 0;
  while (i < e && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (i < e && text[i] == '.') {
    ++i;
    while (i < e && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < e && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < e && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t expDigits = 0;
    while (i < e && text[i] >= '0' && text[i] <= '9') ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  if (i != e) return false;
  // The grammar above is a subset of what strtod reads in the "C" locale's terms;
  // the point is always '.', whatever the desktop's settings.
  const std::string plain = text.substr(b, e - b);
  value = std::strtod(plain.c_str(), nullptr);
  return true;
}

// Reads the file character by character through its stream buffer.
class ItemReader {
 public:
  explicit ItemReader(std::FILE* f) : f_(f) {}

  // Reads one item and its separator. Returns false (nothing read) when the file
  // has no more characters before the item starts.
  bool read(PortNumberValue& out) {
    int c = peek();
    while (isBlank(c)) {
      take();
      c = peek();
    }
    if (c == EOF) return false;

    if (c == '"') {
      take();
      std::string text;
      for (;;) {
        c = take();
        if (c == EOF || c == '"') break;
        append(text, c);
      }
      // Whatever follows the closing quote up to the separator is not part of it.
      if (c == '"') skipToSeparator(false);
      out = std::move(text);
      return true;
    }

    std::string text;
    bool truncated = false;
    for (;;) {
      c = peek();
      if (c == EOF || c == ',' || isLineEnd(c)) break;
      take();
      if (text.size() < kMaxItemLength)
        text.push_back(static_cast<char>(c));
      else
        truncated = true;
    }
    skipToSeparator(true);
    std::size_t e = text.size();
    while (e > 0 && isBlank(static_cast<unsigned char>(text[e - 1]))) --e;
    text.resize(e);
    double number = 0;
    if (text.empty()) {
      out = std::monostate{};  // a delimiting comma or an empty line: nothing
    } else if (!truncated && readsAsNumber(text, number)) {
      out = number;
    } else {
      out = std::move(text);
    }
    return true;
  }

  // Whether only blanks and line ends remain before the end of the file. When
  // anything else follows, nothing is consumed: the next item reads as before.
  bool onlyBlanksRemain() {
    if (havePeek_) {
      if (peeked_ == EOF) return true;
      if (!isBlank(peeked_) && !isLineEnd(peeked_)) return false;
    }
    const long resume = std::ftell(f_);
    if (resume < 0) return false;
    int c = std::fgetc(f_);
    while (c != EOF && (isBlank(c) || isLineEnd(c))) c = std::fgetc(f_);
    if (c == EOF) {
      if (std::ferror(f_)) return false;  // the next read reports the failure
      peeked_ = EOF;
      havePeek_ = true;
      return true;
    }
    if (std::fseek(f_, resume, SEEK_SET) != 0) throw KuError(kDeviceIo, "Device I/O error");
    return false;
  }

  bool failed() const { return std::ferror(f_) != 0; }

 private:
  int peek() {
    if (!havePeek_) {
      peeked_ = std::fgetc(f_);
      havePeek_ = true;
    }
    return peeked_;
  }
  int take() {
    const int c = peek();
    havePeek_ = false;
    return c;
  }
  static void append(std::string& text, int c) {
    if (text.size() < kMaxItemLength) text.push_back(static_cast<char>(c));
  }
  // Consumes up to and including the next separator: a comma, CR, LF or CRLF.
  // atSeparator: the reader already stands on it (nothing to drop before it).
  void skipToSeparator(bool atSeparator) {
    int c = peek();
    if (!atSeparator) {
      while (c != EOF && c != ',' && !isLineEnd(c)) {
        take();
        c = peek();
      }
    }
    if (c == ',' || c == '\n') {
      take();
    } else if (c == '\r') {
      take();
      if (peek() == '\n') take();
    }
  }

  std::FILE* f_;
  int peeked_ = EOF;
  bool havePeek_ = false;
};

struct FileCloser {
  std::FILE* f;
  ~FileCloser() {
    if (f) std::fclose(f);
  }
};

}  // namespace

void readCommsIni(const std::string& path, PortNumberValue& portNumber,
                  PortNumberValue& firstItem) {
  std::error_code ec;
  const std::filesystem::file_status st = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(st)) throw KuError(kFileNotFound, "File not found: " + path);
  // A folder, a pipe or a device in its place is no settings file; a pipe or a
  // device could also block the open or never end.
  if (!std::filesystem::is_regular_file(st)) throw KuError(75, "Path/File access error: " + path);

  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    const int err = errno;
    if (err == ENOENT) throw KuError(kFileNotFound, "File not found: " + path);
    throw KuError(err == EACCES ? 70 : 75, path + ": " + std::strerror(err));
  }
  FileCloser closer{f};
  ItemReader reader(f);

  do {
    PortNumberValue first;
    if (!reader.read(first)) {
      if (reader.failed()) throw KuError(kDeviceIo, "Device I/O error: " + path);
      throw KuError(kInputPastEnd, "Input past end of file");
    }
    firstItem = std::move(first);
    PortNumberValue second;
    if (!reader.read(second)) {
      if (reader.failed()) throw KuError(kDeviceIo, "Device I/O error: " + path);
      throw KuError(kInputPastEnd, "Input past end of file");
    }
    portNumber = std::move(second);
    // Blank lines and blanks after a complete pair end the file: an editor's
    // final empty line is no item.
  } while (!reader.onlyBlanksRemain());
  if (reader.failed()) throw KuError(kDeviceIo, "Device I/O error: " + path);
}

std::int16_t portNumberToInt16(const PortNumberValue& v) {
  double number = 0;
  if (std::holds_alternative<std::monostate>(v)) return 0;
  if (const double* d = std::get_if<double>(&v)) {
    number = *d;
  } else if (!readsAsNumber(std::get<std::string>(v), number)) {
    throw KuError(kTypeMismatch, "Type mismatch: port number is not a number");
  }
  if (!std::isfinite(number)) throw KuError(kOverflow, "Overflow: port number out of range");
  const double rounded = std::nearbyint(number);  // ties go to the even neighbour
  if (rounded < -32768.0 || rounded > 32767.0)
    throw KuError(kOverflow, "Overflow: port number out of range");
  return static_cast<std::int16_t>(rounded);
}

}  // namespace ku
