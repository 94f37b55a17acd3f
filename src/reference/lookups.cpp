#include "reference/lookups.h"

#include <cmath>
#include <memory>
#include <utility>

#include "model/errors.h"
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
      : db_(opener.open(path, kReferenceConnect)) {}
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
  void close() {
    auto db = std::move(db_);
    db->close();
  }

 private:
  std::unique_ptr<ReferenceDatabase> db_;
};

// A value converted to text when it is read; Null cannot be.
std::string valueText(const DbValue& v) {
  return dbValueText(v, NumberLocale{});
}

}  // namespace

ReferenceLookups::ReferenceLookups(ReferenceDatabaseOpener& opener, std::string dbPath,
                                   LookupValues& values)
    : opener_(opener), path_(std::move(dbPath)), values_(values) {}

void ReferenceLookups::lookUpRfControl(std::int16_t key) {
  OpenDatabase db(opener_, path_);
  db->query(rfControlQuery(key));
  while (!db->atEnd()) {
    values_.testSignal = db->field("TESTSIGNAL");
    values_.band = db->field("BAND");
    db->moveNext();
  }
  db.close();
}

void ReferenceLookups::lookUpConfig(std::int16_t key) {
  OpenDatabase db(opener_, path_);
  db->query(configQuery(key));
  while (!db->atEnd()) {
    values_.nbl = db->field("NBL");
    values_.nbf = db->field("NBF");
    values_.cfg3Text = valueText(db->field("CFG3"));
    values_.cfg3Set = true;
    db->moveNext();
  }
  db.close();
}

std::string dbValueText(const DbValue& v, const NumberLocale& loc) {
  if (std::holds_alternative<DbNull>(v)) throw KuError(kInvalidUseOfNull, "Invalid use of Null");
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* d = std::get_if<double>(&v)) return numberText(*d, loc);
  return {};
}

}  // namespace ku
