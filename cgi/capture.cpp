// capture.cpp: saving the request state to a capture file and replaying it.
//
// A capture file is records 1 to 18 (the request texts as length-prefixed
// strings), record 19 (cgiContentLength as a big-endian 32-bit integer), and
// then one name record and one value record per form entry up to the end of
// the file.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "internal.h"

extern "C" {

// A string record read from a stream that cannot tell its size claims at
// most this many bytes more than have arrived.
#define CGI_READ_CHUNK 65536

// How many temporary names a capture tries before it gives up.
#define CGI_TEMP_TRIES 100

// The name a capture is written under before it is renamed over its path;
// the six X's are replaced.
static const char cgiTempBase[] = ".cgiEnvXXXXXX";

// Writes i as a 4-byte big-endian two's-complement integer record.
int cgiWriteInt(FILE *out, int i) {
  unsigned int u = static_cast<unsigned int>(i);
  unsigned char b[4] = {static_cast<unsigned char>(u >> 24), static_cast<unsigned char>(u >> 16),
                        static_cast<unsigned char>(u >> 8), static_cast<unsigned char>(u)};
  return fwrite(b, 4, 1, out) == 1;
}

// Writes s up to its NUL as a length record followed by its bytes.
int cgiWriteString(FILE *out, const char *s) {
  size_t n = strlen(s);
  if (n > INT_MAX) return 0;
  if (!cgiWriteInt(out, static_cast<int>(n))) return 0;
  return fwrite(s, 1, n, out) == n;
}

// Writes records 1 to 19 and then the name and value of every entry.
static int cgiWriteRecords(FILE *out) {
  for (const cgiRequestText &t : cgiRequestTexts)
    if (!cgiWriteString(out, *t.variable)) return 0;
  if (!cgiWriteInt(out, cgiContentLength)) return 0;
  for (const cgiFormEntry *e = cgiFormEntryFirst; e; e = e->next)
    if (!cgiWriteString(out, e->name) || !cgiWriteString(out, e->value)) return 0;
  return 1;
}

// The length of the directory part of path with its last slash, 0 for none.
static size_t cgiDirLength(const char *path) {
  const char *slash = strrchr(path, '/');
  return slash ? static_cast<size_t>(slash - path) + 1 : 0;
}

// Replaces the six bytes at x with letters and digits that differ from call
// to call and from process to process.
void cgiFillTempName(char *x) {
  static const char digits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  static unsigned long long counter = 0;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  unsigned long long v = static_cast<unsigned long long>(now.tv_nsec) ^
                         static_cast<unsigned long long>(now.tv_sec) << 30 ^
                         static_cast<unsigned long long>(getpid()) << 20;
  v += ++counter * 0x9E3779B97F4A7C15ull;
  for (int i = 0; i < 6; i++, v /= 36) x[i] = digits[v % 36];
}

// Creates a new file in the directory of path, with the mode that fopen would
// give a new file (0666 less the umask).  Returns it open for writing with its
// name in *temp (which the caller releases), or null.
static FILE *cgiCreateTemp(const char *path, char **temp) {
  size_t dir = cgiDirLength(path);
  char *name = static_cast<char *>(cgiMalloc(dir + sizeof cgiTempBase));
  if (!name) return nullptr;
  memcpy(name, path, dir);
  memcpy(name + dir, cgiTempBase, sizeof cgiTempBase);
  for (int tries = 0; tries < CGI_TEMP_TRIES; tries++) {
    cgiFillTempName(name + dir + sizeof cgiTempBase - 7);
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) break;
    FILE *out = fdopen(fd, "wb");
    if (out) {
      *temp = name;
      return out;
    }
    close(fd);
    unlink(name);
    break;
  }
  free(name);
  return nullptr;
}

// Flushes the directory whose name is the first dir bytes of name, so that a
// rename into it reaches the disk too.  Best effort: the file is in place.
static void cgiSyncDirectory(char *name, size_t dir) {
  name[dir] = '\0';
  int fd = open(dir ? name : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)fsync(fd);
  close(fd);
}

