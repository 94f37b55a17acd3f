#include "reference/number_text.h"

#include <QLocale>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>
#include <system_error>

#include "model/errors.h"
#include "reference/reference_values.h"

namespace ku {

NumberLocale NumberLocale::system() {
  NumberLocale loc;
  const std::string sep = QLocale::system().decimalPoint().toStdString();
  if (!sep.empty()) loc.decimalPoint = sep;
  return loc;
}

double round3(double x) {
  if (!std::isfinite(x)) return x;
  // to_chars formats the exact binary value and sends only an exact half to the
  // even digit; from_chars gives back the double nearest to that decimal.
  std::array<char, 400> buf{};
  auto out = std::to_chars(buf.data(), buf.data() + buf.size(), x, std::chars_format::fixed, 3);
  if (out.ec != std::errc()) return x;
  double r = 0;
  auto in = std::from_chars(buf.data(), out.ptr, r);
  if (in.ec != std::errc()) return x;
  if (r == 0) return 0.0;  // no negative zero
  return r;
}

std::string numberText(double x, const NumberLocale& loc) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x < 0 ? "-Infinity" : "Infinity";
  if (x == 0) return "0";
  // 15 significant digits in scientific form, then written out without exponent.
  std::array<char, 64> buf{};
  auto out =
      std::to_chars(buf.data(), buf.data() + buf.size(), x, std::chars_format::scientific, 14);
  if (out.ec != std::errc()) return "0";
  std::string s(buf.data(), out.ptr);
  bool negative = false;
  std::size_t i = 0;
  if (s[i] == '-') {
    negative = true;
    ++i;
  }
  std::string digits;
  for (; i < s.size() && s[i] != 'e'; ++i) {
    if (s[i] != '.') digits.push_back(s[i]);
  }
  const int exponent = (i < s.size()) ? std::atoi(s.c_str() + i + 1) : 0;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  if (digits == "0") return "0";

  // The decimal point sits after (exponent + 1) digits.
  const int pointAt = exponent + 1;
  std::string intPart;
  std::string fracPart;
  if (pointAt <= 0) {
    intPart = "0";
    fracPart = std::string(static_cast<std::size_t>(-pointAt), '0') + digits;
  } else if (static_cast<std::size_t>(pointAt) >= digits.size()) {
    intPart = digits + std::string(static_cast<std::size_t>(pointAt) - digits.size(), '0');
  } else {
    intPart = digits.substr(0, static_cast<std::size_t>(pointAt));
    fracPart = digits.substr(static_cast<std::size_t>(pointAt));
  }
  std::string text = negative ? "-" : "";
  text += intPart;
  if (!fracPart.empty()) {
    text += loc.decimalPoint;
    text += fracPart;
  }
  return text;
}

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

[[noreturn]] void notANumber(const std::string& text) {
  throw KuError(kTypeMismatch, "Type mismatch: \"" + text + "\" is not a number");
}

}  // namespace

double parseNumber(const std::string& text, const NumberLocale& loc) {
  const std::string& sep = loc.decimalPoint.empty() ? std::string(".") : loc.decimalPoint;
  std::size_t i = 0;
  std::size_t end = text.size();
  while (i < end && isBlank(text[i])) ++i;
  while (end > i && isBlank(text[end - 1])) --end;

  // Rebuilt in the form from_chars reads: [-]digits[.digits][e[-]digits].
  std::string plain;
  if (i < end && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') plain.push_back('-');
    ++i;
  }
  int mantissaDigits = 0;
  // Power of ten of the first non-zero digit (before the exponent), to tell an
  // overflow from an underflow.
  long long leadPower = 0;
  bool seenNonZero = false;
  int intDigits = 0;
  int firstIntNonZero = -1;
  while (i < end && isDigit(text[i])) {
    if (!seenNonZero && text[i] != '0') {
      seenNonZero = true;
      firstIntNonZero = intDigits;
    }
    plain.push_back(text[i++]);
    ++mantissaDigits;
    ++intDigits;
  }
  if (i < end && text.compare(i, sep.size(), sep) == 0) {
    i += sep.size();
    plain.push_back('.');
    int fracDigits = 0;
    while (i < end && isDigit(text[i])) {
      if (!seenNonZero && text[i] != '0') {
        seenNonZero = true;
        leadPower = -fracDigits - 1;
      }
      plain.push_back(text[i++]);
      ++mantissaDigits;
      ++fracDigits;
    }
  }
  if (mantissaDigits == 0) notANumber(text);
  if (firstIntNonZero >= 0) leadPower = intDigits - firstIntNonZero - 1;
  long long exponent = 0;
  if (i < end && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) {
      expNegative = text[i] == '-';
      ++i;
    }
    if (i >= end || !isDigit(text[i])) notANumber(text);
    while (i < end && isDigit(text[i])) {
      if (exponent < 100000000) exponent = exponent * 10 + (text[i] - '0');
      ++i;
    }
    if (expNegative) exponent = -exponent;
    plain += "e" + std::to_string(exponent);
  }
  if (i != end) notANumber(text);

  double value = 0;
  auto r = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (r.ec == std::errc::result_out_of_range) {
    // Beyond the range of a double: too large overflows, too small is zero.
    if (seenNonZero && leadPower + exponent >= 0) {
      throw KuError(kOverflow, "Overflow: \"" + text + "\"");
    }
    return 0.0;
  }
  if (r.ec != std::errc() || r.ptr != plain.data() + plain.size()) notANumber(text);
  return value;
}

}  // namespace ku
