// Numbers as the window shows them.
#pragma once

#include <string>

namespace ku {

// The decimal separator of the user's locale (QLocale of the system).
struct NumberLocale {
  std::string decimalPoint = ".";
  static NumberLocale system();
};

// x rounded to 3 decimal places; only a value exactly half-way between two
// thousandths (by the double's exact value) goes to the even digit.
double round3(double x);

// Plain decimal text, at most 15 significant digits, no trailing zeros or point,
// leading minus, the locale's decimal separator: 15.040999999999997 -> "15.041".
std::string numberText(double x, const NumberLocale& loc);

}  // namespace ku
