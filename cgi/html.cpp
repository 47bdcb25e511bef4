// html.cpp: request values written into an HTML page as text or as
// attribute values.
#include <string.h>

#include "internal.h"

extern "C" {

// The bytes that are written as character references.
static const char cgiHtmlSpecial[] = "&<>\"'\r";

// The character reference that stands for the special byte c.
static const char *cgiHtmlReference(char c) {
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return "&quot;";
    case '\'':
      return "&#39;";
    default:
      return "&#13;";
  }
}

// Writes text with its special bytes as references; runs of other bytes are
// found with strcspn and written in bulk.
static void cgiHtmlEscape(const char *text) {
  if (!text) return;
  for (;;) {
    size_t run = strcspn(text, cgiHtmlSpecial);
    fwrite(text, 1, run, cgiOut);
    text += run;
    if (*text == '\0') return;
    fputs(cgiHtmlReference(*text++), cgiOut);
  }
}

// Text as element content.
void cgiHtmlWriteText(const char *text) {
  cgiHtmlEscape(text);
}

// Text as a double-quoted attribute value, quotes included.
void cgiHtmlWriteAttribute(const char *text) {
  fputc('"', cgiOut);
  cgiHtmlEscape(text);
  fputc('"', cgiOut);
}
}
