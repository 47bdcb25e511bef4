// decode.cpp: URL-encoded form data into the form entry list.
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// Allocates a large block (a request body, a long value) on a huge-page
// boundary and asks the kernel to back it with huge pages: a first touch of
// each 2 MiB then costs one page fault instead of 512, which is most of the
// time a large request takes.  The block is released with free as any other.
void *cgiMallocLarge(size_t size) {
  void *block;
  if (posix_memalign(&block, CGI_HUGE_PAGE, size) != 0) return nullptr;
#ifdef MADV_HUGEPAGE
  size_t whole = size & ~static_cast<size_t>(CGI_HUGE_PAGE - 1);
  if (whole) madvise(block, whole, MADV_HUGEPAGE);  // only advice: no result to check
#endif
  return block;
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

// Decodes the bytes from in up to stop into *out, one at a time; an escape
// that starts before stop may take its digits from up to end.  Returns the
// first byte not decoded, or end when an escape was cut short by the end.
static const unsigned char *cgiUnescapeRun(const unsigned char *in, const unsigned char *stop,
                                           const unsigned char *end, char **out) {
  char *o = *out;
  while (in < stop) {
    unsigned char c = *in++;
    if (c == '+') {
      *o++ = ' ';
    } else if (c != '%') {
      *o++ = static_cast<char>(c);
    } else if (end - in >= 2) {
      *o++ = static_cast<char>(cgiHexValue[in[0]] * 16 + cgiHexValue[in[1]]);
      in += 2;
    } else {
      in = end;  // an escape cut short at the end writes nothing
      break;
    }
  }
  *out = o;
  return in;
}

#ifdef __SSE2__
// Sets bit i of *percents where byte i of the 64 at in is "%", and of
// *specials where it is "%" or "+".
static void cgiMarkSpecials(const unsigned char *in, uint64_t *percents, uint64_t *specials) {
  *percents = *specials = 0;
  for (int i = 0; i < 4; i++) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 16 * i));
    uint64_t p =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('%'))));
    uint64_t q =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('+'))));
    *percents |= p << (16 * i);
    *specials |= (p | q) << (16 * i);
  }
}

// Copies run bytes from in to o in 16-byte pieces; up to 15 bytes after
// them are written too, which the output that follows overwrites.
static void cgiCopyRun(char *o, const unsigned char *in, unsigned run) {
  for (unsigned i = 0;; i += 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(o + i), bytes);
    if (i + 16 >= run) break;
  }
}

// Decodes the 64 bytes at in, behind which at least 16 more follow, into
// *out.  When no "%" stands where an earlier one's digits are, every "%"
// starts an escape, so the escapes and plus signs are found from the bit
// masks alone and the plain runs between them are copied in bulk; otherwise
// the block is decoded byte by byte.  Returns the first byte not decoded
// (an escape near the end may reach up to two bytes past the block).
static const unsigned char *cgiUnescapeBlock(const unsigned char *in, const unsigned char *end,
                                             char **out) {
  uint64_t percents, specials;
  cgiMarkSpecials(in, &percents, &specials);
  uint64_t digits = percents << 1 | percents << 2;
  if (percents & digits) return cgiUnescapeRun(in, in + 64, end, out);
  specials &= ~digits;
  char *o = *out;
  unsigned p = 0;
  while (specials) {
    unsigned k = static_cast<unsigned>(__builtin_ctzll(specials));
    specials &= specials - 1;
    cgiCopyRun(o, in + p, k - p);
    o += k - p;
    unsigned escape = static_cast<unsigned>(percents >> k) & 1;
    unsigned weight = static_cast<unsigned>(cgiHexValue[in[k + 1]] * 16 + cgiHexValue[in[k + 2]]);
    *o++ = static_cast<char>((weight & (0u - escape)) | (' ' & (escape - 1)));
    p = k + 1 + 2 * escape;
  }
  if (p < 64) {
    cgiCopyRun(o, in + p, 64 - p);
    o += 64 - p;
    p = 64;
  }
  *out = o;
  return in + p;
}
#endif

// Decodes len raw bytes ("+" as space, "%" and two digits as one byte) into a
// new NUL-terminated text stored in *s.  Long runs go through the block
// decoder: the output never runs ahead of the input, so its 16-byte stores
// stay inside the len + 1 bytes while 80 input bytes are left.
cgiParseResult cgiUnescapeChars(char **s, const char *cp, int len) {
  size_t n = len > 0 ? static_cast<size_t>(len) : 0;
  char *out = static_cast<char *>(cgiMalloc(n + 1));
  if (!out) return cgiParseNoMemory;
  const unsigned char *in = reinterpret_cast<const unsigned char *>(cp), *end = in + n;
  char *o = out;
#ifdef __SSE2__
  while (end - in >= 80) in = cgiUnescapeBlock(in, end, &o);
#endif
  cgiUnescapeRun(in, end, end, &o);
  *o = '\0';
  *s = out;
  return cgiParseOk;
}

// Creates an unlinked entry with room for nameRoom and valueRoom bytes and a
// NUL each in its texts, both empty; null when memory runs out.  Three
// blocks, as the decoder makes them: a linked entry is released with the
// list, and its maker releases an entry it never linked with cgiFreeEntries.
cgiFormEntry *cgiFormEntryNew(size_t nameRoom, size_t valueRoom) {
  cgiFormEntry *e = static_cast<cgiFormEntry *>(cgiMalloc(sizeof(cgiFormEntry)));
  if (!e) return nullptr;
  e->name = static_cast<char *>(cgiMalloc(nameRoom + 1));
  e->value = e->name ? static_cast<char *>(cgiMalloc(valueRoom + 1)) : nullptr;
  if (!e->value) {
    free(e->name);
    free(e);
    return nullptr;
  }
  e->name[0] = e->value[0] = '\0';
  e->next = nullptr;
  return e;
}
}
