#include "reference/mdb_table_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "model/errors.h"
#include "reference/mdb_file_header.h"

namespace ku::mdb {

TableStructure::TableStructure(const std::string& path, bool jet3)
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

TableStructure::~TableStructure() {
  ::close(fd_);
}

void TableStructure::check(std::uint64_t tdef) {
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

void TableStructure::damaged() const {
  unrecognised(path_);
}

void TableStructure::read(std::uint64_t n) {
  if (n >= pageCount_) damaged();
  const auto offset = static_cast<off_t>(n * pageSize_);
  if (::pread(fd_, page_.data(), pageSize_, offset) != static_cast<ssize_t>(pageSize_)) damaged();
}

std::uint32_t TableStructure::u32(std::size_t at) const {
  return readLittle<std::uint32_t>(page_.data() + at);
}

std::uint16_t TableStructure::u16(std::size_t at) const {
  return readLittle<std::uint16_t>(page_.data() + at);
}

void TableStructure::checkColumns(const std::vector<unsigned char>& d) const {
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

void TableStructure::checkMap(std::uint32_t pointer, std::uint64_t tdef, bool usage) {
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

}  // namespace ku::mdb
