#include "reference/mdb_file_header.h"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <fstream>
#include <utility>

#include "model/errors.h"

namespace ku::mdb {
namespace {

constexpr std::size_t kHeaderLength = 0x98;  // the part of page 0 that holds the password

// RC4 key stream applied to a buffer (encoding and decoding are the same).
void rc4(const std::array<unsigned char, 4>& key, unsigned char* data, std::size_t length) {
  std::array<unsigned char, 256> s{};
  for (std::size_t i = 0; i < 256; ++i) s[i] = static_cast<unsigned char>(i);
  std::size_t j = 0;
  for (std::size_t i = 0; i < 256; ++i) {
    j = (j + s[i] + key[i % key.size()]) & 0xff;
    std::swap(s[i], s[j]);
  }
  std::size_t x = 0;
  std::size_t y = 0;
  for (std::size_t n = 0; n < length; ++n) {
    x = (x + 1) & 0xff;
    y = (y + s[x]) & 0xff;
    std::swap(s[x], s[y]);
    data[n] ^= s[(s[x] + s[y]) & 0xff];
  }
}

}  // namespace

[[noreturn]] void unrecognised(const std::string& path) {
  throw KuError(kDbUnrecognised, "Unrecognized database format '" + path + "'.");
}

// Checks that the file is a Jet database of whole pages and reads its password.
Header readHeader(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      throw KuError(kDbFileNotFound, "Could not find file: not found: " + path);
    }
    throw KuError(kDbCannotOpen, "Could not open file '" + path + "': " + std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) unrecognised(path);

  std::ifstream in(path, std::ios::binary);
  if (!in) throw KuError(kDbCannotOpen, "Could not open file '" + path + "'.");
  std::array<unsigned char, kHeaderLength> h{};
  in.read(reinterpret_cast<char*>(h.data()), static_cast<std::streamsize>(h.size()));
  if (in.gcount() != static_cast<std::streamsize>(h.size())) unrecognised(path);

  static const unsigned char kMagic[] = {0x00, 0x01, 0x00, 0x00};
  if (std::memcmp(h.data(), kMagic, sizeof kMagic) != 0) unrecognised(path);
  const char* name = reinterpret_cast<const char*>(h.data() + 4);
  if (std::memcmp(name, "Standard Jet DB", 16) != 0 &&
      std::memcmp(name, "Standard ACE DB", 16) != 0) {
    unrecognised(path);
  }
  const unsigned version = h[0x14];
  if (version > 5) unrecognised(path);

  Header header;
  header.jet3 = version == 0;
  const std::uint64_t pageSize = header.jet3 ? 2048 : 4096;
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size < 2 * pageSize || size % pageSize != 0) unrecognised(path);

  // The header from 0x18 on is masked with a fixed RC4 key stream.
  rc4({0xc7, 0xda, 0x39, 0x6b}, h.data() + 0x18, header.jet3 ? 126 : 128);
  if (header.jet3) {
    for (std::size_t i = 0; i < 20 && h[0x42 + i] != 0; ++i) header.password.push_back(h[0x42 + i]);
    return header;
  }
  // Jet 4: UTF-16LE, each byte also masked with the integer part of the
  // creation date (the double at 0x72).
  double created = 0;
  std::memcpy(&created, h.data() + 0x72, sizeof created);
  std::uint32_t days = 0;
  if (std::isfinite(created) && std::fabs(created) < 9.0e18) {
    days = static_cast<std::uint32_t>(static_cast<std::int64_t>(created));
  }
  const unsigned char mask[4] = {
      static_cast<unsigned char>(days), static_cast<unsigned char>(days >> 8),
      static_cast<unsigned char>(days >> 16), static_cast<unsigned char>(days >> 24)};
  for (std::size_t i = 0; i < 40; i += 2) {
    const unsigned lo = h[0x42 + i] ^ mask[i % 4];
    const unsigned hi = h[0x43 + i] ^ mask[(i + 1) % 4];
    const auto unit = static_cast<char16_t>(lo | (hi << 8));
    if (unit == 0) break;
    header.password.push_back(unit);
  }
  return header;
}

std::u16string utf16(const std::string& s) {
  std::u16string out;
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    char32_t cp = c;
    std::size_t n = 1;
    if (c >= 0xf0 && i + 3 < s.size()) {
      cp = ((c & 0x07u) << 18) | ((static_cast<unsigned char>(s[i + 1]) & 0x3fu) << 12) |
           ((static_cast<unsigned char>(s[i + 2]) & 0x3fu) << 6) |
           (static_cast<unsigned char>(s[i + 3]) & 0x3fu);
      n = 4;
    } else if (c >= 0xe0 && i + 2 < s.size()) {
      cp = ((c & 0x0fu) << 12) | ((static_cast<unsigned char>(s[i + 1]) & 0x3fu) << 6) |
           (static_cast<unsigned char>(s[i + 2]) & 0x3fu);
      n = 3;
    } else if (c >= 0xc0 && i + 1 < s.size()) {
      cp = ((c & 0x1fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3fu);
      n = 2;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xd800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xdc00 + (cp & 0x3ff)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += n;
  }
  return out;
}

std::string connectPassword(const std::string& connect) {
  std::size_t start = 0;
  while (start <= connect.size()) {
    std::size_t end = connect.find(';', start);
    if (end == std::string::npos) end = connect.size();
    const std::string item = connect.substr(start, end - start);
    const std::size_t eq = item.find('=');
    if (eq != std::string::npos) {
      std::string key = item.substr(0, eq);
      while (!key.empty() && key.front() == ' ') key.erase(key.begin());
      while (!key.empty() && key.back() == ' ') key.pop_back();
      if (key.size() == 3 && (key[0] == 'P' || key[0] == 'p') && (key[1] == 'W' || key[1] == 'w') &&
          (key[2] == 'D' || key[2] == 'd')) {
        return item.substr(eq + 1);
      }
    }
    start = end + 1;
  }
  return {};
}

}  // namespace ku::mdb
