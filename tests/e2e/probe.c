/* probe.c: a program for the FastCGI tests that shows the request state the
 * library gives it.  PATH_INFO picks what it does first:
 *   /capture, /replay  capture the request to, or replay it from, the
 *                      file named by the field "path";
 *   /upload            read a multipart/form-data body, and leave a field
 *                      walk and an upload search at their first items;
 *   /next              continue a field walk and an upload search that this
 *                      request never started;
 *   /shell             list its descriptors through cgiSaferSystem (the
 *                      command writes to the process's standard output);
 *   /big               write the field "size" bytes of "x" and nothing else;
 *   /status            end with the field "status" as its result.
 * Then it writes its report as plain text: every request variable as
 * NAME=value, the cookie "c", and every field (with its file, if any).
 * When the process exits it writes the request variables, one a line, to
 * standard error: what is left of the last request. */
#include <cgi/cgi.h>
#include <stdlib.h>
#include <string.h>

static const char *const names[] = {
    "SERVER_SOFTWARE", "SERVER_NAME", "GATEWAY_INTERFACE", "SERVER_PROTOCOL", "SERVER_PORT",
    "REQUEST_METHOD",  "PATH_INFO",   "PATH_TRANSLATED",   "SCRIPT_NAME",     "QUERY_STRING",
    "REMOTE_HOST",     "REMOTE_ADDR", "AUTH_TYPE",         "REMOTE_USER",     "REMOTE_IDENT",
    "CONTENT_TYPE",    "HTTP_ACCEPT", "HTTP_USER_AGENT"};

// Writes the request variables to out as NAME=value lines.
static void variables(FILE *out) {
  char *const values[] = {
      cgiServerSoftware, cgiServerName, cgiGatewayInterface, cgiServerProtocol, cgiServerPort,
      cgiRequestMethod,  cgiPathInfo,   cgiPathTranslated,   cgiScriptName,     cgiQueryString,
      cgiRemoteHost,     cgiRemoteAddr, cgiAuthType,         cgiRemoteUser,     cgiRemoteIdent,
      cgiContentType,    cgiAccept,     cgiUserAgent};
  for (int i = 0; i < 18; i++) fprintf(out, "%s=%s\n", names[i], values[i]);
  fprintf(out, "CONTENT_LENGTH=%d\n", cgiContentLength);
}

static void variablesAtExit(void) {
  variables(stderr);
}

static void report(void) {
  char cookie[100];
  const char *name, *value;
  const cgiUpload *upload;
  variables(cgiOut);
  if (cgiCookieValue("c", cookie, sizeof cookie) != cgiResultAbsent)
    fprintf(cgiOut, "cookie c=%s\n", cookie);
  for (int more = cgiFormFieldFirst(&name, &value, &upload); more;
       more = cgiFormFieldNext(&name, &value, &upload)) {
    fprintf(cgiOut, "field %s=%s", name, value);
    if (upload) {
      char head[16] = "";
      size_t n = fread(head, 1, sizeof head - 1, upload->file);
      head[n] = '\0';
      fprintf(cgiOut, " file %s %d %s", upload->fileName, upload->size, head);
    }
    fputs("\n", cgiOut);
  }
}

int cgiMain(void) {
  static int registered = 0;
  char path[200];
  int n;
  if (!registered) registered = atexit(variablesAtExit) == 0;
  if (strcmp(cgiPathInfo, "/big") == 0) {
    cgiFormInteger("size", &n, 1 << 22);
    cgiHeaderContentType("text/plain");
    for (int i = 0; i < n; i++) putc('x', cgiOut);
    return 0;
  }
  cgiHeaderContentType("text/plain");
  cgiFormString("path", path, sizeof path);
  if (strcmp(cgiPathInfo, "/capture") == 0)
    fprintf(cgiOut, "capture %d\n", cgiWriteEnvironment(path));
  if (strcmp(cgiPathInfo, "/replay") == 0) fprintf(cgiOut, "replay %d\n", cgiReadEnvironment(path));
  if (strcmp(cgiPathInfo, "/upload") == 0)
    fprintf(cgiOut, "multipart %d\n", cgiMultipartRead(NULL));
  if (strcmp(cgiPathInfo, "/next") == 0) {
    const char *name;
    fprintf(cgiOut, "next %d %d\n", cgiFormFieldNext(&name, NULL, NULL), cgiUploadNext() != NULL);
  }
  if (strcmp(cgiPathInfo, "/shell") == 0)
    fprintf(cgiOut, "shell %d\n", cgiSaferSystem("ls -l /proc/self/fd/"));
  report();
  if (strcmp(cgiPathInfo, "/upload") == 0) {
    const char *name;
    cgiFormFieldFirst(&name, NULL, NULL);
    cgiUploadFind(NULL);
  }
  if (strcmp(cgiPathInfo, "/status") == 0) {
    cgiFormInteger("status", &n, 0);
    return n;
  }
  return 0;
}
