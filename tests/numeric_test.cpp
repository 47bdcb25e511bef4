// numeric_test.cpp: integer and real form fields.
#include <gtest/gtest.h>
#include <limits.h>
#include <locale.h>
#include <math.h>
#include <string.h>

#include "support.h"

namespace {

const std::string zeros(400, '0');

struct NumericCase {
  std::string form;
  cgiFieldResult intResult;
  int intValue;
  cgiFieldResult realResult;
  double realValue;
  const char *label;
};

// The field is "n"; the defaults are 7 and 7.5.
const NumericCase numericCases[] = {
    {"m=1", cgiResultAbsent, 7, cgiResultAbsent, 7.5, "absent"},
    {"n=", cgiResultEmpty, 7, cgiResultEmpty, 7.5, "empty"},
    {"n=%20%09%0D%0A", cgiResultNotNumeric, 7, cgiResultNotNumeric, 7.5, "blanks only"},
    {"n=%20%09%0A%0D42", cgiResultOk, 42, cgiResultOk, 42, "blanks then digits"},
    {"n=%0B42", cgiResultNotNumeric, 7, cgiResultNotNumeric, 7.5, "vertical tab"},
    {"n=%0C42", cgiResultNotNumeric, 7, cgiResultNotNumeric, 7.5, "form feed"},
    {"n=%805", cgiResultNotNumeric, 7, cgiResultNotNumeric, 7.5, "byte 0x80"},
    {"n=x5", cgiResultNotNumeric, 7, cgiResultNotNumeric, 7.5, "letter"},
    {"n=12abc", cgiResultOk, 12, cgiResultOk, 12, "digits then letters"},
    {"n=-", cgiResultOk, 0, cgiResultOk, 0, "lone minus"},
    {"n=%2B", cgiResultOk, 0, cgiResultOk, 0, "lone plus"},
    {"n=.", cgiResultNotNumeric, 7, cgiResultOk, 0, "lone point"},
    {"n=.5", cgiResultNotNumeric, 7, cgiResultOk, 0.5, "point five"},
    {"n=-.5", cgiResultOk, 0, cgiResultOk, -0.5, "minus point five"},
    {"n=%2B8.25", cgiResultOk, 8, cgiResultOk, 8.25, "plus sign"},
    {"n=-12.5e2x", cgiResultOk, -12, cgiResultOk, -1250, "exponent"},
    {"n=3e%2Bx", cgiResultOk, 3, cgiResultOk, 3, "exponent without digits"},
    {"n=4.E-1", cgiResultOk, 4, cgiResultOk, 0.4, "point without fraction"},
    {"n=0.1", cgiResultOk, 0, cgiResultOk, 0.1, "nearest double"},
    {"n=0x1A", cgiResultOk, 0, cgiResultOk, 0, "no hexadecimal"},
    {"n=1%2C5", cgiResultOk, 1, cgiResultOk, 1, "comma ends the number"},
    {"n=-inf", cgiResultOk, 0, cgiResultOk, 0, "infinity word"},
    {"n=%2Bnan", cgiResultOk, 0, cgiResultOk, 0, "not-a-number word"},
    {"n=inf", cgiResultNotNumeric, 7, cgiResultNotNumeric, 7.5, "bare word"},
    {"n=99999999999", cgiResultOk, INT_MAX, cgiResultOk, 99999999999.0, "above int"},
    {"n=-99999999999", cgiResultOk, INT_MIN, cgiResultOk, -99999999999.0, "below int"},
    {"n=-1e999", cgiResultOk, -1, cgiResultOk, -HUGE_VAL, "real overflow"},
    {"n=1e-999", cgiResultOk, 1, cgiResultOk, 0, "real underflow"},
    {"n=1" + zeros + "e-50", cgiResultOk, INT_MAX, cgiResultOk, HUGE_VAL, "long overflow"},
    {"n=0." + zeros + "1e50", cgiResultOk, 0, cgiResultOk, 0, "long underflow"},
    {"n=5&n=9", cgiResultOk, 5, cgiResultOk, 5, "first entry only"},
    {"n=x&n=9", cgiResultNotNumeric, 7, cgiResultNotNumeric, 7.5, "second entry ignored"},
};

TEST(Numeric, ReadsFirstValue) {
  for (const NumericCase &c : numericCases) {
    setForm(c.form);
    int i = -1;
    double d = -1;
    EXPECT_EQ(cgiFormInteger("n", &i, 7), c.intResult) << c.label;
    EXPECT_EQ(i, c.intValue) << c.label;
    EXPECT_EQ(cgiFormDouble("n", &d, 7.5), c.realResult) << c.label;
    EXPECT_EQ(d, c.realValue) << c.label;
  }
}

// Bounded reads with the default 99 (99.5 for reals).
const struct {
  const char *form;
  int min, max;
  cgiFieldResult intResult;
  int intValue;
  cgiFieldResult realResult;
  double realValue;
} boundedCases[] = {
    {"n=0", 1, 10, cgiResultClamped, 1, cgiResultClamped, 1},
    {"n=11", 1, 10, cgiResultClamped, 10, cgiResultClamped, 10},
    {"n=1", 1, 10, cgiResultOk, 1, cgiResultOk, 1},
    {"n=10", 1, 10, cgiResultOk, 10, cgiResultOk, 10},
    {"n=10.5", 1, 10, cgiResultOk, 10, cgiResultClamped, 10},
    {"n=0.5", 1, 10, cgiResultClamped, 1, cgiResultClamped, 1},
    {"n=99999999999", 1, 10, cgiResultClamped, 10, cgiResultClamped, 10},
    {"n=-1e999", 1, 10, cgiResultClamped, 1, cgiResultClamped, 1},
    {"m=5", 1, 10, cgiResultAbsent, 99, cgiResultAbsent, 99.5},
    {"n=", 1, 10, cgiResultEmpty, 99, cgiResultEmpty, 99.5},
    {"n=x", 1, 10, cgiResultNotNumeric, 99, cgiResultNotNumeric, 99.5},
    {"n=5", 10, 1, cgiResultClamped, 10, cgiResultClamped, 10},
    {"n=20", 10, 1, cgiResultClamped, 1, cgiResultClamped, 1},
    {"n=10", 10, 1, cgiResultClamped, 1, cgiResultClamped, 1},
};

TEST(Numeric, Bounded) {
  for (const auto &c : boundedCases) {
    setForm(c.form);
    int i = -1;
    double d = -1;
    std::string label =
        std::string(c.form) + " in " + std::to_string(c.min) + ".." + std::to_string(c.max);
    EXPECT_EQ(cgiFormIntegerBounded("n", &i, c.min, c.max, 99), c.intResult) << label;
    EXPECT_EQ(i, c.intValue) << label;
    EXPECT_EQ(cgiFormDoubleBounded("n", &d, c.min, c.max, 99.5), c.realResult) << label;
    EXPECT_EQ(d, c.realValue) << label;
  }
}

TEST(Numeric, FirstNonspaceChar) {
  EXPECT_EQ(cgiFirstNonspaceChar(" \t\r\n\vx"), '\v');
  EXPECT_EQ(cgiFirstNonspaceChar(" \t\r\n"), '\0');
  EXPECT_EQ(cgiFirstNonspaceChar("\x80"), 0x80);
}

// A locale whose decimal point is a comma must not change what is read.
TEST(Numeric, IgnoresLocale) {
  const char *names[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE"};
  const char *found = nullptr;
  for (const char *name : names)
    if (!found && setlocale(LC_ALL, name) && strcmp(localeconv()->decimal_point, ",") == 0)
      found = name;
  if (!found) {
    setlocale(LC_ALL, "C");
    GTEST_SKIP() << "no-comma-locale: no locale with a decimal comma is installed";
  }
  setForm("a=1.5e1&b=2%2C5&c=-42");
  double a = 0, b = 0;
  int c = 0;
  EXPECT_EQ(cgiFormDouble("a", &a, 0), cgiResultOk);
  EXPECT_EQ(cgiFormDouble("b", &b, 0), cgiResultOk);
  EXPECT_EQ(cgiFormInteger("c", &c, 0), cgiResultOk);
  setlocale(LC_ALL, "C");
  EXPECT_EQ(a, 15) << found;
  EXPECT_EQ(b, 2) << found;
  EXPECT_EQ(c, -42) << found;
}

}  // namespace
