// multipart.cpp: multipart/form-data bodies, read in one pass through a
// fixed buffer into form entries and upload records.
//
// The buffer holds the bytes read but not yet consumed.  Content is searched
// for the delimiter ("\r\n--" and the boundary), and what follows each one
// found decided (close mark, blanks, line end).  A delimiter cut by the end
// of the buffer is kept and the buffer refilled, so every byte is looked at
// a bounded number of times whatever the body holds.
// Content goes to its sink in runs as large as the buffer.  The body is
// taken to start with a CR LF, so that a first delimiter at its very start
// is found like any other.
#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <initializer_list>

#include "internal.h"

extern "C" {

// Bytes the buffer holds at least (tests make it small to move its edges).
size_t cgiMultipartChunk = 256 * 1024;

#define CGI_BOUNDARY_MAX 70
#define CGI_MIB (1024 * 1024)

// Whether cgiMultipartRead has run in this request, and what it gave.
static int cgiMultipartDone = 0;
static cgiMultipartResult cgiMultipartDoneResult = cgiMultipartOk;

// Fills every limit with its default.
void cgiMultipartDefaults(cgiMultipartLimits *limits) {
  limits->bodyBytes = 10 * CGI_MIB;
  limits->parts = 128;
  limits->files = 20;
  limits->fileBytes = 10 * CGI_MIB;
  limits->headerFields = 8;
  limits->lineBytes = 4096;
  limits->preambleBytes = 65536;
  limits->epilogueBytes = 65536;
}

// ---- Header values ----------------------------------------------------------

// A run of bytes inside a header value.
typedef struct {
  const char *at;
  size_t length;
} cgiSpan;

// The bytes of a header value not read yet.
typedef struct {
  const char *at, *end;
} cgiScan;

static int cgiIsBlank(unsigned char c) {
  return c == ' ' || c == '\t';
}

static int cgiIsControl(unsigned char c) {
  return c < 32 || c == 127;
}

// Whether c may stand in a boundary.
static int cgiIsBoundaryByte(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c != '\0' && strchr("'()+_,-./:=? ", c) != nullptr);
}

// Whether the span equals text (lower case) without regard to letter case.
static int cgiSpanIs(cgiSpan span, const char *text) {
  if (strlen(text) != span.length) return 0;
  for (size_t i = 0; i < span.length; i++) {
    unsigned char c = static_cast<unsigned char>(span.at[i]);
    if ((c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c) != static_cast<unsigned char>(text[i]))
      return 0;
  }
  return 1;
}

static void cgiSkipBlanks(cgiScan *s) {
  while (s->at < s->end && cgiIsBlank(static_cast<unsigned char>(*s->at))) s->at++;
}

// Reads a token into *token: 1, or 0 when none starts here.
static int cgiReadToken(cgiScan *s, cgiSpan *token) {
  token->at = s->at;
  while (s->at < s->end && cgiIsTokenByte(static_cast<unsigned char>(*s->at))) s->at++;
  token->length = static_cast<size_t>(s->at - token->at);
  return token->length > 0;
}

// Whether c may stand in a parameter value outside quotes.
static int cgiIsBareValueByte(unsigned char c) {
  return !cgiIsControl(c) && !cgiIsBlank(c) && c != ';' && c != '"' && c != '\\';
}

// Reads a parameter value: a quoted string, in which a backslash escapes only
// '"' and '\\' and stands for itself before any other byte, or a run of bare
// value bytes.  Writes up to room bytes of the value to out and its whole
// length to *length: 1, or 0 for an empty run or an unterminated quote.
static int cgiReadValue(cgiScan *s, char *out, size_t room, size_t *length) {
  size_t n = 0;
  if (s->at < s->end && *s->at == '"') {
    for (s->at++;; s->at++) {
      if (s->at == s->end) return 0;
      char c = *s->at;
      if (c == '"') break;
      if (c == '\\' && s->end - s->at > 1 && (s->at[1] == '"' || s->at[1] == '\\')) c = *++s->at;
      if (n < room) out[n] = c;
      n++;
    }
    s->at++;
  } else {
    for (; s->at < s->end && cgiIsBareValueByte(static_cast<unsigned char>(*s->at)); s->at++) {
      if (n < room) out[n] = *s->at;
      n++;
    }
    if (n == 0) return 0;
  }
  *length = n;
  return 1;
}

