/* html.c: a CGI program for the end-to-end tests.  Every form field "hex"
 * spells bytes in hexadecimal (so that any byte, CR included, reaches the
 * program unchanged); each is written with both HTML writers, as the text of
 * a <p> whose title attribute it also is, and as the text of a <textarea>.
 * The page is in windows-1252, where every byte is a character of its own. */
#include <stdlib.h>

#include <cgi/cgi.h>

/* The weight of a hexadecimal digit. */
static int digit(char c) {
  return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

int cgiMain(void) {
  char **values;
  cgiFormStringMultiple("hex", &values);
  cgiHeaderContentType("text/html; charset=windows-1252");
  fputs("<!DOCTYPE html>\n<html>\n<head><title>bytes</title></head>\n<body>\n", cgiOut);
  for (char **v = values; v && *v; v++) {
    char *in = *v, *out = *v;
    for (; in[0] && in[1]; in += 2) *out++ = (char)(digit(in[0]) * 16 + digit(in[1]));
    *out = '\0';
    fputs("<p title=", cgiOut);
    cgiHtmlWriteAttribute(*v);
    fputs(">", cgiOut);
    cgiHtmlWriteText(*v);
    fputs("</p>\n<textarea>\n", cgiOut);
    cgiHtmlWriteText(*v);
    fputs("</textarea>\n", cgiOut);
  }
  cgiStringArrayFree(values);
  fputs("</body>\n</html>\n", cgiOut);
  return 0;
}
