// numeric.cpp: form fields as integers and reals.
#include <limits.h>

#include "internal.h"

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
}
