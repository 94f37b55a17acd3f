// Rounding to thousandths, number text and number reading.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <limits>
#include <string>

#include "model/errors.h"
#include "reference/number_text.h"
#include "reference/reference_values.h"

namespace ku {
namespace {

struct RoundCase {
  double in;
  double out;
};

TEST(Round3, ExactHalvesGoToEvenOthersToNearest) {
  const RoundCase cases[] = {
      {0.0625, 0.062},    // exactly half a thousandth: to the even digit
      {0.1875, 0.188},    // exactly half, even digit above
      {-0.0625, -0.062},  // the same below zero
      {2.0625, 2.062},
      {0.0635, 0.064},  // 0.0635 as a double lies above the half
      {1.0005, 1.0},    // as a double slightly below the half
      {0.0005, 0.001},  // slightly above the half
      {0.00049, 0.0},
      {15.040999999999997, 15.041},
      {65.04065040650407, 65.041},
      {50.0, 50.0},
      {-7.0, -7.0},
      {1e300, 1e300},
      {0.0, 0.0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(round3(c.in), c.out) << "round3(" << c.in << ")";
  }
}

TEST(Round3, NeverGivesNegativeZero) {
  EXPECT_FALSE(std::signbit(round3(-0.0004)));
  EXPECT_FALSE(std::signbit(round3(-0.0)));
}

TEST(Round3, LeavesNonFiniteAlone) {
  EXPECT_TRUE(std::isnan(round3(std::nan(""))));
  EXPECT_TRUE(std::isinf(round3(std::numeric_limits<double>::infinity())));
}

struct TextCase {
  double in;
  const char* dot;
  const char* comma;
};

TEST(NumberText, PlainDecimalWithAtMostFifteenDigits) {
  const TextCase cases[] = {
      {50, "50", "50"},
      {65.041, "65.041", "65,041"},
      {15.040999999999997, "15.041", "15,041"},
      {-3.5, "-3.5", "-3,5"},
      {0.001, "0.001", "0,001"},
      {0.0001234, "0.0001234", "0,0001234"},
      {1e-20, "0.00000000000000000001", "0,00000000000000000001"},
      {123456789012345.6, "123456789012346", "123456789012346"},
      {1e20, "100000000000000000000", "100000000000000000000"},
      {-0.0, "0", "0"},
      {0.1 + 0.2, "0.3", "0,3"},
      {619.355, "619.355", "619,355"},
      {-1.5e15, "-1500000000000000", "-1500000000000000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(numberText(c.in, NumberLocale{"."}), c.dot) << c.in;
    EXPECT_EQ(numberText(c.in, NumberLocale{","}), c.comma) << c.in;
  }
}

TEST(NumberText, NonFiniteNumbersHaveFixedWords) {
  // Never the C library's "nan" or "inf", never digits that look like a figure.
  for (const char* sep : {".", ","}) {
    EXPECT_EQ(numberText(std::nan(""), NumberLocale{sep}), "NaN");
    EXPECT_EQ(numberText(std::numeric_limits<double>::infinity(), NumberLocale{sep}), "Infinity");
    EXPECT_EQ(numberText(-std::numeric_limits<double>::infinity(), NumberLocale{sep}), "-Infinity");
  }
}

// The decimal separator that NumberLocale::system() finds under the given
// locale setting, taken in a child process (the system locale is read once).
std::string separatorUnder(const char* lcAll) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    ::setenv("LC_ALL", lcAll, 1);
    const std::string sep = NumberLocale::system().decimalPoint;
    const ssize_t n = ::write(fds[1], sep.data(), sep.size());
    ::_exit(n == static_cast<ssize_t>(sep.size()) ? 0 : 1);
  }
  ::close(fds[1]);
  std::string got;
  char buf[16];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
    got.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return got;
}

TEST(NumberText, TheSystemLocaleGivesTheSeparator) {
  EXPECT_EQ(separatorUnder("de_DE.UTF-8"), ",");
  EXPECT_EQ(separatorUnder("en_GB.UTF-8"), ".");
  EXPECT_EQ(separatorUnder("C"), ".");
}

struct ParseCase {
  const char* text;
  const char* sep;
  double value;
};

TEST(ParseNumber, ReadsNumbersAsTheLocaleWritesThem) {
  const ParseCase cases[] = {
      {"0", ".", 0},          {"1", ".", 1},       {" 1.5 ", ".", 1.5}, {"-2", ".", -2},
      {"+2.25", ".", 2.25},   {".5", ".", 0.5},    {"5.", ".", 5},      {"1e3", ".", 1000},
      {"1.5E-2", ".", 0.015}, {"2e+1", ".", 20},   {"1,5", ",", 1.5},   {"\t7\t", ".", 7},
      {"1e-400", ".", 0},     {"000012", ".", 12}, {"0.1", ".", 0.1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parseNumber(c.text, NumberLocale{c.sep}), c.value) << '"' << c.text << '"';
  }
}

TEST(ParseNumber, TextThatIsNotANumberIsATypeMismatch) {
  const ParseCase cases[] = {
      {"", ".", 0},    {" ", ".", 0},     {"-", ".", 0},    {".", ".", 0},   {"abc", ".", 0},
      {"1,5", ".", 0}, {"1.5", ",", 0},   {"1e", ".", 0},   {"1e+", ".", 0}, {"1 2", ".", 0},
      {"--1", ".", 0}, {"1.5.2", ".", 0}, {"0x10", ".", 0}, {"inf", ".", 0}, {"nan", ".", 0},
      {"e5", ".", 0},  {"1.5x", ".", 0},
  };
  for (const auto& c : cases) {
    try {
      parseNumber(c.text, NumberLocale{c.sep});
      ADD_FAILURE() << '"' << c.text << "\" was accepted";
    } catch (const KuError& e) {
      EXPECT_EQ(e.code(), kTypeMismatch) << '"' << c.text << '"';
    }
  }
}

TEST(ParseNumber, BeyondTheDoubleRangeIsAnOverflow) {
  for (const char* text : {"1e309", "-1e400", "99999e99999999999999"}) {
    try {
      parseNumber(text, NumberLocale{});
      ADD_FAILURE() << text << " was accepted";
    } catch (const KuError& e) {
      EXPECT_EQ(e.code(), kOverflow) << text;
    }
  }
}

}  // namespace
}  // namespace ku
