// The reference database on mdbtools (libmdb and libmdbsql).
#include <fcntl.h>
#include <glib.h>  // before mdbtools, which includes it inside extern "C"
#include <iconv.h>
#include <locale.h>
// clang-format off
#include <mdbtools.h>
#include <mdbsql.h>
// clang-format on
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "model/errors.h"
#include "reference/reference_database.h"

namespace ku {
namespace {

// Engine codes with no name in the shared list.
constexpr int kDbCannotOpen = 3051;        // the file exists but cannot be opened
constexpr int kDbNoCurrentRecord = 3021;   // a field read past the last row
constexpr int kDbTooFewParameters = 3061;  // a WHERE clause names an unknown column
constexpr int kDbSyntaxError = 3075;

constexpr std::size_t kHeaderLength = 0x98;  // the part of page 0 that holds the password

// mdbtools reports problems on standard error, and some of its results only
// there; while one of its calls runs, standard error goes to a scratch file that
// is read back and never reaches the terminal.
class QuietStderr {
 public:
  QuietStderr() {
    std::fflush(stderr);
    sink_ = ::memfd_create("ku-mdb-stderr", MFD_CLOEXEC);
    if (sink_ < 0) sink_ = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (sink_ < 0) return;
    saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    if (saved_ < 0 || ::dup2(sink_, STDERR_FILENO) < 0) {
      if (saved_ >= 0) ::close(saved_);
      saved_ = -1;
    }
  }
  ~QuietStderr() {
    restore();
    if (sink_ >= 0) ::close(sink_);
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

  // What was written so far (at most a few kilobytes).
  std::string captured() const {
    std::fflush(stderr);
    std::string text;
    if (sink_ < 0) return text;
    std::array<char, 4096> buf{};
    const ssize_t n = ::pread(sink_, buf.data(), buf.size(), 0);
    if (n > 0) text.assign(buf.data(), static_cast<std::size_t>(n));
    return text;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    saved_ = -1;
  }
  int sink_ = -1;
  int saved_ = -1;
};

[[noreturn]] void unrecognised(const std::string& path) {
  throw KuError(kDbUnrecognised, "Unrecognized database format '" + path + "'.");
}

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

// The facts of the file header that matter before the engine reads the file.
struct Header {
  bool jet3 = false;
  std::u16string password;  // empty when the file has none
};

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

// UTF-8 to UTF-16, enough for a password.
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

// The PWD item of a connect string such as "MS Access;PWD=MOREL".
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

bool sameName(const char* a, const std::string& b) {
  const std::size_t n = std::strlen(a);
  if (n != b.size()) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

bool isNumericType(int type) {
  switch (type) {
    case MDB_BYTE:
    case MDB_INT:
    case MDB_LONGINT:
    case MDB_FLOAT:
    case MDB_DOUBLE:
    case MDB_NUMERIC:
    case MDB_MONEY:
      return true;
    default:
      return false;
  }
}

template <typename T>
T readLittle(const unsigned char* p) {
  T v{};
  std::memcpy(&v, p, sizeof v);  // the file and the supported hosts are little-endian
  return v;
}

// A number written by the engine as text ("2.5", "-3", possibly with a comma).
double numberFromText(std::string s) {
  for (char& c : s) {
    if (c == ',') c = '.';
  }
  double v = 0;
  const char* begin = s.c_str();
  if (*begin == '+') ++begin;
  std::from_chars(begin, s.c_str() + s.size(), v);
  return v;
}

// The structures of a table that the engine follows from page to page, checked
// before the engine reads them. mdbtools reads a page beyond the end of the
// file as "nothing" and then goes on with whatever its page buffer held: rows
// vanish without an error, another table's rows can be taken for this one's,
// and a table whose column definitions cannot be read is leaked. A file whose
// page pointers lead outside it, to a page of the wrong kind, to another
// table's page or round in a circle is refused here instead.
class TableStructure {
 public:
  TableStructure(const std::string& path, bool jet3)
      : path_(path),
        pageSize_(jet3 ? 2048 : 4096),
        usageMapAt_(jet3 ? 0x23 : 0x37),
        freeMapAt_(jet3 ? 0x27 : 0x3b),
        rowCountAt_(jet3 ? 0x08 : 0x0c),
        rowTableAt_(jet3 ? 0x0a : 0x0e),
        jet3_(jet3),
        page_(pageSize_) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
      throw KuError(kDbCannotOpen, "Could not open file '" + path + "': " + std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) damaged();
    pageCount_ = static_cast<std::uint64_t>(st.st_size) / pageSize_;
  }
  ~TableStructure() { ::close(fd_); }
  TableStructure(const TableStructure&) = delete;
  TableStructure& operator=(const TableStructure&) = delete;

  // Checks the table whose definition starts on page tdef.
  void check(std::uint64_t tdef) {
    // The definition: pages of kind 2, chained through the pointer at offset 4.
    // Its bytes run on from page to page, each page after the first from
    // offset 8 on.
    std::vector<std::uint64_t> chain;
    std::vector<unsigned char> definition;
    for (std::uint64_t p = tdef; p != 0;) {
      if (chain.size() >= pageCount_ || std::find(chain.begin(), chain.end(), p) != chain.end())
        damaged();
      chain.push_back(p);
      read(p);
      if (page_[0] != 0x02) damaged();
      definition.insert(definition.end(), page_.begin() + (chain.size() == 1 ? 0 : 8), page_.end());
      p = u32(4);
    }
    checkColumns(definition);
    read(tdef);
    const std::uint32_t usage = u32(usageMapAt_);
    const std::uint32_t free = u32(freeMapAt_);
    checkMap(usage, tdef, true);
    checkMap(free, tdef, false);
  }

 private:
  [[noreturn]] void damaged() const { unrecognised(path_); }

  void read(std::uint64_t n) {
    if (n >= pageCount_) damaged();
    const auto offset = static_cast<off_t>(n * pageSize_);
    if (::pread(fd_, page_.data(), pageSize_, offset) != static_cast<ssize_t>(pageSize_)) damaged();
  }
  std::uint32_t u32(std::size_t at) const { return readLittle<std::uint32_t>(page_.data() + at); }
  std::uint16_t u16(std::size_t at) const { return readLittle<std::uint16_t>(page_.data() + at); }

  // The column definitions and their names must lie within the definition's
  // pages: mdbtools gives up on a table whose columns run past its last page
  // and leaks it.
  void checkColumns(const std::vector<unsigned char>& d) const {
    const std::size_t colsAt = jet3_ ? 0x19 : 0x2d;
    const std::size_t realIndexesAt = jet3_ ? 0x1f : 0x33;
    const std::size_t firstColumnAt = jet3_ ? 0x2b : 0x3f;
    const std::uint64_t realIndexSize = jet3_ ? 8 : 12;
    const std::uint64_t columnSize = jet3_ ? 18 : 25;
    if (d.size() < firstColumnAt) damaged();
    const std::uint64_t columns = readLittle<std::uint16_t>(d.data() + colsAt);
    const std::uint64_t realIndexes = readLittle<std::uint32_t>(d.data() + realIndexesAt);
    std::uint64_t at = firstColumnAt + realIndexes * realIndexSize + columns * columnSize;
    for (std::uint64_t c = 0; c < columns && at <= d.size(); ++c) {
      // Each name: its length in bytes (one byte in Jet 3, two in Jet 4), then the name.
      if (jet3_) {
        if (at + 1 > d.size()) damaged();
        at += 1 + d[at];
      } else {
        if (at + 2 > d.size()) damaged();
        at += 2 + readLittle<std::uint16_t>(d.data() + at);
      }
    }
    if (at > d.size()) damaged();
  }

  // A map held in row (pointer & 0xff) of page (pointer >> 8). A usage map lists
  // the table's data pages: each must be a data page of this table.
  void checkMap(std::uint32_t pointer, std::uint64_t tdef, bool usage) {
    const std::uint64_t mapPage = pointer >> 8;
    const unsigned row = pointer & 0xff;
    read(mapPage);
    const unsigned rows = u16(rowCountAt_);
    if (row >= rows || rowTableAt_ + 2u * rows > pageSize_) damaged();
    const unsigned start = u16(rowTableAt_ + 2 * row) & 0x1fff;
    const unsigned end = row == 0 ? pageSize_ : u16(rowTableAt_ + 2 * (row - 1)) & 0x1fff;
    if (start >= end || end > pageSize_) damaged();
    const std::vector<unsigned char> map(page_.begin() + start, page_.begin() + end);

    // Each page the map names, checked as soon as it is found.
    auto listed = [&](std::uint64_t p) {
      if (p >= pageCount_) damaged();
      if (!usage) return;
      read(p);
      if (page_[0] != 0x01 || u32(4) != tdef) damaged();
    };
    if (map[0] == 0) {
      // Inline: a first page, then one bit per page from it on.
      if (map.size() < 5) damaged();
      const std::uint64_t first = readLittle<std::uint32_t>(map.data() + 1);
      for (std::size_t i = 5; i < map.size(); ++i) {
        for (unsigned bit = 0; bit < 8; ++bit) {
          if (map[i] & (1u << bit)) listed(first + (i - 5) * 8 + bit);
        }
      }
    } else if (map[0] == 1) {
      // Pages of kind 5, each a bitmap of the pages that follow on from it.
      const std::uint64_t perMapPage = (pageSize_ - 4) * 8ull;
      for (std::size_t j = 0; 1 + 4 * j + 4 <= map.size(); ++j) {
        const std::uint32_t bitmapPage = readLittle<std::uint32_t>(map.data() + 1 + 4 * j);
        if (bitmapPage == 0) continue;
        read(bitmapPage);
        if (page_[0] != 0x05) damaged();
        const std::vector<unsigned char> bitmap(page_.begin() + 4, page_.end());
        for (std::size_t i = 0; i < bitmap.size(); ++i) {
          for (unsigned bit = 0; bit < 8; ++bit) {
            if (bitmap[i] & (1u << bit)) listed(j * perMapPage + i * 8 + bit);
          }
        }
      }
    } else {
      damaged();
    }
  }

  std::string path_;
  std::size_t pageSize_;
  std::size_t usageMapAt_;
  std::size_t freeMapAt_;
  std::size_t rowCountAt_;
  std::size_t rowTableAt_;
  bool jet3_;
  std::vector<unsigned char> page_;
  std::uint64_t pageCount_ = 0;
  int fd_ = -1;
};

// The catalog's own table starts on page 2.
constexpr std::uint64_t kCatalogPage = 2;

// Ends the last query. mdbtools 1.0 moves a query's search tree onto its table
// and mdb_sql_reset frees the table without it: free the tree first, or every
// query leaks it.
void resetQuery(MdbSQL* sql) {
  if (sql->cur_table && sql->cur_table->sarg_tree) {
    mdb_sql_free_tree(sql->cur_table->sarg_tree);
    sql->cur_table->sarg_tree = nullptr;
  }
  mdb_sql_reset(sql);
}

// Takes a query's criteria off its table for as long as it lives, so that the
// engine returns every row; puts them back (the table still owns them).
class HiddenCriteria {
 public:
  explicit HiddenCriteria(MdbTableDef* table) : table_(table), tree_(table->sarg_tree) {
    table_->sarg_tree = nullptr;
  }
  ~HiddenCriteria() { table_->sarg_tree = tree_; }
  HiddenCriteria(const HiddenCriteria&) = delete;
  HiddenCriteria& operator=(const HiddenCriteria&) = delete;
  MdbSargNode* tree() const { return tree_; }

