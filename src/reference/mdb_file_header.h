// The Access file before the engine reads it: the header's checks (a Jet
// database of whole pages), its password, and the password of a connect string.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace ku::mdb {

// Engine code for a file that exists but cannot be opened.
constexpr int kDbCannotOpen = 3051;

// Throws the engine's "Unrecognized database format" for the file.
[[noreturn]] void unrecognised(const std::string& path);

// A little-endian number at p (the file and the supported hosts are little-endian).
template <typename T>
T readLittle(const unsigned char* p) {
  T v{};
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The facts of the file header that matter before the engine reads the file.
struct Header {
  bool jet3 = false;
  std::u16string password;  // empty when the file has none
};

// Checks that the file is a Jet database of whole pages and reads its password.
Header readHeader(const std::string& path);

// UTF-8 to UTF-16, enough for a password.
std::u16string utf16(const std::string& s);

// The PWD item of a connect string such as "MS Access;PWD=MOREL".
std::string connectPassword(const std::string& connect);

}  // namespace ku::mdb