// Saves the request state to path.  The records go to a new file beside it,
// which is flushed to disk and renamed over path only when all of it was
// written and closed without error, so a failure leaves what stood under
// path untouched and removes only the new file.
cgiEnvResult cgiWriteEnvironment(const char *path) {
  char *temp;
  FILE *out = cgiCreateTemp(path, &temp);
  if (!out) return cgiEnvFileError;
  int ok = cgiWriteRecords(out) && fflush(out) == 0 && fsync(fileno(out)) == 0;
  if (fclose(out) != 0) ok = 0;
  if (ok && rename(temp, path) == 0) {
    cgiSyncDirectory(temp, cgiDirLength(path));
    free(temp);
    return cgiEnvOk;
  }
  unlink(temp);
  free(temp);
  return cgiEnvFileError;
}

// Reads a 4-byte big-endian two's-complement integer record into *i.
int cgiReadInt(FILE *in, int *i) {
  unsigned char b[4];
  if (fread(b, 4, 1, in) != 1) return 0;
  unsigned int u = static_cast<unsigned int>(b[0]) << 24 | static_cast<unsigned int>(b[1]) << 16 |
                   static_cast<unsigned int>(b[2]) << 8 | b[3];
  *i = u > INT_MAX ? static_cast<int>(u - INT_MAX - 1) + INT_MIN : static_cast<int>(u);
  return 1;
}

// The number of bytes between the position of in and the end of its file, or
// -1 when in is not a regular file and so cannot tell.
static long long cgiBytesLeft(FILE *in) {
  struct stat st;
  int fd = fileno(in);
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  off_t pos = ftello(in);
  if (pos < 0) return -1;
  return st.st_size > pos ? static_cast<long long>(st.st_size - pos) : 0;
}

// A stream being replayed and the number of bytes left in it (-1 when it
// cannot tell), counted down as records are read so that the size is asked
// of the system once, not once per record.
typedef struct {
  FILE *in;
  long long left;
} cgiReader;

// Reads an integer record from r and counts its bytes off.
static int cgiReaderInt(cgiReader *r, int *i) {
  if (!cgiReadInt(r->in, i)) return 0;
  if (r->left >= 0) r->left = r->left >= 4 ? r->left - 4 : 0;
  return 1;
}

// A buffer that records are read into, grown as their bytes arrive and
// reused from record to record.
typedef struct {
  char *bytes;
  size_t room;  // the bytes it takes besides a terminating NUL
} cgiScratch;

// Makes room for room bytes and a NUL in s, keeping its first kept bytes.
static int cgiScratchRoom(cgiScratch *s, size_t room, size_t kept) {
  if (s->bytes && s->room >= room) return 1;
  char *larger = static_cast<char *>(cgiMalloc(room + 1));
  if (!larger) return 0;
  if (kept) memcpy(larger, s->bytes, kept);
  free(s->bytes);
  s->bytes = larger;
  s->room = room;
  return 1;
}

// Reads length bytes into s and terminates them.  Before any arrive, s is
// given room for first bytes (unless it has more); the room then doubles
// only as bytes arrive, so a length that the stream cannot back is never
// allocated whole.
static cgiEnvResult cgiReadBytes(FILE *in, cgiScratch *s, size_t length, size_t first) {
  if (!cgiScratchRoom(s, first, 0)) return cgiEnvNoMemory;
  size_t got = 0;
  while (got < length) {
    if (got == s->room && !cgiScratchRoom(s, length - got > got ? 2 * got : length, got))
      return cgiEnvNoMemory;
    size_t want = (s->room < length ? s->room : length) - got;
    size_t n = fread(s->bytes + got, 1, want, in);
    got += n;
    if (n < want) return cgiEnvFileError;
  }
  s->bytes[length] = '\0';
  return cgiEnvOk;
}

