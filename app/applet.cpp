// applet.cpp: answers every request with a page that embeds App.class and
// hands it the form fields name, idApp and idGrp.
#include <string.h>

#include "cgi/cgi.h"

// Bytes that cannot stand in an unquoted HTML attribute value.
static const char appletUnsafeBytes[] = " \t\n\f\r\"'=<>`&";

// Writes value as an attribute value that a browser reads back unchanged:
// as it stands when it holds no unsafe byte, else quoted with references.
static void appletWriteValue(const char *value) {
  if (value[strcspn(value, appletUnsafeBytes)] == '\0')
    fputs(value, cgiOut);
  else
    cgiHtmlWriteAttribute(value);
}

// Writes one applet parameter line.
static void appletWriteParam(const char *name, const char *value) {
  fputs("<param name=", cgiOut);
  fputs(name, cgiOut);
  fputs(" value=", cgiOut);
  appletWriteValue(value);
  fputs(">\n", cgiOut);
}

// The application: the content-type header and the twelve lines of the page.
extern "C" int cgiMain(void) {
  char name[50], idApp[10], idGrp[10];
  cgiFormString("name", name, sizeof name);
  cgiFormString("idApp", idApp, sizeof idApp);
  cgiFormString("idGrp", idGrp, sizeof idGrp);
  cgiHeaderContentType("text/html");
  fputs("<HTML>\n", cgiOut);
  fputs("<HEAD>\n", cgiOut);
  fputs("<TITLE> A simple program </TITLE>\n", cgiOut);
  fputs("</HEAD>\n", cgiOut);
  fputs("<BODY>\n", cgiOut);
  fputs("<applet code=App.class WIDTH=500 HEIGHT=500>\n", cgiOut);
  appletWriteParam("Name", name);
  appletWriteParam("idApp", idApp);
  appletWriteParam("idGrp", idGrp);
  fputs("</applet>\n", cgiOut);
  fputs("</BODY>\n", cgiOut);
  fputs("</HTML>\n", cgiOut);
  return 0;
}
