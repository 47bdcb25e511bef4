// header.cpp: the response header writers.
#include <string.h>

#include "internal.h"

extern "C" {

// Writes text to cgiOut without its CR and LF bytes; null writes nothing.
static void cgiHeaderText(const char *text) {
  if (!text) return;
  while (*text) {
    size_t run = strcspn(text, "\r\n");
    fwrite(text, 1, run, cgiOut);
    text += run;
    text += strspn(text, "\r\n");
  }
}

// Writes one header line and the empty line that ends the header block.
static void cgiHeaderLine(const char *prefix, const char *text) {
  fputs(prefix, cgiOut);
  cgiHeaderText(text);
  fputs("\n\n", cgiOut);
}

// A redirection to redirectUrl.
void cgiHeaderLocation(const char *redirectUrl) {
  cgiHeaderLine("Location: ", redirectUrl);
}

// An explicit status code and reason phrase.
void cgiHeaderStatus(int status, const char *statusMessage) {
  fprintf(cgiOut, "Status: %d ", status);
  cgiHeaderText(statusMessage);
  fputs("\n\n", cgiOut);
}

// The media type of the body that follows.
void cgiHeaderContentType(const char *mimeType) {
  cgiHeaderLine("Content-type: ", mimeType);
}

// Whether c may stand in an HTTP token (a header field name).
int cgiIsTokenByte(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c != '\0' && strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

// Whether text is a non-empty HTTP token.
int cgiIsToken(const char *text) {
  if (!text || !*text) return 0;
  for (; *text; text++)
    if (!cgiIsTokenByte(static_cast<unsigned char>(*text))) return 0;
  return 1;
}

// Whether text can stand as a header field value: no control byte but TAB.
int cgiIsFieldValue(const char *text) {
  if (!text) return 0;
  for (; *text; text++) {
    unsigned char c = static_cast<unsigned char>(*text);
    if ((c < 0x20 && c != '\t') || c == 0x7f) return 0;
  }
  return 1;
}

// One header line that does not end the header block.
cgiHeaderResult cgiHeaderField(const char *name, const char *value) {
  if (!cgiIsToken(name)) return cgiHeaderBadName;
  if (!cgiIsFieldValue(value)) return cgiHeaderBadValue;
  fputs(name, cgiOut);
  fputs(": ", cgiOut);
  fputs(value, cgiOut);
  fputc('\n', cgiOut);
  return cgiHeaderOk;
}
}
