// comms.ini reading and the port number's conversion to 16 bits.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "link/comms_ini.h"
#include "model/errors.h"
#include "scratch_dir.h"

namespace ku {
namespace {

namespace fs = std::filesystem;

using TempDir = test::ScratchDir;

// What one reading gave: the code (0 none) and both values.
struct ReadOutcome {
  int code = 0;
  PortNumberValue port;
  PortNumberValue first;
};

ReadOutcome readFile(const std::string& path) {
  ReadOutcome r;
  try {
    readCommsIni(path, r.port, r.first);
  } catch (const KuError& e) {
    r.code = e.code();
  }
  return r;
}

std::string describe(const PortNumberValue& v) {
  if (std::holds_alternative<std::monostate>(v)) return "<unset>";
  if (const double* d = std::get_if<double>(&v)) return "num:" + std::to_string(*d);
  return "text:[" + std::get<std::string>(v) + "]";
}

PortNumberValue num(double d) {
  return d;
}
PortNumberValue text(const std::string& s) {
  return s;
}
const PortNumberValue kUnset{};

struct FileCase {
  const char* name;
  std::string content;
  int code;
  PortNumberValue port;
  PortNumberValue first;
};

TEST(readCommsIni, FileForms) {
  const FileCase cases[] = {
      {"typical line", "COM,3\r\n", 0, num(3), text("COM")},
      {"no line end", "COM,3", 0, num(3), text("COM")},
      {"two lines, second wins", "a,2\nb,5\n", 0, num(5), text("b")},
      {"CRLF lines", "a,2\r\nb,7\r\n", 0, num(7), text("b")},
      {"CR lines", "a,2\rb,9\r", 0, num(9), text("b")},
      {"items on separate lines", "a\n4\n", 0, num(4), text("a")},
      {"blanks before items skipped", "  \tport , \t 6\n", 0, num(6), text("port")},
      {"trailing blanks not part of item", "x,\"y\" \n", 0, text("y"), text("x")},
      {"quoted item keeps commas", "\"a,b\",\"1,5\"\n", 0, text("1,5"), text("a,b")},
      {"quoted number stays text", "p,\"8\"", 0, text("8"), text("p")},
      {"text port", "p,abc\n", 0, text("abc"), text("p")},
      {"fraction", "p,3.5\n", 0, num(3.5), text("p")},
      {"negative and exponent", "-1e1,2E0\n", 0, num(2), num(-10)},
      {"number with junk is text", "p,3abc\n", 0, text("3abc"), text("p")},
      {"empty item is unset", "p,\n", 0, kUnset, text("p")},
      {"single item: fails on the second", "4\n", 62, kUnset, num(4)},
      {"odd count keeps last pair", "a,2\nb,5\nc\n", 62, num(5), text("c")},
      {"separator before the end belongs to the item", "a,2,", 0, num(2), text("a")},
      {"third item on the same line", "a,2,b", 62, num(2), text("b")},
      {"empty file", "", 62, kUnset, kUnset},
      {"blanks only", "   \t ", 62, kUnset, kUnset},
      {"unterminated quote runs to the end", "p,\"abc,def\n", 0, text("abc,def\n"), text("p")},
      {"unterminated quote as first item", "\"abc,4\n", 62, kUnset, text("abc,4\n")},
      {"text after closing quote dropped", "\"a\"zz,7\n", 0, num(7), text("a")},
      // Blank lines and blanks after the last complete pair end the file.
      {"editor's final empty line", "\"COM\",7\n\n", 0, num(7), text("COM")},
      {"blank lines with blanks, CRLF", "a,2\r\n\r\n  \t\r\n \t", 0, num(2), text("a")},
      {"three empty lines no longer make an empty pair", "a,2\n\n\n", 0, num(2), text("a")},
      {"trailing comma then a blank line", "a,2,\n\n", 0, num(2), text("a")},
      // Blank lines elsewhere read as before.
      {"empty lines before the pair", "\n\na,2\n", 0, num(2), text("a")},
      {"blank line between pairs", "a,2\n\nb,5\n", 62, text("b"), num(5)},
      {"single item then a blank line", "4\n\n", 0, kUnset, num(4)},
  };
  TempDir dir;
  for (const FileCase& c : cases) {
    SCOPED_TRACE(c.name);
    const ReadOutcome r = readFile(dir.write(c.content));
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(describe(r.port), describe(c.port));
    EXPECT_EQ(describe(r.first), describe(c.first));
  }
}

TEST(readCommsIni, MissingFileIs53AndLeavesValues) {
  TempDir dir;
  PortNumberValue port = 9.0, first = std::string("keep");
  try {
    readCommsIni(dir.file("comms.ini"), port, first);
    FAIL() << "no error";
  } catch (const KuError& e) {
    EXPECT_EQ(e.code(), kFileNotFound);
  }
  EXPECT_EQ(describe(port), "num:9.000000");
  EXPECT_EQ(describe(first), "text:[keep]");
}

TEST(readCommsIni, DanglingLinkIsMissing) {
  TempDir dir;
  fs::create_symlink(dir.file("nowhere"), dir.file("comms.ini"));
  EXPECT_EQ(readFile(dir.file("comms.ini")).code, kFileNotFound);
}

TEST(readCommsIni, FolderFailsWithoutCrash) {
  TempDir dir;
  fs::create_directory(dir.file("comms.ini"));
  const int folderCode = readFile(dir.file("comms.ini")).code;
  EXPECT_NE(folderCode, 0);
  EXPECT_NE(folderCode, kFileNotFound);
}

// The code of reading path as an ordinary user: root reads a file whatever its
// mode, so as root the reading runs in a child that has become "nobody".
// -1: no such user could be taken on.
int codeAsOrdinaryUser(const std::string& path) {
  if (::geteuid() != 0) return readFile(path).code;
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    int code = -1;
    if (::setgid(65534) == 0 && ::setuid(65534) == 0) code = readFile(path).code;
    const ssize_t n = ::write(fds[1], &code, sizeof code);
    ::_exit(n == sizeof code ? 0 : 1);
  }
  ::close(fds[1]);
  int code = -1;
  if (::read(fds[0], &code, sizeof code) != sizeof code) code = -1;
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return code;
}

TEST(readCommsIni, UnreadableFileFailsWithoutCrash) {
  TempDir dir;
  const std::string locked = dir.write("a,3\n", "locked.ini");
  // Only the file's own mode may stand in the way: its folder is open to all,
  // and the file reads as usual while its mode allows it.
  fs::permissions(fs::path(locked).parent_path(), fs::perms::all);
  const int readable = codeAsOrdinaryUser(locked);
  if (readable == -1) GTEST_SKIP() << "running as root and could not become user nobody";
  if (readable != 0) GTEST_SKIP() << "user nobody cannot reach the temporary folder";
  ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
  const int code = codeAsOrdinaryUser(locked);
  EXPECT_NE(code, 0);
  EXPECT_NE(code, kFileNotFound);  // it is there; it cannot be read
}

TEST(readCommsIni, BinaryBytesAreJustText) {
  TempDir dir;
  std::string content = "x,";
  for (int i = 0; i < 256; ++i)
    if (i != ',' && i != '\r' && i != '\n' && i != '"') content.push_back(static_cast<char>(i));
  content += "\n";
  const ReadOutcome r = readFile(dir.write(content));
  EXPECT_EQ(r.code, 0);
  ASSERT_TRUE(std::holds_alternative<std::string>(r.port));
  EXPECT_EQ(std::get<std::string>(r.port).size(), 252u);  // every byte but the four separators
}

TEST(readCommsIni, LargeFilesAreReadStreamingWithItemsCapped) {
  TempDir dir;
  // A few megabytes of pairs: the last pair decides.
  {
    std::ofstream out(dir.file("pairs.ini"), std::ios::binary);
    for (int i = 0; i < 300000; ++i) out << "port," << (i % 7 + 1) << "\r\n";
    out << "last,12\r\n";
  }
  ReadOutcome r = readFile(dir.file("pairs.ini"));
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(describe(r.port), "num:12.000000");

  // One item of several megabytes without a separator: kept short, read to the end.
  {
    std::ofstream out(dir.file("long.ini"), std::ios::binary);
    out << "p,";
    const std::string chunk(65536, '7');
    for (int i = 0; i < 64; ++i) out << chunk;
  }
  r = readFile(dir.file("long.ini"));
  EXPECT_EQ(r.code, 0);
  ASSERT_TRUE(std::holds_alternative<std::string>(r.port)) << describe(r.port);
  EXPECT_LE(std::get<std::string>(r.port).size(), 64u * 1024u);
  EXPECT_THROW(portNumberToInt16(r.port), KuError);

  // An unterminated quote of several megabytes likewise.
  {
    std::ofstream out(dir.file("quote.ini"), std::ios::binary);
    out << "p,\"";
    const std::string chunk(65536, 'q');
    for (int i = 0; i < 64; ++i) out << chunk;
  }
  r = readFile(dir.file("quote.ini"));
  EXPECT_EQ(r.code, 0);
  ASSERT_TRUE(std::holds_alternative<std::string>(r.port));
  EXPECT_LE(std::get<std::string>(r.port).size(), 64u * 1024u);
}

struct ConvertCase {
  PortNumberValue in;
  int code;  // 0: converts
  int expected;
};

TEST(PortNumberToInt16, ConversionTable) {
  const ConvertCase cases[] = {
      {kUnset, 0, 0},
      {num(3), 0, 3},
      {num(3.5), 0, 4},
      {num(2.5), 0, 2},
      {num(-2.5), 0, -2},
      {num(2.4999), 0, 2},
      {num(32767), 0, 32767},
      {num(32767.4), 0, 32767},
      {num(32767.5), kOverflow, 0},
      {num(32768), kOverflow, 0},
      {num(-32768), 0, -32768},
      {num(-32768.5), 0, -32768},
      {num(-32769), kOverflow, 0},
      {num(1e300), kOverflow, 0},
      {text("3"), 0, 3},
      {text(" 7 "), 0, 7},
      {text("2.5"), 0, 2},
      {text("3.5"), 0, 4},
      {text("40000"), kOverflow, 0},
      {text("abc"), kTypeMismatch, 0},
      {text(""), kTypeMismatch, 0},
      {text("3abc"), kTypeMismatch, 0},
      {text("1e999"), kOverflow, 0},
  };
  for (const ConvertCase& c : cases) {
    SCOPED_TRACE(describe(c.in));
    try {
      const int v = portNumberToInt16(c.in);
      EXPECT_EQ(c.code, 0);
      EXPECT_EQ(v, c.expected);
    } catch (const KuError& e) {
      EXPECT_EQ(e.code(), c.code);
    }
  }
}

}  // namespace
}  // namespace ku
