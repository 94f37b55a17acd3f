// The structures of a table that the engine follows from page to page, checked
// before the engine reads them. mdbtools reads a page beyond the end of the
// file as "nothing" and then goes on with whatever its page buffer held: rows
// vanish without an error, another table's rows can be taken for this one's,
// and a table whose column definitions cannot be read is leaked. A file whose
// page pointers lead outside it, to a page of the wrong kind, to another
// table's page or round in a circle is refused here instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ku::mdb {

// The catalog's own table starts on page 2.
constexpr std::uint64_t kCatalogPage = 2;

class TableStructure {
 public:
  TableStructure(const std::string& path, bool jet3);
  ~TableStructure();
  TableStructure(const TableStructure&) = delete;
  TableStructure& operator=(const TableStructure&) = delete;

  // Checks the table whose definition starts on page tdef.
  void check(std::uint64_t tdef);

 private:
  [[noreturn]] void damaged() const;
  void read(std::uint64_t n);
  std::uint32_t u32(std::size_t at) const;
  std::uint16_t u16(std::size_t at) const;
  // The column definitions and their names must lie within the definition's
  // pages: mdbtools gives up on a table whose columns run past its last page
  // and leaks it.
  void checkColumns(const std::vector<unsigned char>& d) const;
  // A map held in row (pointer & 0xff) of page (pointer >> 8). A usage map lists
  // the table's data pages: each must be a data page of this table.
  void checkMap(std::uint32_t pointer, std::uint64_t tdef, bool usage);

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

}  // namespace ku::mdb