// Reads one parameter, blanks, ";", blanks, a token, "=" and a value (see
// cgiReadValue): 1 with its name and value, 0 when only blanks are left, or
// -1 when the bytes are no parameter.
static int cgiNextParam(cgiScan *s, cgiSpan *name, char *out, size_t room, size_t *length) {
  cgiSkipBlanks(s);
  if (s->at == s->end) return 0;
  if (*s->at != ';') return -1;
  s->at++;
  cgiSkipBlanks(s);
  if (!cgiReadToken(s, name) || s->at == s->end || *s->at != '=') return -1;
  s->at++;
  return cgiReadValue(s, out, room, length) ? 1 : -1;
}

// Finds the boundary in a content type: cgiMultipartOk with the boundary in
// boundary[0..*length), cgiMultipartNone when the type is not
// multipart/form-data, or cgiMultipartNoBoundary when its parameters hold no
// single boundary of 1 to 70 boundary bytes that does not end in a space.
static cgiMultipartResult cgiContentBoundary(const char *type, char *boundary, size_t *length) {
  cgiScan s = {type, type + strlen(type)};
  cgiSpan major, minor;
  cgiSkipBlanks(&s);
  if (!cgiReadToken(&s, &major) || !cgiSpanIs(major, "multipart") || s.at == s.end ||
      *s.at++ != '/' || !cgiReadToken(&s, &minor) || !cgiSpanIs(minor, "form-data"))
    return cgiMultipartNone;
  int found = 0;
  for (;;) {
    cgiSpan name;
    char value[CGI_BOUNDARY_MAX];
    size_t n;
    int more = cgiNextParam(&s, &name, value, sizeof value, &n);
    if (more == 0) break;
    if (more < 0) return cgiMultipartNoBoundary;
    if (!cgiSpanIs(name, "boundary")) continue;
    if (found || n < 1 || n > CGI_BOUNDARY_MAX || value[n - 1] == ' ')
      return cgiMultipartNoBoundary;
    for (size_t i = 0; i < n; i++)
      if (!cgiIsBoundaryByte(static_cast<unsigned char>(value[i]))) return cgiMultipartNoBoundary;
    memcpy(boundary, value, n);
    *length = n;
    found = 1;
  }
  return found ? cgiMultipartOk : cgiMultipartNoBoundary;
}

// ---- The reader -------------------------------------------------------------

// A growing byte array.
typedef struct {
  char *data;
  size_t length, room;
} cgiBytes;

// Makes room for extra more bytes (and makes the array, even for none): 1,
// or 0 when memory runs out.
static int cgiBytesReserve(cgiBytes *b, size_t extra) {
  if (b->data && b->room - b->length >= extra) return 1;
  size_t room = b->room ? b->room : 256;
  while (room - b->length < extra) room *= 2;
  char *data = static_cast<char *>(cgiMalloc(room));
  if (!data) return 0;
  if (b->length) memcpy(data, b->data, b->length);
  free(b->data);
  b->data = data;
  b->room = room;
  return 1;
}

// Where the content being scanned goes.
typedef enum { cgiSinkPreamble, cgiSinkText, cgiSinkFile } cgiSink;

// What the header lines of one part said; texts are offsets into scratch.
typedef struct {
  int hasDisposition, hasName, hasFile, hasType;
  size_t name, nameLength, file, fileLength, type, typeLength;
} cgiPartHeads;

