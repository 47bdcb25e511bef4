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
}
