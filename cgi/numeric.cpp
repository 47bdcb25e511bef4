// numeric.cpp: form fields as integers and reals.
#include <limits.h>
#include <math.h>

#include <charconv>

#include "internal.h"

// Moves *value into [min, max], testing the lower bound first: gives
// cgiResultClamped when it was moved, else cgiResultOk.  Ordered comparisons
// leave a NaN as it is.
template <typename T>
static cgiFieldResult cgiClamp(T *value, T min, T max) {
  if (*value < min)
    *value = min;
  else if (*value > max)
    *value = max;
  else
    return cgiResultOk;
  return cgiResultClamped;
}

extern "C" {

// Converts the decimal number at the start of s, as atoi does (leading white
// space, an optional sign, digits up to the first non-digit), but reading
// ASCII digits whatever the locale and saturating at INT_MIN and INT_MAX.
int cgiStrToInt(const char *s) {
  while (*s == ' ' || (*s >= '\t' && *s <= '\r')) s++;
  bool negative = *s == '-';
  if (*s == '-' || *s == '+') s++;
  long long magnitude = 0;
  const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
  for (; *s >= '0' && *s <= '9'; s++) {
    magnitude = magnitude * 10 + (*s - '0');
    if (magnitude > limit) magnitude = limit;
  }
  return static_cast<int>(negative ? -magnitude : magnitude);
}

// True for an ASCII decimal digit; no other byte is one, whatever the locale.
static bool cgiIsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Skips the blanks that may stand before a number: space, LF, CR and TAB only.
static const char *cgiSkipBlanks(const char *s) {
  while (*s == ' ' || *s == '\n' || *s == '\r' || *s == '\t') s++;
  return s;
}

// Skips the ASCII digits at the start of s.
static const char *cgiSkipDigits(const char *s) {
  while (cgiIsDigit(*s)) s++;
  return s;
}

// The first byte of s that is not a blank, as an unsigned char value; the
// terminating NUL when s holds nothing but blanks.
int cgiFirstNonspaceChar(const char *s) {
  return static_cast<unsigned char>(*cgiSkipBlanks(s));
}

// The value of a numeral that a double cannot hold: infinity when its
// magnitude is at least 1 (overflow), else zero (underflow), with its sign.
// digits is the mantissa, intEnd the end of its integer digits.
static double cgiOutOfRangeDouble(const char *digits, const char *intEnd, int exponent,
                                  bool negative) {
  const char *p = digits;
  while (*p == '0' || *p == '.') p++;
  // The value lies in [10^(order-1), 10^order).
  long long order = exponent + static_cast<long long>(p < intEnd ? intEnd - p : intEnd - p + 1);
  double magnitude = order > 0 ? HUGE_VAL : 0.0;
  return negative ? -magnitude : magnitude;
}

// Converts the longest prefix of s of the form [sign] digits [. digits]
// [e [sign] digits], with at least one mantissa digit, to the nearest double,
// reading ASCII digits and "." whatever the locale.  Without such a prefix
// (a lone sign or point, a sign before a letter, "inf" or "nan") it gives 0.
// Too large a magnitude gives an infinity, too small a zero, as strtod does.
static double cgiStrToDouble(const char *s) {
  bool negative = *s == '-';
  if (*s == '-' || *s == '+') s++;
  const char *intEnd = cgiSkipDigits(s);
  const char *end = *intEnd == '.' ? cgiSkipDigits(intEnd + 1) : intEnd;
  int exponent = 0;
  if (*end == 'e' || *end == 'E') {
    const char *p = end + 1;
    if (*p == '-' || *p == '+') p++;
    if (cgiIsDigit(*p)) {
      exponent = cgiStrToInt(end + 1);
      end = cgiSkipDigits(p);
    }
  }
  // from_chars reads the same prefix, but takes a "-" only, never a "+".
  double value = 0.0;
  std::from_chars_result r = std::from_chars(negative ? s - 1 : s, end, value);
  if (r.ec == std::errc::result_out_of_range)
    return cgiOutOfRangeDouble(s, intEnd, exponent, negative);
  return r.ec == std::errc() ? value : 0.0;
}

// Finds the field's first value and returns it from its first non-blank
// byte when that byte can begin a number (a digit, a sign, or with point a
// ".").  Otherwise returns null and sets *failure to the reason.
static const char *cgiNumericText(const char *name, bool point, cgiFieldResult *failure) {
  const cgiFormEntry *e = cgiFormEntryFindFirst(name);
  *failure = !e ? cgiResultAbsent : e->value[0] ? cgiResultNotNumeric : cgiResultEmpty;
  if (!e) return nullptr;
  int c = cgiFirstNonspaceChar(e->value);
  if (!cgiIsDigit(static_cast<char>(c)) && c != '-' && c != '+' && !(point && c == '.'))
    return nullptr;
  *failure = cgiResultOk;
  return cgiSkipBlanks(e->value);
}

// The field's first value as an int, saturated at the int range.
cgiFieldResult cgiFormInteger(const char *name, int *result, int defaultV) {
  cgiFieldResult r;
  const char *text = cgiNumericText(name, false, &r);
  *result = text ? cgiStrToInt(text) : defaultV;
  return r;
}

// The field's first value as an int, moved into [min, max]; lower bound first.
cgiFieldResult cgiFormIntegerBounded(const char *name, int *result, int min, int max,
                                     int defaultV) {
  cgiFieldResult r = cgiFormInteger(name, result, defaultV);
  return r == cgiResultOk ? cgiClamp(result, min, max) : r;
}

// The field's first value as a double.
cgiFieldResult cgiFormDouble(const char *name, double *result, double defaultV) {
  cgiFieldResult r;
  const char *text = cgiNumericText(name, true, &r);
  *result = text ? cgiStrToDouble(text) : defaultV;
  return r;
}

// The field's first value as a double, moved into [min, max]; lower bound
// first, by ordered comparisons.
cgiFieldResult cgiFormDoubleBounded(const char *name, double *result, double min, double max,
                                    double defaultV) {
  cgiFieldResult r = cgiFormDouble(name, result, defaultV);
  return r == cgiResultOk ? cgiClamp(result, min, max) : r;
}
}
