// Values as the engine hands them over: column names compared as the engine
// compares them, numeric column kinds, numbers the engine wrote as text, and a
// cracked field converted to a DbValue.
#pragma once

#include <glib.h>  // before mdbtools, which includes it inside extern "C"
// clang-format off
#include <mdbtools.h>
#include <mdbsql.h>
// clang-format on

#include <string>

#include "reference/db_value.h"

namespace ku::mdb {

// Column names compare without regard to ASCII case.
bool sameName(const char* a, const std::string& b);
bool isNumericType(int type);
// A number written by the engine as text ("2.5", "-3", possibly with a comma).
double numberFromText(std::string s);
// Bytes a fixed-width column's value takes; 0 for the others.
int fixedWidth(int type);
// The value of a cracked field: a Null, a number read from the row's bytes (when
// they lie within the page), or the text the engine bound for it.
DbValue convertField(MdbHandle* mdb, const MdbColumn* col, const MdbField& fd, const char* bound,
                     unsigned pageSize);

}  // namespace ku::mdb
