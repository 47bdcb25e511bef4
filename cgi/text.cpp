// text.cpp: form fields as text, with line breaks normalised.
#include <limits.h>
#include <string.h>

#include "internal.h"

extern "C" {

// The buffer size that takes a text of length bytes whole (length plus one
// for the NUL), saturated at INT_MAX.
static int cgiSizeFor(size_t length) {
  return length >= INT_MAX ? INT_MAX : static_cast<int>(length) + 1;
}

// Stores the LFs that settle a run of line breaks; 0 when one found no room.
static int cgiStoreBreaks(char *result, int room, int *stored, int breaks) {
  for (; breaks > 0; breaks--) {
    if (*stored == room) return 0;
    result[(*stored)++] = '\n';
  }
  return 1;
}

// Copies e's value into result (size max, NUL included), turning each run of
// CR and LF bytes into as many LFs as the larger of its CR and LF counts, or
// into nothing when newlines is 0.  A max below 1 writes nothing.  The bytes
// between line breaks are found with strcspn and copied in bulk.
cgiFieldResult cgiFormEntryString(const cgiFormEntry *e, char *result, int max, int newlines) {
  const int room = max > 0 ? max - 1 : 0;
  int stored = 0;
  bool truncated = false;
  for (const char *p = e->value;;) {
    size_t run = strcspn(p, "\r\n");
    size_t fit = static_cast<size_t>(room - stored);
    if (run > fit) {
      if (fit) memcpy(result + stored, p, fit);
      stored = room;
      truncated = true;
      break;
    }
    if (run) memcpy(result + stored, p, run);
    stored += static_cast<int>(run);
    p += run;
    if (*p == '\0') break;
    int crs = 0, lfs = 0;
    for (; *p == '\r' || *p == '\n'; p++) (*p == '\r' ? crs : lfs)++;
    if (!cgiStoreBreaks(result, room, &stored, newlines ? (crs > lfs ? crs : lfs) : 0)) {
      truncated = true;
      break;
    }
  }
  if (max > 0) result[stored] = '\0';
  if (truncated) return cgiResultTruncated;
  return stored == 0 ? cgiResultEmpty : cgiResultOk;
}

// Copies the first value of the field, in the given line-break mode.
static cgiFieldResult cgiFormStringMode(const char *name, char *result, int max, int newlines) {
  const cgiFormEntry *e = cgiFormEntryFindFirst(name);
  if (!e) {
    if (max > 0) result[0] = '\0';
    return cgiResultAbsent;
  }
  return cgiFormEntryString(e, result, max, newlines);
}

// The field's first value with line breaks normalised to LF.
cgiFieldResult cgiFormString(const char *name, char *result, int max) {
  return cgiFormStringMode(name, result, max, 1);
}

// The field's first value with line breaks removed.
cgiFieldResult cgiFormStringNoNewlines(const char *name, char *result, int max) {
  return cgiFormStringMode(name, result, max, 0);
}

// The buffer size that takes the field's first value whole, saturated at
// INT_MAX.
cgiFieldResult cgiFormStringSpaceNeeded(const char *name, int *length) {
  const cgiFormEntry *e = cgiFormEntryFindFirst(name);
  if (!e) {
    *length = 1;
    return cgiResultAbsent;
  }
  *length = cgiSizeFor(strlen(e->value));
  return cgiResultOk;
}

// Every value of the field, copied into a new null-terminated array; a value
// too long for an int size is cut to INT_MAX - 1 bytes.
cgiFieldResult cgiFormStringMultiple(const char *name, char ***ptrToStringArray) {
  size_t total = 0;
  for (const cgiFormEntry *e = cgiFormEntryFindFirst(name); e; e = cgiFormEntryFindNext()) total++;
  char **array = static_cast<char **>(cgiMalloc(sizeof(char *) * (total + 1)));
  *ptrToStringArray = nullptr;
  if (!array) return cgiResultNoMemory;
  for (size_t i = 0; i <= total; i++) array[i] = nullptr;
  const cgiFormEntry *e = cgiFormEntryFindFirst(name);
  if (!e) {
    *ptrToStringArray = array;
    return cgiResultAbsent;
  }
  for (size_t i = 0; e; i++, e = cgiFormEntryFindNext()) {
    int size = cgiSizeFor(strlen(e->value));
    array[i] = static_cast<char *>(cgiMalloc(static_cast<size_t>(size)));
    if (!array[i]) {
      cgiStringArrayFree(array);
      return cgiResultNoMemory;
    }
    cgiFormEntryString(e, array[i], size, 1);
  }
  *ptrToStringArray = array;
  return cgiResultOk;
}

// Releases every text of the array, up to its null slot, and the array.
void cgiStringArrayFree(char **stringArray) {
  if (!stringArray) return;
  for (char **p = stringArray; *p; p++) free(*p);
  free(stringArray);
}
}