 private:
  MdbTableDef* table_;
  MdbSargNode* tree_;
};

// Bytes a fixed-width column's value takes; 0 for the others.
int fixedWidth(int type) {
  switch (type) {
    case MDB_BYTE:
      return 1;
    case MDB_INT:
      return 2;
    case MDB_LONGINT:
    case MDB_FLOAT:
      return 4;
    case MDB_DOUBLE:
    case MDB_MONEY:
    case MDB_DATETIME:
      return 8;
    default:
      return 0;
  }
}

// Whether a cracked row meets the criteria. A comparison with a Null, missing
// or malformed field is false, as a comparison with Null is in the engine; a
// well-formed field is compared by the engine's own test.
bool matches(MdbHandle* mdb, MdbSargNode* node, MdbField* fields, int count) {
  if (!node) return true;
  switch (node->op) {
    case MDB_OR:
      return matches(mdb, node->left, fields, count) || matches(mdb, node->right, fields, count);
    case MDB_AND:
      return matches(mdb, node->left, fields, count) && matches(mdb, node->right, fields, count);
    case MDB_NOT:
      return !matches(mdb, node->left, fields, count);
    default:
      break;
  }
  if (!mdb_is_relational_op(node->op)) return false;
  MdbColumn* col = node->col;
  if (!col) return node->value.i != 0;  // a comparison of two constants
  MdbField* field = nullptr;
  for (int i = 0; i < count; ++i) {
    if (fields[i].colnum == col->col_num) {
      field = &fields[i];
      break;
    }
  }
  if (node->op == MDB_ISNULL) return !field || field->is_null;
  if (node->op == MDB_NOTNULL) return field && !field->is_null;
  if (!field || field->is_null || !field->value || field->siz < 0) return false;
  const auto* page = mdb->pg_buf;
  const auto* value = static_cast<const unsigned char*>(field->value);
  const auto pageSize = static_cast<std::size_t>(mdb->fmt->pg_size);
  if (value < page ||
      static_cast<std::size_t>(value - page) + static_cast<std::size_t>(field->siz) > pageSize)
    return false;
  if (field->siz < fixedWidth(col->col_type)) return false;
  return mdb_test_sarg(mdb, col, node, field) != 0;
}

class MdbDatabase : public ReferenceDatabase {
 public:
  MdbDatabase(const std::string& path, const std::string& connect) : path_(path) {
    const Header header = readHeader(path);
    if (!header.password.empty() && header.password != utf16(connectPassword(connect))) {
      throw KuError(kDbNotValidPassword, "Not a valid password.");
    }
    TableStructure structure(path, header.jet3);
    structure.check(kCatalogPage);
    QuietStderr quiet;
    sql_ = mdb_sql_init();
    if (!sql_) unrecognised(path);
    // Opened directly: mdb_sql_open would expand the name like a shell word.
    sql_->mdb = mdb_open(path.c_str(), MDB_NOFLAGS);
    if (!sql_->mdb) {
      release();
      unrecognised(path);
    }
    // Every table the queries can name is checked before the engine reads it.
    try {
      GPtrArray* catalog = mdb_read_catalog(sql_->mdb, MDB_TABLE);
      for (unsigned i = 0; catalog && i < catalog->len; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(catalog, i));
        if (entry && mdb_is_user_table(entry)) structure.check(entry->table_pg);
      }
    } catch (...) {
      release();
      throw;
    }
  }
  ~MdbDatabase() override { release(); }
  MdbDatabase(const MdbDatabase&) = delete;
  MdbDatabase& operator=(const MdbDatabase&) = delete;

