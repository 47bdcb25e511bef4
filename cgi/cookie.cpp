// cookie.cpp: cookies, read from HTTP_COOKIE on demand and set with
// Set-Cookie header fields.
#include <stdio.h>
#include <string.h>

#include "internal.h"

extern "C" {

// Browsers drop a cookie whose name and value exceed this many bytes, and
// ignore an attribute value longer than cgiCookieAttributeMax.
#define cgiCookiePairMax 4096
#define cgiCookieAttributeMax 1024

// Whether c is a blank that may surround a cookie's name or value.
static int cgiCookieBlank(char c) {
  return c == ' ' || c == '\t';
}

// Narrows [*from, *to) by the blanks at both ends.
static void cgiCookieTrim(const char **from, const char **to) {
  while (*from < *to && cgiCookieBlank(**from)) (*from)++;
  while (*to > *from && cgiCookieBlank((*to)[-1])) (*to)--;
}

// Copies the length bytes at from into result (size max, NUL included), cut
// to max - 1 bytes; a max below 1 writes nothing.
static cgiFieldResult cgiCookieCopy(const char *from, size_t length, char *result, int max) {
  const size_t room = max > 0 ? static_cast<size_t>(max) - 1 : 0;
  const size_t stored = length < room ? length : room;
  if (max > 0) {
    memcpy(result, from, stored);
    result[stored] = '\0';
  }
  if (stored < length) return cgiResultTruncated;
  return length == 0 ? cgiResultEmpty : cgiResultOk;
}

// Finds the first pair called name in a Cookie header and sets [*from, *to)
// to its value, blanks and one pair of quotes taken off; 0 when none.
static int cgiCookieFind(const char *header, const char *name, const char **from, const char **to) {
  const size_t nameLength = strlen(name);
  for (const char *pair = header; *pair;) {
    const char *end = pair + strcspn(pair, ";");
    const char *equals = static_cast<const char *>(memchr(pair, '=', end - pair));
    if (equals) {
      const char *nameFrom = pair, *nameTo = equals;
      cgiCookieTrim(&nameFrom, &nameTo);
      if (static_cast<size_t>(nameTo - nameFrom) == nameLength &&
          memcmp(nameFrom, name, nameLength) == 0) {
        *from = equals + 1;
        *to = end;
        cgiCookieTrim(from, to);
        if (*to - *from >= 2 && **from == '"' && (*to)[-1] == '"') {
          (*from)++;
          (*to)--;
        }
        return 1;
      }
    }
    pair = *end ? end + 1 : end;
  }
  return 0;
}

// The value of the first cookie called name in the request's Cookie header;
// a replayed request has none.
cgiFieldResult cgiCookieValue(const char *name, char *result, int max) {
  char *header;
  const char *from, *to;
  cgiGetenv(&header, "HTTP_COOKIE");
  if (name && !cgiRestored && cgiCookieFind(header, name, &from, &to))
    return cgiCookieCopy(from, static_cast<size_t>(to - from), result, max);
  if (max > 0) result[0] = '\0';
  return cgiResultAbsent;
}

// Whether c is a cookie-octet: printable ASCII but blank, '"', ',', ';', '\'.
static int cgiCookieOctet(unsigned char c) {
  return c > 0x20 && c < 0x7f && c != '"' && c != ',' && c != ';' && c != '\\';
}

// Whether value is a cookie value: cookie-octets, perhaps inside one pair of
// double quotes.
static int cgiIsCookieValue(const char *value) {
  if (!value) return 0;
  size_t length = strlen(value);
  if (length >= 2 && value[0] == '"' && value[length - 1] == '"') {
    value++;
    length -= 2;
  }
  for (size_t i = 0; i < length; i++)
    if (!cgiCookieOctet(static_cast<unsigned char>(value[i]))) return 0;
  return 1;
}

// Whether path can stand as a Path attribute that a browser takes.
static int cgiIsCookiePath(const char *path) {
  if (path[0] != '/' || strlen(path) > cgiCookieAttributeMax) return 0;
  for (; *path; path++) {
    unsigned char c = static_cast<unsigned char>(*path);
    if (c < 0x20 || c > 0x7e || c == ';') return 0;
  }
  return 1;
}

// Whether domain is a host name: letters, digits, '-', '.' and '_'.
static int cgiIsCookieDomain(const char *domain) {
  size_t length = strlen(domain);
  return length > 0 && length <= cgiCookieAttributeMax &&
         strspn(domain, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._") ==
             length;
}

// The ASCII lower-case form of c; every other byte stands for itself.
static char cgiCookieLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether text begins with the lower-case prefix, ASCII letters in any case.
static int cgiHasPrefixNc(const char *text, const char *prefix) {
  for (; *prefix; text++, prefix++)
    if (cgiCookieLower(*text) != *prefix) return 0;
  return 1;
}

// Which rule, if any, the cookie breaks; cgiHeaderOk when it breaks none.
static cgiHeaderResult cgiCookieCheck(const char *name, const char *value,
                                      const cgiCookieAttributes *a, const char *path) {
  if (!cgiIsToken(name)) return cgiHeaderBadName;
  if (!cgiIsCookieValue(value)) return cgiHeaderBadValue;
  if (strlen(name) + strlen(value) > cgiCookiePairMax) return cgiHeaderTooLong;
  if (!cgiIsCookiePath(path)) return cgiHeaderBadPath;
  if (a->domain && !cgiIsCookieDomain(a->domain)) return cgiHeaderBadDomain;
  if (a->sameSite != cgiSameSiteLax && a->sameSite != cgiSameSiteStrict &&
      a->sameSite != cgiSameSiteNone)
    return cgiHeaderBadSameSite;
  if (a->sameSite == cgiSameSiteNone && !a->secure) return cgiHeaderNoneNotSecure;
  if (cgiHasPrefixNc(name, "__secure-") && !a->secure) return cgiHeaderBadPrefix;
  if (cgiHasPrefixNc(name, "__host-") && (!a->secure || a->domain || strcmp(path, "/") != 0))
    return cgiHeaderBadPrefix;
  return cgiHeaderOk;
}

// One Set-Cookie header field; see cgi.h for the rules and defaults.
cgiHeaderResult cgiHeaderSetCookie(const char *name, const char *value,
                                   const cgiCookieAttributes *attributes) {
  static const cgiCookieAttributes defaults = {};
  static const char *const sameSite[] = {"Lax", "Strict", "None"};
  const cgiCookieAttributes *a = attributes ? attributes : &defaults;
  const char *path = a->path ? a->path : "/";
  cgiHeaderResult check = cgiCookieCheck(name, value, a, path);
  if (check != cgiHeaderOk) return check;
  // The checks bound every part, so the line always fits.
  char line[cgiCookiePairMax + 2 * cgiCookieAttributeMax + 100];
  int n = snprintf(line, sizeof line, "%s=%s", name, value);
  if (a->maxAge)
    n += snprintf(line + n, sizeof line - n, "; Max-Age=%d", a->maxAge > 0 ? a->maxAge : 0);
  if (a->domain) n += snprintf(line + n, sizeof line - n, "; Domain=%s", a->domain);
  snprintf(line + n, sizeof line - n, "; Path=%s%s%s; SameSite=%s", path,
           a->secure ? "; Secure" : "", a->noHttpOnly ? "" : "; HttpOnly", sameSite[a->sameSite]);
  return cgiHeaderField("Set-Cookie", line);
}
}
