/* headers.c: a CGI program for the end-to-end tests.  It writes the form
 * field text into the response header that the field kind names (location,
 * status or type), then a one-line body, so that the tests can send line
 * breaks into each header writer through a real web server. */
#include <cgi/cgi.h>

static const char *kinds[] = {"location", "status", "type"};

int cgiMain(void) {
  char text[100];
  int kind;
  cgiFormString("text", text, sizeof text);
  cgiFormRadio("kind", kinds, 3, &kind, 2);
  if (kind == 0)
    cgiHeaderLocation(text);
  else if (kind == 1)
    cgiHeaderStatus(403, text);
  else
    cgiHeaderContentType(text);
  fputs("body\n", cgiOut);
  return 0;
}