  void query(const std::string& text) override {
    if (!sql_) throw KuError(kDbCannotOpen, "The database is closed.");
    QuietStderr quiet;
    row_.clear();
    atEnd_ = true;
    resetQuery(sql_);
    if (!mdb_sql_run_query(sql_, text.c_str())) {
      std::string message = quiet.captured() + mdb_sql_last_error(sql_);
      message = message.substr(0, message.find('\n'));
      resetQuery(sql_);
      throw queryError(message, text);
    }
    MdbTableDef* table = sql_->cur_table;
    if (!table) throw KuError(kDbSyntaxError, "Syntax error in query: " + text);
    if (table->sarg_tree) checkCriteria(table->sarg_tree);
    fetch();
  }

  bool atEnd() const override { return atEnd_; }

  DbValue field(const std::string& column) const override {
    if (atEnd_) throw KuError(kDbNoCurrentRecord, "No current record.");
    for (const auto& [name, value] : row_) {
      if (sameName(name.c_str(), column)) return value;
    }
    throw KuError(kDbItemNotFound, "Item not found in this collection: " + column);
  }

  void moveNext() override {
    if (atEnd_) throw KuError(kDbNoCurrentRecord, "No current record.");
    QuietStderr quiet;
    fetch();
  }

  void close() override { release(); }

