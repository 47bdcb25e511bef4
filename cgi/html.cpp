// html.cpp: request values written into an HTML page as text or as
// attribute values.
#include <string.h>

#include "internal.h"

extern "C" {

// The bytes that are written as character references, and those references.
static const char cgiHtmlSpecial[] = "&<>\"'\r";
static const char *const cgiHtmlReferences[] = {"&amp;",  "&lt;",  "&gt;",
                                                "&quot;", "&#39;", "&#13;"};

// Writes text with its special bytes as references; runs of other bytes are
// found with strcspn and written in bulk.
static void cgiHtmlEscape(const char *text) {
  if (!text) return;
  for (;;) {
    size_t run = strcspn(text, cgiHtmlSpecial);
    fwrite(text, 1, run, cgiOut);
    text += run;
    if (*text == '\0') return;
    fputs(cgiHtmlReferences[strchr(cgiHtmlSpecial, *text) - cgiHtmlSpecial], cgiOut);
    text++;
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