// Reads one string record into s and its length into *length.  A negative
// length fails before any byte of the string is read; one that runs past the
// end of a regular file fails before anything is allocated.  Gives cgiEnvOk,
// cgiEnvFileError or cgiEnvNoMemory.
static cgiEnvResult cgiReadRecord(cgiReader *r, cgiScratch *s, size_t *length) {
  int n;
  if (!cgiReaderInt(r, &n) || n < 0) return cgiEnvFileError;
  *length = static_cast<size_t>(n);
  if (r->left >= 0) {
    if (n > r->left) return cgiEnvFileError;
    r->left -= n;
  }
  size_t first = r->left >= 0 || *length < CGI_READ_CHUNK ? *length : CGI_READ_CHUNK;
  return cgiReadBytes(r->in, s, *length, first);
}

// Reads one string record into a new buffer stored in *s (left alone on
// failure).
static cgiEnvResult cgiReadText(cgiReader *r, char **s) {
  cgiScratch text = {nullptr, 0};
  size_t length;
  cgiEnvResult result = cgiReadRecord(r, &text, &length);
  if (result == cgiEnvOk)
    *s = text.bytes;
  else
    free(text.bytes);
  return result;
}

// Reads one string record into a new buffer stored in *s; 1 on success, 0
// (with *s left alone) when the record cannot be read or allocated.
int cgiReadString(FILE *in, char **s) {
  cgiReader r = {in, cgiBytesLeft(in)};
  return cgiReadText(&r, s) == cgiEnvOk;
}

// What a replay reads from the file before any of it is installed.
typedef struct {
  char *texts[cgiRequestTextCount];
  int contentLength;
  cgiFormEntry *first;
} cgiCapture;

// Reads name and value pairs, each into a new entry appended to the list at
// *first, until the file ends cleanly where a name record would begin.  Any
// other failure, a record cut short included, fails the whole list.  The two
// records go to buffers reused from entry to entry; the entry is made once
// both lengths are known, as the decoder makes its entries.
static cgiEnvResult cgiReadEntries(cgiReader *r, cgiFormEntry **first) {
  cgiScratch name = {nullptr, 0}, value = {nullptr, 0};
  cgiEnvResult result = cgiEnvOk;
  for (cgiFormEntry **tail = first;;) {
    int c = getc(r->in);
    if (c == EOF) {
      if (ferror(r->in)) result = cgiEnvFileError;
      break;
    }
    ungetc(c, r->in);
    size_t nameLength, valueLength;
    result = cgiReadRecord(r, &name, &nameLength);
    if (result == cgiEnvOk) result = cgiReadRecord(r, &value, &valueLength);
    if (result != cgiEnvOk) break;
    cgiFormEntry *e = cgiFormEntryNew(nameLength, valueLength);
    if (!e) {
      result = cgiEnvNoMemory;
      break;
    }
    memcpy(e->name, name.bytes, nameLength + 1);
    memcpy(e->value, value.bytes, valueLength + 1);
    *tail = e;
    tail = &e->next;
  }
  free(name.bytes);
  free(value.bytes);
  return result;
}

// Reads records 1 to 19 and the entries into c.
static cgiEnvResult cgiReadCapture(cgiReader *r, cgiCapture *c) {
  for (char *&t : c->texts) {
    cgiEnvResult result = cgiReadText(r, &t);
    if (result != cgiEnvOk) return result;
  }
  if (!cgiReaderInt(r, &c->contentLength)) return cgiEnvFileError;
  return cgiReadEntries(r, &c->first);
}

// Discards the current request state and loads the capture at path in its
// place.  The file is read whole before anything is installed: a failed
// replay leaves the entry list empty, cgiRestored clear and every request
// text as the teardown left it.
cgiEnvResult cgiReadEnvironment(const char *path) {
  cgiFreeResources();
  FILE *in = fopen(path, "rb");
  if (!in) return cgiEnvFileError;
  cgiReader r = {in, cgiBytesLeft(in)};
  cgiCapture c = {};
  cgiEnvResult result = cgiReadCapture(&r, &c);
  fclose(in);
  if (result != cgiEnvOk) {
    for (char *t : c.texts) free(t);
    cgiFreeResources();  // the entries read so far
    return result;
  }
  for (int i = 0; i < cgiRequestTextCount; i++) *cgiRequestTexts[i].variable = c.texts[i];
  cgiContentLength = c.contentLength;
  cgiFormEntryFirst = c.first;
  cgiRestored = 1;
  return cgiEnvOk;
}
}
