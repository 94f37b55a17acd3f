// The reference database on mdbtools (libmdb and libmdbsql).
#include <glib.h>  // before mdbtools, which includes it inside extern "C"
// clang-format off
#include <mdbtools.h>
#include <mdbsql.h>
// clang-format on

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "model/errors.h"
#include "reference/mdb_file_header.h"
#include "reference/mdb_quiet_stderr.h"
#include "reference/mdb_table_check.h"
#include "reference/mdb_values.h"
#include "reference/reference_database.h"

namespace ku {
namespace {

using mdb::convertField;
using mdb::fixedWidth;
using mdb::isNumericType;
using mdb::kDbCannotOpen;
using mdb::QuietStderr;
using mdb::sameName;
using mdb::TableStructure;
using mdb::unrecognised;

// Engine codes with no name in the shared list.
constexpr int kDbNoCurrentRecord = 3021;   // a field read past the last row
constexpr int kDbTooFewParameters = 3061;  // a WHERE clause names an unknown column
constexpr int kDbSyntaxError = 3075;

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
    const mdb::Header header = mdb::readHeader(path);
    if (!header.password.empty() && header.password != mdb::utf16(mdb::connectPassword(connect))) {
      throw KuError(kDbNotValidPassword, "Not a valid password.");
    }
    TableStructure structure(path, header.jet3);
    structure.check(mdb::kCatalogPage);
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
        value = convertField(mdb, col, fd, bound, pageSize);
        break;
      }
      row_.emplace_back(sqlColumn->name, std::move(value));
    }
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