// lookup.cpp: the single search cursor over the form entry list.
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
}