// One body being read.
typedef struct {
  cgiMultipartLimits limits;  // none negative
  char delimiter[4 + CGI_BOUNDARY_MAX];
  size_t delimiterLength;
  unsigned char *buffer;
  size_t capacity, start, end;  // the bytes not consumed are buffer[start, end)
  long long left;               // bytes of the body not read yet
  int parts, files;
  cgiBytes scratch;  // the current part's header texts, then a text part's value
  cgiSink sink;
  long long sunk;  // content bytes of the current part or preamble
  int writer;      // the current file part's descriptor, or -1
  cgiUploadRecord *upload, *uploads, **uploadTail;
  cgiFormEntry *entries, **entryTail;
} cgiParser;

// Writes length bytes to fd: 1, or 0 on a write error.
static int cgiWriteAll(int fd, const unsigned char *data, size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return 1;
}

// Hands length bytes of content to the current sink, within its limit.
static cgiMultipartResult cgiSinkBytes(cgiParser *p, const unsigned char *data, size_t length) {
  if (length == 0) return cgiMultipartOk;
  p->sunk += static_cast<long long>(length);
  switch (p->sink) {
    case cgiSinkPreamble:
      return p->sunk > p->limits.preambleBytes ? cgiMultipartPreambleTooLong : cgiMultipartOk;
    case cgiSinkText:
      if (!cgiBytesReserve(&p->scratch, length)) return cgiMultipartNoMemory;
      memcpy(p->scratch.data + p->scratch.length, data, length);
      p->scratch.length += length;
      return cgiMultipartOk;
    case cgiSinkFile:
      if (p->sunk > p->limits.fileBytes) return cgiMultipartFileTooLarge;
      return cgiWriteAll(p->writer, data, length) ? cgiMultipartOk : cgiMultipartFileError;
  }
  return cgiMultipartOk;
}

// Moves the bytes not consumed to the front of the buffer and reads as many
// more as fit and the body still holds: cgiMultipartOk, or
// cgiMultipartShortRead when cgiIn ends first.
static cgiMultipartResult cgiFill(cgiParser *p) {
  size_t keep = p->end - p->start;
  if (p->start > 0) memmove(p->buffer, p->buffer + p->start, keep);
  p->start = 0;
  p->end = keep;
  size_t want = p->capacity - keep;
  if (static_cast<long long>(want) > p->left) want = static_cast<size_t>(p->left);
  size_t got = fread(p->buffer + keep, 1, want, cgiIn);
  p->end += got;
  p->left -= static_cast<long long>(got);
  return got == want ? cgiMultipartOk : cgiMultipartShortRead;
}

typedef enum { cgiNoDelimiter, cgiDelimiter, cgiCloseDelimiter, cgiNeedMore, cgiLongLine } cgiMatch;

// What the delimiter at buffer[i] (its "\r\n--" and boundary) starts: for a
// delimiter line, *length is its length with its line end.  cgiNeedMore when
// the buffer ends before that is known and the body has more; cgiLongLine
// when the line from its "--" on runs past the line limit before it is known.
static cgiMatch cgiMatchDelimiter(const cgiParser *p, size_t i, size_t *length) {
  const unsigned char *s = p->buffer + i;
  size_t n = p->end - i, q = p->delimiterLength;
  int atEnd = p->left == 0, close = 0;
  if (q < n && s[q] == '-') {
    if (q + 1 == n) return atEnd ? cgiNoDelimiter : cgiNeedMore;
    if (s[q + 1] == '-') {
      close = 1;
      q += 2;
    }
  }
  while (q < n && cgiIsBlank(s[q])) q++;
  if (q - 2 > static_cast<size_t>(p->limits.lineBytes)) return cgiLongLine;
  if (q == n) {
    if (!atEnd) return cgiNeedMore;
    *length = q;
    return close ? cgiCloseDelimiter : cgiNoDelimiter;
  }
  if (s[q] == '\r') {
    if (q + 1 == n) return atEnd ? cgiNoDelimiter : cgiNeedMore;
    q++;
  }
  if (s[q] != '\n') return cgiNoDelimiter;
  *length = q + 1;
  return close ? cgiCloseDelimiter : cgiDelimiter;
}