  std::vector<std::string> columns() const override {
    std::vector<std::string> names;
    if (!sql_ || !sql_->columns) return names;
    for (unsigned i = 0; i < sql_->num_columns; ++i) {
      names.emplace_back(static_cast<MdbSQLColumn*>(g_ptr_array_index(sql_->columns, i))->name);
    }
    return names;
  }

 private:
  static KuError queryError(const std::string& message, const std::string& text) {
    if (message.find("is not a table") != std::string::npos) {
      const std::string table = message.substr(0, message.find(" is not a table"));
      return KuError(kDbTableNotFound,
                     "The database engine cannot find the input table or query '" + table + "'.");
    }
    if (message.find("not found") != std::string::npos) {
      return KuError(kDbItemNotFound, "Item not found in this collection (" + message + ").");
    }
    return KuError(kDbSyntaxError, "Syntax error in query: " + text);
  }

  // The engine compares a key column only with a value of its own kind.
  void checkCriteria(const MdbSargNode* node) const {
    if (!node) return;
    if (mdb_is_relational_op(node->op)) {
      if (!node->col) {
        if (node->parent) {
          throw KuError(kDbTooFewParameters, "Too few parameters. Expected 1.");
        }
      } else {
        const bool textConstant = node->val_type == MDB_TEXT;
        if (isNumericType(node->col->col_type) == textConstant) {
          throw KuError(kDbTypeMismatch, "Data type mismatch in criteria expression.");
        }
      }
    }
    checkCriteria(node->left);
    checkCriteria(node->right);
  }

