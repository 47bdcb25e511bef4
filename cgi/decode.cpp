// decode.cpp: URL-encoded form data into the form entry list.
#include <string.h>

#include "internal.h"

extern "C" {

int cgiHexValue[256];

// Fills the hexadecimal digit table; every byte that is not a digit weighs 0.
void cgiSetupConstants(void) {
  for (int &v : cgiHexValue) v = 0;
  for (int i = 0; i < 10; i++) cgiHexValue['0' + i] = i;
  for (int i = 0; i < 6; i++) {
    cgiHexValue['A' + i] = 10 + i;
    cgiHexValue['a' + i] = 10 + i;
  }
}

// Reads exactly cgiContentLength bytes of body from cgiIn and decodes them.
cgiParseResult cgiParsePostFormInput(void) {
  if (cgiContentLength == 0) return cgiParseOk;
  if (cgiContentLength < 0) return cgiParseNoMemory;
  char *input = static_cast<char *>(cgiMalloc(static_cast<size_t>(cgiContentLength)));
  if (!input) return cgiParseNoMemory;
  size_t length = static_cast<size_t>(cgiContentLength);
  cgiParseResult result = cgiParseShortRead;
  if (fread(input, 1, length, cgiIn) == length) result = cgiParseFormInput(input, cgiContentLength);
  free(input);
  return result;
}

// Decodes the query string; the driver has set cgiContentLength to its length.
cgiParseResult cgiParseGetFormInput(void) {
  return cgiParseFormInput(cgiQueryString, cgiContentLength);
}

// Appends a new entry holding the decoded name and value to *tail.
static cgiParseResult cgiAppendEntry(cgiFormEntry ***tail, const char *name, int nameLength,
                                     const char *value, int valueLength) {
  char *decodedName, *decodedValue;
  if (cgiUnescapeChars(&decodedName, name, nameLength) != cgiParseOk) return cgiParseNoMemory;
  if (cgiUnescapeChars(&decodedValue, value, valueLength) != cgiParseOk) {
    free(decodedName);
    return cgiParseNoMemory;
  }
  cgiFormEntry *e = static_cast<cgiFormEntry *>(cgiMalloc(sizeof(cgiFormEntry)));
  if (!e) {
    free(decodedName);
    free(decodedValue);
    return cgiParseNoMemory;
  }
  e->name = decodedName;
  e->value = decodedValue;
  e->next = nullptr;
  **tail = e;
  *tail = &e->next;
  return cgiParseOk;
}

// Splits length bytes of form data at "=" and "&" and appends one entry per
// pair.  Bytes after the last "=" that have no "=" of their own are dropped.
cgiParseResult cgiParseFormInput(const char *data, int length) {
  cgiFormEntry **tail = &cgiFormEntryFirst;
  while (*tail) tail = &(*tail)->next;
  const char *pos = data, *end = data + (length > 0 ? length : 0);
  while (pos < end) {
    const char *eq = static_cast<const char *>(memchr(pos, '=', static_cast<size_t>(end - pos)));
    if (!eq) break;
    const char *value = eq + 1;
    const char *amp =
        static_cast<const char *>(memchr(value, '&', static_cast<size_t>(end - value)));
    const char *valueEnd = amp ? amp : end;
    if (cgiAppendEntry(&tail, pos, static_cast<int>(eq - pos), value,
                       static_cast<int>(valueEnd - value)) != cgiParseOk)
      return cgiParseNoMemory;
    if (!amp) break;
    pos = amp + 1;
  }
  return cgiParseOk;
}

// Decodes len raw bytes ("+" as space, "%" and two digits as one byte) into a
// new NUL-terminated text stored in *s.
cgiParseResult cgiUnescapeChars(char **s, const char *cp, int len) {
  size_t n = len > 0 ? static_cast<size_t>(len) : 0;
  char *out = static_cast<char *>(cgiMalloc(n + 1));
  if (!out) return cgiParseNoMemory;
  const unsigned char *in = reinterpret_cast<const unsigned char *>(cp), *end = in + n;
  char *o = out;
  while (in < end) {
    unsigned char c = *in++;
    if (c == '+') {
      *o++ = ' ';
    } else if (c != '%') {
      *o++ = static_cast<char>(c);
    } else if (end - in >= 2) {
      *o++ = static_cast<char>(cgiHexValue[in[0]] * 16 + cgiHexValue[in[1]]);
      in += 2;
    } else {
      break;  // an escape cut short at the end writes nothing
    }
  }
  *o = '\0';
  *s = out;
  return cgiParseOk;
}
}
