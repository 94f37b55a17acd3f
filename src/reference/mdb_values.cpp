#include "reference/mdb_values.h"

#include <charconv>
#include <cstdint>
#include <cstring>

#include "reference/mdb_file_header.h"

namespace ku::mdb {

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

DbValue convertField(MdbHandle* mdb, const MdbColumn* col, const MdbField& fd, const char* bound,
                     unsigned pageSize) {
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

}  // namespace ku::mdb
