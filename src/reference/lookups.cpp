#include "reference/lookups.h"

#include <cmath>
#include <memory>
#include <utility>

#include "model/errors.h"
#include "model/log.h"
#include "reference/number_text.h"

namespace ku {

std::string rfControlQuery(std::int16_t key) {
  return "SELECT * FROM RFcontrol WHERE DECVAL =  " + std::to_string(key);
}

std::string configQuery(std::int16_t key) {
  return "SELECT * FROM CONFIG WHERE CDV =  " + std::to_string(key);
}

namespace {

// The database is open only inside one lookup: closed on the way out, also
// when a step fails.
class OpenDatabase {
 public:
  OpenDatabase(ReferenceDatabaseOpener& opener, const std::string& path)
      : db_(opener.open(path, kReferenceConnect)) {
    qCDebug(lcReference, "opened %s", path.c_str());
  }
  ~OpenDatabase() {
    if (!db_) return;
    try {
      db_->close();
    } catch (...) {
      // Closing after a failure must not hide the failure itself.
    }
  }
  OpenDatabase(const OpenDatabase&) = delete;
  OpenDatabase& operator=(const OpenDatabase&) = delete;
  ReferenceDatabase* operator->() { return db_.get(); }
  ReferenceDatabase& operator*() { return *db_; }
  void close() {
    auto db = std::move(db_);
    db->close();
  }

 private:
  std::unique_ptr<ReferenceDatabase> db_;
};

// One lookup: opens the database, runs sql, hands each row to take and closes
// it again; the log has the query, its rows and any failure.
template <typename Take>
void lookUp(ReferenceDatabaseOpener& opener, const std::string& path, const std::string& sql,
            Take take) {
  try {
    OpenDatabase db(opener, path);
    db->query(sql);
    int rows = 0;
    while (!db->atEnd()) {
      take(*db);
      ++rows;
      db->moveNext();
    }
    db.close();
    qCDebug(lcReference, "%s: %d row(s)", sql.c_str(), rows);
  } catch (const std::exception& e) {
    qCDebug(lcReference, "%s failed: %s", sql.c_str(), e.what());
    throw;
  }
}

// A value converted to text when it is read; Null cannot be.
std::string valueText(const DbValue& v) {
  return dbValueText(v, NumberLocale{});
}

}  // namespace

ReferenceLookups::ReferenceLookups(ReferenceDatabaseOpener& opener, std::string dbPath,
                                   LookupValues& values)
    : opener_(opener), path_(std::move(dbPath)), values_(values) {}

void ReferenceLookups::lookUpRfControl(std::int16_t key) {
  lookUp(opener_, path_, rfControlQuery(key), [this](const ReferenceDatabase& row) {
    values_.testSignal = row.field("TESTSIGNAL");
    values_.band = row.field("BAND");
  });
}

void ReferenceLookups::lookUpConfig(std::int16_t key) {
  lookUp(opener_, path_, configQuery(key), [this](const ReferenceDatabase& row) {
    values_.nbl = row.field("NBL");
    values_.nbf = row.field("NBF");
    values_.cfg3Text = valueText(row.field("CFG3"));
    values_.cfg3Set = true;
  });
}

std::string dbValueText(const DbValue& v, const NumberLocale& loc) {
  if (std::holds_alternative<DbNull>(v)) throw KuError(kInvalidUseOfNull, "Invalid use of Null");
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* d = std::get_if<double>(&v)) return numberText(*d, loc);
  return {};
}

}  // namespace ku
