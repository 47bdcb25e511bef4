// upload.cpp: upload records, their unnamed temporary files and the cursor
// over them.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "internal.h"

extern "C" {

// When set, temporary files are made under a name and unlinked at once even
// where O_TMPFILE works (so that tests can reach that way too).
int cgiUploadNamedTemp = 0;

// How many names a temporary file tries before it gives up.
#define CGI_UPLOAD_TRIES 100

static cgiUploadRecord *cgiUploadList = nullptr;
static const cgiUploadRecord *cgiUploadPos = nullptr;
static int cgiUploadAnyName = 0;

// Copies length bytes of text to *at as a NUL-terminated text and moves *at
// past it; returns the copy.
static const char *cgiUploadText(char **at, const char *text, size_t length) {
  char *copy = *at;
  memcpy(copy, text, length);
  copy[length] = '\0';
  *at += length + 1;
  return copy;
}

// A new record with copies of the three texts in the same block, no file
// yet, size 0; null when memory runs out.
cgiUploadRecord *cgiUploadRecordNew(const char *name, size_t nameLength, const char *fileName,
                                    size_t fileNameLength, const char *type, size_t typeLength) {
  size_t size = sizeof(cgiUploadRecord) + nameLength + fileNameLength + typeLength + 3;
  cgiUploadRecord *r = static_cast<cgiUploadRecord *>(cgiMalloc(size));
  if (!r) return nullptr;
  char *at = reinterpret_cast<char *>(r + 1);
  r->upload.name = cgiUploadText(&at, name, nameLength);
  r->upload.fileName = cgiUploadText(&at, fileName, fileNameLength);
  r->upload.contentType = cgiUploadText(&at, type, typeLength);
  r->upload.size = 0;
  r->upload.file = nullptr;
  r->entry = nullptr;
  r->next = nullptr;
  return r;
}

// The directory for temporary files: TMPDIR, or /tmp when unset or empty.
static const char *cgiUploadDir(void) {
  const char *dir = getenv("TMPDIR");
  return dir && *dir ? dir : "/tmp";
}

// Opens a new unnamed file in dir with O_TMPFILE, writable in *writer and
// readable in *reader, another open of the same file through /proc: 1, or 0
// when the file system or /proc does not allow it.
static int cgiUploadOpenUnnamed(const char *dir, int *writer, int *reader) {
#ifdef O_TMPFILE
  int w = open(dir, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (w < 0) return 0;
  char path[40];
  snprintf(path, sizeof path, "/proc/self/fd/%d", w);
  int r = fchmod(w, 0600) == 0 ? open(path, O_RDONLY | O_CLOEXEC) : -1;
  if (r < 0) {
    close(w);
    return 0;
  }
  *writer = w;
  *reader = r;
  return 1;
#else
  (void)dir;
  (void)writer;
  (void)reader;
  return 0;
#endif
}

// Whether the two descriptors are open on the same file.
static int cgiUploadSameFile(int a, int b) {
  struct stat sa, sb;
  return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// Creates a new file in dir under a name no other file has, opens it a
// second time read-only and removes the name: 1 with the two descriptors,
// or 0.  The mode is set to 0600 whatever the umask.
static int cgiUploadOpenNamed(const char *dir, int *writer, int *reader) {
  char path[PATH_MAX];
  int length = snprintf(path, sizeof path, "%s/.cgiUploadXXXXXX", dir);
  if (length < 0 || static_cast<size_t>(length) >= sizeof path) return 0;
  for (int tries = 0; tries < CGI_UPLOAD_TRIES; tries++) {
    cgiFillTempName(path + length - 6);
    int w = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (w < 0 && errno == EEXIST) continue;
    if (w < 0) return 0;
    int r = fchmod(w, 0600) == 0 ? open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC) : -1;
    unlink(path);
    if (r >= 0 && cgiUploadSameFile(w, r)) {
      *writer = w;
      *reader = r;
      return 1;
    }
    if (r >= 0) close(r);
    close(w);
    return 0;
  }
  return 0;
}

// Makes the unnamed temporary file of r: its read-only stream goes into the
// record and the descriptor to write the content through into *writer.
cgiMultipartResult cgiUploadOpen(cgiUploadRecord *r, int *writer) {
  const char *dir = cgiUploadDir();
  int w, rd;
  if (!(!cgiUploadNamedTemp && cgiUploadOpenUnnamed(dir, &w, &rd)) &&
      !cgiUploadOpenNamed(dir, &w, &rd))
    return cgiMultipartFileError;
  FILE *file = fdopen(rd, "rb");
  if (!file) {
    int error = errno;
    close(rd);
    close(w);
    return error == ENOMEM ? cgiMultipartNoMemory : cgiMultipartFileError;
  }
  r->upload.file = file;
  *writer = w;
  return cgiMultipartOk;
}

// Closes the files of the records from first on and releases them.
void cgiUploadRecordsFree(cgiUploadRecord *first) {
  while (first) {
    cgiUploadRecord *next = first->next;
    if (first->upload.file) fclose(first->upload.file);
    free(first);
    first = next;
  }
}

// Makes the records from first on those of the request.
void cgiUploadInstall(cgiUploadRecord *first) {
  cgiUploadList = first;
  cgiUploadPos = nullptr;
}

// Closes and releases every record of the request and resets the cursor.
void cgiUploadFreeAll(void) {
  cgiUploadRecordsFree(cgiUploadList);
  cgiUploadList = nullptr;
  cgiUploadPos = nullptr;
}

// The record made for the same part as e, or null.
const cgiUpload *cgiUploadOfEntry(const cgiFormEntry *e) {
  for (const cgiUploadRecord *r = cgiUploadList; r; r = r->next)
    if (r->entry == e) return &r->upload;
  return nullptr;
}

// The first record from r on that the cursor seeks (name: the sought name).
static const cgiUpload *cgiUploadSeek(const cgiUploadRecord *r, const char *name) {
  for (; r; r = r->next) {
    if (cgiUploadAnyName || strcmp(r->upload.name, name) == 0) {
      cgiUploadPos = r;
      return &r->upload;
    }
  }
  cgiUploadPos = nullptr;
  return nullptr;
}

// Starts a search for the records of name (any name when null).
const cgiUpload *cgiUploadFind(const char *name) {
  cgiUploadAnyName = name == nullptr;
  return cgiUploadSeek(cgiUploadList, name);
}

// The next record of the name that the last found record bears.
const cgiUpload *cgiUploadNext(void) {
  if (!cgiUploadPos) return nullptr;
  return cgiUploadSeek(cgiUploadPos->next, cgiUploadPos->upload.name);
}
}