// The first position from `from` on where the rest of the buffer is the
// start of a delimiter that the end of the buffer cuts, or the end.
static size_t cgiCutDelimiter(const cgiParser *p, size_t from) {
  size_t tail = p->delimiterLength - 1;
  if (p->end - from > tail) from = p->end - tail;
  for (size_t j = from; j < p->end; j++)
    if (memcmp(p->buffer + j, p->delimiter, p->end - j) == 0) return j;
  return p->end;
}

// Scans content up to the next delimiter and consumes it, handing the
// content to the sink; *close tells whether it was the close delimiter.
// memmem finds each "\r\n--" and boundary in time linear in the bytes
// searched; what follows it is then decided.
static cgiMultipartResult cgiScanContent(cgiParser *p, int *close) {
  size_t scan = p->start;
  for (;;) {
    const void *hit = memmem(p->buffer + scan, p->end - scan, p->delimiter, p->delimiterLength);
    cgiMultipartResult result;
    if (hit) {
      size_t i = static_cast<size_t>(static_cast<const unsigned char *>(hit) - p->buffer),
             length = 0;
      cgiMatch match = cgiMatchDelimiter(p, i, &length);
      if (match == cgiNoDelimiter) {
        scan = i + 1;
        continue;
      }
      result = cgiSinkBytes(p, p->buffer + p->start, i - p->start);
      p->start = i;
      if (result != cgiMultipartOk) return result;
      if (match == cgiLongLine) return cgiMultipartLineTooLong;
      if (match != cgiNeedMore) {
        p->start = i + length;
        *close = match == cgiCloseDelimiter;
        return cgiMultipartOk;
      }
    } else {
      size_t cut = p->left > 0 ? cgiCutDelimiter(p, scan) : p->end;
      result = cgiSinkBytes(p, p->buffer + p->start, cut - p->start);
      p->start = cut;
      if (result != cgiMultipartOk) return result;
      if (p->left == 0) return cgiMultipartMalformed;
    }
    result = cgiFill(p);
    if (result != cgiMultipartOk) return result;
    scan = p->start;
  }
}

// Reads the next header line, [*line, *line + *length) without its line end
// (CR LF or LF), and consumes it.  The line stays in the buffer until the
// next read.
static cgiMultipartResult cgiReadLine(cgiParser *p, const char **line, size_t *length) {
  size_t most = static_cast<size_t>(p->limits.lineBytes) + 2;
  for (;;) {
    size_t have = p->end - p->start;
    const void *lf = memchr(p->buffer + p->start, '\n', have < most ? have : most);
    if (lf) {
      const char *at = reinterpret_cast<const char *>(p->buffer + p->start);
      size_t n = static_cast<size_t>(static_cast<const char *>(lf) - at);
      p->start += n + 1;
      if (n > 0 && at[n - 1] == '\r') n--;
      if (n > static_cast<size_t>(p->limits.lineBytes)) return cgiMultipartLineTooLong;
      *line = at;
      *length = n;
      return cgiMultipartOk;
    }
    if (have >= most) return cgiMultipartLineTooLong;
    if (p->left == 0) return cgiMultipartMalformed;
    cgiMultipartResult result = cgiFill(p);
    if (result != cgiMultipartOk) return result;
  }
}

// Appends length bytes to scratch and gives their offset in *at.
static cgiMultipartResult cgiKeepText(cgiParser *p, const char *text, size_t length, size_t *at) {
  if (!cgiBytesReserve(&p->scratch, length)) return cgiMultipartNoMemory;
  memcpy(p->scratch.data + p->scratch.length, text, length);
  *at = p->scratch.length;
  p->scratch.length += length;
  return cgiMultipartOk;
}

