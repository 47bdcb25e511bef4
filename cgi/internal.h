// internal.h: declarations shared by the library's sources and nothing else.
#ifndef CGI_INTERNAL_H
#define CGI_INTERNAL_H

#include <stdio.h>
#include <stdlib.h>

#include "cgi.h"

extern "C" {

// One decoded form field.  The record and its two texts are one piece of a
// block that teardown releases (see cgiFormEntryNew).
typedef struct cgiFormEntry {
  char *name;
  char *value;
  struct cgiFormEntry *next;
} cgiFormEntry;

typedef enum { cgiParseOk = 0, cgiParseNoMemory = 1, cgiParseShortRead = 2 } cgiParseResult;

// One of the 18 request texts with the meta-variable it is read from.
typedef struct {
  char **variable;
  const char *envName;
} cgiRequestText;

// The request texts in capture order (CONTENT_LENGTH is not among them).
extern const cgiRequestText cgiRequestTexts[18];
#define cgiRequestTextCount 18

// The one shared empty text that absent variables point at; never written.
extern const char cgiEmptyText[1];

extern cgiFormEntry *cgiFormEntryFirst;
extern int cgiRestored;
extern int cgiHexValue[256];

// startup.cpp
// When set, the request's parameters ("NAME=value" texts, null-terminated
// array) that cgiGetenv reads instead of the process environment.
extern char **cgiRequestParams;
void cgiGetenv(char **s, const char *name);
void cgiRequestForget(void);
int cgiStrEqNc(const char *s1, const char *s2);
void cgiFreeResources(void);
int cgiRequestRun(FILE *in, FILE *out, int *status);

// process.cpp
int cgiProcessMain(void);

// decode.cpp
void cgiSetupConstants(void);
void *cgiMallocLarge(size_t size);
cgiParseResult cgiParsePostFormInput(void);
cgiParseResult cgiParseGetFormInput(void);
cgiParseResult cgiParseFormInput(const char *data, int length);
void cgiUnescapeChars(char *out, const char *cp, size_t len);

// entries.cpp
// Creates an unlinked entry whose name and value have room for nameRoom and
// valueRoom bytes plus a NUL each (both start as the empty text); null when
// memory runs out.  The caller fills the texts and links the entry; the
// entry's memory is released by teardown (cgiFreeResources) whether or not it
// was ever linked, and never by anything else.
cgiFormEntry *cgiFormEntryNew(size_t nameRoom, size_t valueRoom);
void cgiFormEntriesRelease(void);

// lookup.cpp
cgiFormEntry *cgiFormEntryFindFirst(const char *name);
cgiFormEntry *cgiFormEntryFindNext(void);
void cgiLookupReset(void);

// text.cpp
cgiFieldResult cgiFormEntryString(const cgiFormEntry *e, char *result, int max, int newlines);

// numeric.cpp
int cgiStrToInt(const char *s);
int cgiFirstNonspaceChar(const char *s);

// header.cpp
int cgiIsTokenByte(unsigned char c);
int cgiIsToken(const char *text);
int cgiIsFieldValue(const char *text);

// capture.cpp
void cgiFillTempName(char *x);
int cgiWriteInt(FILE *out, int i);
int cgiWriteString(FILE *out, const char *s);
int cgiReadInt(FILE *in, int *i);
int cgiReadString(FILE *in, char **s);

// shell.cpp
void cgiShellEscape(const char *command, char *copy);

// multipart.cpp
extern size_t cgiMultipartChunk;
void cgiMultipartFree(void);

// upload.cpp: the upload records of one body, made while it is read and
// installed only when all of it was read.
typedef struct cgiUploadRecord {
  cgiUpload upload;
  const cgiFormEntry *entry;  // the form entry made for the same part
  struct cgiUploadRecord *next;
} cgiUploadRecord;
extern int cgiUploadNamedTemp;
cgiUploadRecord *cgiUploadRecordNew(const char *name, size_t nameLength, const char *fileName,
                                    size_t fileNameLength, const char *type, size_t typeLength);
cgiMultipartResult cgiUploadOpen(cgiUploadRecord *r, int *writer);
void cgiUploadRecordsFree(cgiUploadRecord *first);
void cgiUploadInstall(cgiUploadRecord *first);
void cgiUploadFreeAll(void);
const cgiUpload *cgiUploadOfEntry(const cgiFormEntry *e);

// Blocks of at least this size are placed on huge-page boundaries.
#define CGI_HUGE_PAGE (2 * 1024 * 1024)

// Every allocation of the library goes through cgiMalloc, so that a test
// build can make the k-th allocation fail.
#ifdef CGI_FAULT_INJECTION
void *cgiMalloc(size_t size);
#else
static inline void *cgiMalloc(size_t size) {
  return size < CGI_HUGE_PAGE ? malloc(size) : cgiMallocLarge(size);
}
#endif
}

#endif  // CGI_INTERNAL_H
