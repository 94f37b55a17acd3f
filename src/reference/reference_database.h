// The boundary to the reference database file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "reference/db_value.h"

namespace ku {

// One open database. Methods throw KuError with the engine's code.
class ReferenceDatabase {
 public:
  virtual ~ReferenceDatabase() = default;
  // Runs a query; the rows are then walked with atEnd / field / moveNext.
  virtual void query(const std::string& sql) = 0;
  virtual bool atEnd() const = 0;
  // The current row's value in the named column (throws 3265 if no such column).
  virtual DbValue field(const std::string& column) const = 0;
  virtual void moveNext() = 0;
  virtual void close() = 0;
  // The column names of the last query's rows, in order; empty when there is no
  // query result or the implementation cannot list them.
  virtual std::vector<std::string> columns() const { return {}; }
};

// Opens a database file with a connect string ("MS Access;PWD=..."); throws on
// a missing file (3024), a wrong password (3031), or an unreadable file.
class ReferenceDatabaseOpener {
 public:
  virtual ~ReferenceDatabaseOpener() = default;
  virtual std::unique_ptr<ReferenceDatabase> open(const std::string& path,
                                                  const std::string& connect) = 0;
};

// The implementation on mdbtools.
std::unique_ptr<ReferenceDatabaseOpener> makeMdbOpener();

}  // namespace ku