// Reads the value of Content-Disposition: "form-data" and its parameters,
// of which name and filename are kept.
static cgiMultipartResult cgiReadDisposition(cgiParser *p, cgiPartHeads *h, cgiScan *s) {
  cgiSpan type;
  if (!cgiReadToken(s, &type) || !cgiSpanIs(type, "form-data")) return cgiMultipartMalformed;
  size_t room = static_cast<size_t>(s->end - s->at);
  for (;;) {
    if (!cgiBytesReserve(&p->scratch, room)) return cgiMultipartNoMemory;
    cgiSpan name;
    size_t length;
    int more = cgiNextParam(s, &name, p->scratch.data + p->scratch.length, room, &length);
    if (more == 0) break;
    if (more < 0) return cgiMultipartMalformed;
    int isName = cgiSpanIs(name, "name"), isFile = cgiSpanIs(name, "filename");
    if (!isName && !isFile) continue;
    int *has = isName ? &h->hasName : &h->hasFile;
    if (*has) return cgiMultipartMalformed;
    *has = 1;
    *(isName ? &h->name : &h->file) = p->scratch.length;
    *(isName ? &h->nameLength : &h->fileLength) = length;
    p->scratch.length += length;
  }
  return h->hasName ? cgiMultipartOk : cgiMultipartMalformed;
}

// Takes in one header line of a part.
static cgiMultipartResult cgiReadHead(cgiParser *p, cgiPartHeads *h, const char *line, size_t n) {
  if (memchr(line, '\0', n) || memchr(line, '\r', n)) return cgiMultipartMalformed;
  cgiScan s = {line, line + n};
  cgiSpan name;
  if (!cgiReadToken(&s, &name) || s.at == s.end || *s.at != ':') return cgiMultipartMalformed;
  s.at++;
  cgiSkipBlanks(&s);
  while (s.end > s.at && cgiIsBlank(static_cast<unsigned char>(s.end[-1]))) s.end--;
  int isDisposition = cgiSpanIs(name, "content-disposition");
  if (!isDisposition && !cgiSpanIs(name, "content-type")) return cgiMultipartOk;
  int *seen = isDisposition ? &h->hasDisposition : &h->hasType;
  if (*seen) return cgiMultipartMalformed;
  *seen = 1;
  if (isDisposition) return cgiReadDisposition(p, h, &s);
  h->typeLength = static_cast<size_t>(s.end - s.at);
  return cgiKeepText(p, s.at, h->typeLength, &h->type);
}

// Reads the header lines of a part up to the empty line that ends them.
static cgiMultipartResult cgiReadHeads(cgiParser *p, cgiPartHeads *h) {
  memset(h, 0, sizeof *h);
  p->scratch.length = 0;
  for (int fields = 0;;) {
    const char *line;
    size_t n;
    cgiMultipartResult result = cgiReadLine(p, &line, &n);
    if (result != cgiMultipartOk) return result;
    if (n == 0) break;
    if (++fields > p->limits.headerFields) return cgiMultipartTooManyHeaders;
    result = cgiReadHead(p, h, line, n);
    if (result != cgiMultipartOk) return result;
  }
  return h->hasDisposition ? cgiMultipartOk : cgiMultipartMalformed;
}

// Makes an entry with copies of the two texts and appends it to the body's
// entries; null when memory runs out.
static cgiFormEntry *cgiAddEntry(cgiParser *p, size_t name, size_t nameLength, const char *value,
                                 size_t valueLength) {
  cgiFormEntry *e = cgiFormEntryNew(nameLength, valueLength);
  if (!e) return nullptr;
  memcpy(e->name, p->scratch.data + name, nameLength);
  e->name[nameLength] = '\0';
  memcpy(e->value, value, valueLength);
  e->value[valueLength] = '\0';
  *p->entryTail = e;
  p->entryTail = &e->next;
  return e;
}

