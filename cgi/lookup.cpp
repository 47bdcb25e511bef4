// lookup.cpp: the search cursor over the form entry list, and the walk over
// every field.
#include <string.h>

#include "internal.h"

extern "C" {

static const char *cgiFindTarget = nullptr;
static cgiFormEntry *cgiFindPos = nullptr;

// Starts a search for name from the head of the list; returns the first match.
cgiFormEntry *cgiFormEntryFindFirst(const char *name) {
  cgiFindTarget = name;
  cgiFindPos = cgiFormEntryFirst;
  return cgiFormEntryFindNext();
}

// Returns the next entry whose name equals the sought name exactly, or null.
cgiFormEntry *cgiFormEntryFindNext(void) {
  while (cgiFindPos) {
    cgiFormEntry *e = cgiFindPos;
    cgiFindPos = e->next;
    if (strcmp(e->name, cgiFindTarget) == 0) return e;
  }
  return nullptr;
}

static cgiFormEntry *cgiWalkPos = nullptr;

// Stores the texts of the entry at the walk's position and its upload record,
// and moves the walk on: 1, or 0 when the walk has ended.
static int cgiFormFieldGive(const char **name, const char **value, const cgiUpload **upload) {
  cgiFormEntry *e = cgiWalkPos;
  if (!e) return 0;
  cgiWalkPos = e->next;
  if (name) *name = e->name;
  if (value) *value = e->value;
  if (upload) *upload = cgiUploadOfEntry(e);
  return 1;
}

// Starts the walk over every entry at the head of the list.
int cgiFormFieldFirst(const char **name, const char **value, const cgiUpload **upload) {
  cgiWalkPos = cgiFormEntryFirst;
  return cgiFormFieldGive(name, value, upload);
}

// Gives the entry after the one given last.
int cgiFormFieldNext(const char **name, const char **value, const cgiUpload **upload) {
  return cgiFormFieldGive(name, value, upload);
}

// Forgets both cursors, so that none refers to a released entry.
void cgiLookupReset(void) {
  cgiFindPos = nullptr;
  cgiWalkPos = nullptr;
}
}
