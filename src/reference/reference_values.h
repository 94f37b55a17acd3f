// The reference-value refresh: every derived cell of the window (engineering
// units from the slot values and the constants of model/slot_table.h), in its
// fixed order. The two database lookups it runs are in lookups.h, the database
// boundary in reference_database.h (mdbtools behind it in mdb_database.cpp, a
// cache in db_cache.h), and how numbers are written in number_text.h.
#pragma once

#include <string>

#include "model/slot_table.h"
#include "reference/lookups.h"
#include "reference/number_text.h"

namespace ku {

// The three label columns that the refresh writes.
class ReferenceCells {
 public:
  virtual ~ReferenceCells() = default;
  virtual void setReferenceValue(int row, const std::string& text) = 0;    // reference column
  virtual void setReferenceUnit(int row, const std::string& text) = 0;     // unit beside it
  virtual void setDescriptionValue(int row, const std::string& text) = 0;  // description figure
};

struct ReferenceInputs {
  const SlotValueArray& slotValues;
  const std::string& pulseWidthText;  // text of the pulse-width box
  bool portReady;
  const NumberLocale& locale;
};

// Runs the refresh. Catches nothing: a failure throws KuError at its step and the
// later cells keep their text.
void refreshReferenceValues(const ReferenceInputs& in, ReferenceLookups& lookups,
                            const LookupValues& values, ReferenceCells& cells);

// Reads a number as the locale writes it (blanks around, sign, separator,
// exponent); throws 13 for text that is not a number, 6 beyond the double range.
double parseNumber(const std::string& text, const NumberLocale& loc);

}  // namespace ku