// Appends to scratch the file name of the filename parameter: its last
// component after any "/" or "\\", control bytes removed, "." and ".." as
// the empty text.  Gives its offset and length.
static cgiMultipartResult cgiCleanFileName(cgiParser *p, const cgiPartHeads *h, size_t *at,
                                           size_t *length) {
  if (!cgiBytesReserve(&p->scratch, h->fileLength)) return cgiMultipartNoMemory;
  const char *raw = p->scratch.data + h->file;
  char *out = p->scratch.data + p->scratch.length;
  size_t from = 0, n = 0;
  for (size_t i = 0; i < h->fileLength; i++)
    if (raw[i] == '/' || raw[i] == '\\') from = i + 1;
  for (size_t i = from; i < h->fileLength; i++)
    if (!cgiIsControl(static_cast<unsigned char>(raw[i]))) out[n++] = raw[i];
  if ((n == 1 && out[0] == '.') || (n == 2 && out[0] == '.' && out[1] == '.')) n = 0;
  *at = p->scratch.length;
  *length = n;
  p->scratch.length += n;
  return cgiMultipartOk;
}

// Starts a file part: its upload record, its form entry and its file.
static cgiMultipartResult cgiBeginFile(cgiParser *p, const cgiPartHeads *h) {
  if (++p->files > p->limits.files) return cgiMultipartTooManyFiles;
  size_t file, fileLength;
  cgiMultipartResult result = cgiCleanFileName(p, h, &file, &fileLength);
  if (result != cgiMultipartOk) return result;
  const char *s = p->scratch.data;
  cgiUploadRecord *u = cgiUploadRecordNew(s + h->name, h->nameLength, s + file, fileLength,
                                          h->hasType ? s + h->type : "", h->typeLength);
  if (!u) return cgiMultipartNoMemory;
  *p->uploadTail = u;
  p->uploadTail = &u->next;
  p->upload = u;
  u->entry = cgiAddEntry(p, h->name, h->nameLength, s + file, fileLength);
  if (!u->entry) return cgiMultipartNoMemory;
  return cgiUploadOpen(u, &p->writer);
}

// Ends the current part, whose content has been scanned.
static cgiMultipartResult cgiEndPart(cgiParser *p, const cgiPartHeads *h, size_t value) {
  if (!h->hasFile) {
    const char *text = p->scratch.data + value;
    return cgiAddEntry(p, h->name, h->nameLength, text, p->scratch.length - value)
               ? cgiMultipartOk
               : cgiMultipartNoMemory;
  }
  int writer = p->writer;
  p->writer = -1;
  if (close(writer) != 0) return cgiMultipartFileError;
  p->upload->upload.size = static_cast<int>(p->sunk);
  return cgiMultipartOk;
}

// Reads one part: its header lines and its content.
static cgiMultipartResult cgiReadPart(cgiParser *p, int *close) {
  if (++p->parts > p->limits.parts) return cgiMultipartTooManyParts;
  cgiPartHeads h;
  cgiMultipartResult result = cgiReadHeads(p, &h);
  if (result != cgiMultipartOk) return result;
  if (h.hasFile) {
    result = cgiBeginFile(p, &h);
    if (result != cgiMultipartOk) return result;
  }
  p->sink = h.hasFile ? cgiSinkFile : cgiSinkText;
  p->sunk = 0;
  size_t value = p->scratch.length;
  result = cgiScanContent(p, close);
  return result == cgiMultipartOk ? cgiEndPart(p, &h, value) : result;
}

// Reads the rest of the body after the close delimiter, within its limit.
static cgiMultipartResult cgiSkipEpilogue(cgiParser *p) {
  long long epilogue = static_cast<long long>(p->end - p->start) + p->left;
  if (epilogue > p->limits.epilogueBytes) return cgiMultipartEpilogueTooLong;
  while (p->left > 0) {
    p->start = p->end;
    cgiMultipartResult result = cgiFill(p);
    if (result != cgiMultipartOk) return result;
  }
  return cgiMultipartOk;
}