  // Reads the next matching row into row_, or marks the end.
  //
  // The engine would test each row against the query's criteria itself, but
  // mdbtools 1.0 reads a Null or missing key field through a null pointer (a
  // damaged file, or a row with an empty key, takes the program down). So the
  // criteria are hidden from it while it walks the rows, and tested here.
  void fetch() {
    row_.clear();
    atEnd_ = true;
    MdbTableDef* table = sql_->cur_table;
    if (!table) return;
    MdbHandle* mdb = sql_->mdb;
    HiddenCriteria criteria(table);
    std::vector<MdbField> fields(table->num_cols);
    int cracked = 0;
    for (;;) {
      if (!mdb_fetch_row(table)) return;
      // The row is still in the page buffer: crack it again for its Null flags
      // and raw numbers, which the bound texts do not tell apart.
      int start = 0;
      std::size_t size = 0;
      if (table->cur_row == 0 ||
          mdb_find_row(mdb, static_cast<int>(table->cur_row - 1), &start, &size) != 0) {
        throw KuError(kDbUnrecognised, "Unrecognized database format '" + path_ + "'.");
      }
      start &= 0x1fff;
      cracked = mdb_crack_row(table, start, size, fields.data());
      if (cracked < 0)
        throw KuError(kDbUnrecognised, "Unrecognized database format '" + path_ + "'.");
      cracked = std::min(cracked, static_cast<int>(fields.size()));
      if (matches(mdb, criteria.tree(), fields.data(), cracked)) break;
    }
    atEnd_ = false;
    const unsigned pageSize = static_cast<unsigned>(mdb->fmt->pg_size);

    for (unsigned i = 0; i < sql_->num_columns; ++i) {
      const auto* sqlColumn = static_cast<MdbSQLColumn*>(g_ptr_array_index(sql_->columns, i));
      const auto* bound = static_cast<const char*>(g_ptr_array_index(sql_->bound_values, i));
      DbValue value = std::string(bound ? bound : "");
      for (int f = 0; f < cracked && f < static_cast<int>(fields.size()); ++f) {
        const MdbField& fd = fields[static_cast<std::size_t>(f)];
        if (fd.colnum < 0 || static_cast<unsigned>(fd.colnum) >= table->num_cols) continue;
        const auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, fd.colnum));
        if (!sameName(col->name, sqlColumn->name)) continue;
        value = convert(mdb, col, fd, bound, pageSize);
        break;
      }
      row_.emplace_back(sqlColumn->name, std::move(value));
    }
  }

  static DbValue convert(MdbHandle* mdb, const MdbColumn* col, const MdbField& fd,
                         const char* bound, unsigned pageSize) {
    if (col->col_type == MDB_BOOL) return fd.is_null ? 0.0 : -1.0;
    if (fd.is_null) return DbNull{};
    const bool inPage = fd.start >= 0 && fd.siz >= 0 &&
                        static_cast<unsigned>(fd.start) + static_cast<unsigned>(fd.siz) <= pageSize;
    const unsigned char* p = inPage ? mdb->pg_buf + fd.start : nullptr;
    auto fits = [&](int n) { return p && fd.siz >= n; };
    switch (col->col_type) {
      case MDB_BYTE:
        if (fits(1)) return static_cast<double>(p[0]);
        break;
      case MDB_INT:
        if (fits(2)) return static_cast<double>(readLittle<std::int16_t>(p));
        break;
      case MDB_LONGINT:
        if (fits(4)) return static_cast<double>(readLittle<std::int32_t>(p));
        break;
      case MDB_FLOAT:
        if (fits(4)) return static_cast<double>(readLittle<float>(p));
        break;
      case MDB_DOUBLE:
        if (fits(8)) return readLittle<double>(p);
        break;
      case MDB_MONEY:
        if (fits(8)) return static_cast<double>(readLittle<std::int64_t>(p)) / 10000.0;
        break;
      case MDB_NUMERIC:
        return numberFromText(bound ? bound : "");
      default:
        return std::string(bound ? bound : "");
    }
    if (isNumericType(col->col_type)) return numberFromText(bound ? bound : "");
    return std::string(bound ? bound : "");
  }

  void release() {
    if (!sql_) return;
    QuietStderr quiet;
    resetQuery(sql_);
    mdb_sql_exit(sql_);  // closes the file and frees the state itself
    sql_ = nullptr;
    row_.clear();
    atEnd_ = true;
  }

  std::string path_;
  MdbSQL* sql_ = nullptr;
  bool atEnd_ = true;
  std::vector<std::pair<std::string, DbValue>> row_;
};

class MdbOpener : public ReferenceDatabaseOpener {
 public:
  std::unique_ptr<ReferenceDatabase> open(const std::string& path,
                                          const std::string& connect) override {
    return std::make_unique<MdbDatabase>(path, connect);
  }
};

}  // namespace

std::unique_ptr<ReferenceDatabaseOpener> makeMdbOpener() {
  return std::make_unique<MdbOpener>();
}

}  // namespace ku
