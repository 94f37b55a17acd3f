// The two lookups of the control bytes' meanings in the reference database.
#pragma once

#include <cstdint>
#include <string>

#include "reference/db_value.h"
#include "reference/reference_database.h"

namespace ku {

inline constexpr const char* kReferenceDbName = "TKUUtil.mdb";
inline constexpr const char* kReferenceConnect = "MS Access;PWD=MOREL";

// Shared values of the start-up module, empty at start.
struct LookupValues {
  DbValue testSignal;
  DbValue band;
  DbValue nbl;
  DbValue nbf;
  std::string cfg3Text;
  bool cfg3Set = false;  // cfg3Text was assigned (it starts as empty text)
};

std::string rfControlQuery(std::int16_t key);  // "SELECT * FROM RFcontrol WHERE DECVAL =  <key>"
std::string configQuery(std::int16_t key);     // "SELECT * FROM CONFIG WHERE CDV =  <key>"

class ReferenceLookups {
 public:
  // dbPath: the program's folder joined with TKUUtil.mdb.
  ReferenceLookups(ReferenceDatabaseOpener& opener, std::string dbPath, LookupValues& values);
  void lookUpRfControl(std::int16_t key);
  void lookUpConfig(std::int16_t key);

 private:
  ReferenceDatabaseOpener& opener_;
  std::string path_;
  LookupValues& values_;
};

// A value shown as text; Null throws 94.
std::string dbValueText(const DbValue& v, const struct NumberLocale& loc);

}  // namespace ku