// Reads the whole body: preamble, parts, epilogue.
static cgiMultipartResult cgiReadParts(cgiParser *p) {
  int close = 0;
  p->sink = cgiSinkPreamble;
  p->sunk = -2;  // the CR LF taken to stand before the body is not preamble
  cgiMultipartResult result = cgiScanContent(p, &close);
  while (result == cgiMultipartOk && !close) result = cgiReadPart(p, &close);
  return result == cgiMultipartOk ? cgiSkipEpilogue(p) : result;
}

// The limits to apply: the defaults for null, no limit below 0.
static void cgiTakeLimits(cgiMultipartLimits *to, const cgiMultipartLimits *from) {
  if (from)
    *to = *from;
  else
    cgiMultipartDefaults(to);
  for (int *limit : {&to->bodyBytes, &to->parts, &to->files, &to->fileBytes, &to->headerFields,
                     &to->lineBytes, &to->preambleBytes, &to->epilogueBytes})
    if (*limit < 0) *limit = 0;
}

// The buffer size: the chunk, and room for a whole header line or delimiter
// with its line ends; never more than the body and the CR LF before it.
static size_t cgiBufferSize(const cgiParser *p) {
  size_t line = static_cast<size_t>(p->limits.lineBytes);
  size_t size = cgiMultipartChunk;
  if (size < line + 4) size = line + 4;
  if (size < p->delimiterLength + 4) size = p->delimiterLength + 4;
  size_t body = static_cast<size_t>(cgiContentLength) + 2;
  return size < body ? size : body;
}

// Releases what a read made, installed or not.
static void cgiParserFree(cgiParser *p, int installed) {
  if (!installed) {
    if (p->writer >= 0) close(p->writer);
    cgiUploadRecordsFree(p->uploads);
  }
  free(p->buffer);
  free(p->scratch.data);
}

// Makes the body's entries and records those of the request.
static void cgiInstall(cgiParser *p) {
  cgiFormEntry **tail = &cgiFormEntryFirst;
  while (*tail) tail = &(*tail)->next;
  *tail = p->entries;
  cgiUploadInstall(p->uploads);
}

// Checks the request and reads its body.
static cgiMultipartResult cgiMultipartReadBody(const cgiMultipartLimits *limits) {
  if (!cgiStrEqNc(cgiRequestMethod, "post")) return cgiMultipartNone;
  cgiParser p = {};
  char boundary[CGI_BOUNDARY_MAX];
  size_t length = 0;
  cgiMultipartResult result = cgiContentBoundary(cgiContentType, boundary, &length);
  if (result != cgiMultipartOk) return result;
  cgiTakeLimits(&p.limits, limits);
  if (cgiContentLength < 0) return cgiMultipartMalformed;
  if (cgiContentLength > p.limits.bodyBytes) return cgiMultipartTooLarge;
  memcpy(p.delimiter, "\r\n--", 4);
  memcpy(p.delimiter + 4, boundary, length);
  p.delimiterLength = 4 + length;
  p.capacity = cgiBufferSize(&p);
  p.buffer = static_cast<unsigned char *>(cgiMalloc(p.capacity));
  if (!p.buffer) return cgiMultipartNoMemory;
  memcpy(p.buffer, "\r\n", 2);
  p.end = 2;
  p.left = cgiContentLength;
  p.writer = -1;
  p.uploadTail = &p.uploads;
  p.entryTail = &p.entries;
  result = cgiReadParts(&p);
  if (result == cgiMultipartOk) cgiInstall(&p);
  cgiParserFree(&p, result == cgiMultipartOk);
  return result;
}

// Reads the body once per request; a later call gives the same result.
cgiMultipartResult cgiMultipartRead(const cgiMultipartLimits *limits) {
  if (!cgiMultipartDone) {
    cgiMultipartDoneResult = cgiMultipartReadBody(limits);
    cgiMultipartDone = 1;
  }
  return cgiMultipartDoneResult;
}

// Releases the upload records and forgets that the body was read.
void cgiMultipartFree(void) {
  cgiUploadFreeAll();
  cgiMultipartDone = 0;
}
}
