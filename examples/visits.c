/* visits.c: an example application.  It counts a visitor's visits in a
 * cookie and greets them by the name that its form sends, escaped so that
 * any name shows as text. */
#include <stdio.h>
#include <stdlib.h>

#include <cgi/cgi.h>

int cgiMain(void) {
  char count[8], next[12], name[100];
  int visits = 0;
  cgiCookieAttributes forAMonth = {0}; /* zeros: Path=/, HttpOnly, SameSite=Lax */
  if (cgiCookieValue("visits", count, sizeof count) == cgiResultOk) visits = atoi(count);
  if (visits < 0) visits = 0;
  snprintf(next, sizeof next, "%d", visits + 1);
  forAMonth.maxAge = 30 * 24 * 60 * 60;
  cgiHeaderSetCookie("visits", next, &forAMonth);
  cgiHeaderContentType("text/html; charset=utf-8");

  cgiFormString("name", name, sizeof name);
  fputs("<!DOCTYPE html>\n<html>\n<head><title>Visits</title></head>\n<body>\n<p>Hello, ", cgiOut);
  cgiHtmlWriteText(name[0] ? name : "stranger");
  fprintf(cgiOut, ". This is visit %s.</p>\n", next);
  fputs("<form><input name=name value=", cgiOut);
  cgiHtmlWriteAttribute(name);
  fputs("> <button>Again</button></form>\n</body>\n</html>\n", cgiOut);
  return 0;
}
