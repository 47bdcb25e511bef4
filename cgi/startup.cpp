// startup.cpp: the request variables, the request driver and teardown.
#include <string.h>

#include "internal.h"

extern "C" {

const char cgiEmptyText[1] = "";

#define CGI_EMPTY const_cast<char *>(cgiEmptyText)

char *cgiServerSoftware = CGI_EMPTY;
char *cgiServerName = CGI_EMPTY;
char *cgiGatewayInterface = CGI_EMPTY;
char *cgiServerProtocol = CGI_EMPTY;
char *cgiServerPort = CGI_EMPTY;
char *cgiRequestMethod = CGI_EMPTY;
char *cgiPathInfo = CGI_EMPTY;
char *cgiPathTranslated = CGI_EMPTY;
char *cgiScriptName = CGI_EMPTY;
char *cgiQueryString = CGI_EMPTY;
char *cgiRemoteHost = CGI_EMPTY;
char *cgiRemoteAddr = CGI_EMPTY;
char *cgiAuthType = CGI_EMPTY;
char *cgiRemoteUser = CGI_EMPTY;
char *cgiRemoteIdent = CGI_EMPTY;
char *cgiContentType = CGI_EMPTY;
char *cgiAccept = CGI_EMPTY;
char *cgiUserAgent = CGI_EMPTY;
int cgiContentLength = 0;

FILE *cgiIn = nullptr;
FILE *cgiOut = nullptr;

cgiFormEntry *cgiFormEntryFirst = nullptr;
int cgiRestored = 0;

const cgiRequestText cgiRequestTexts[cgiRequestTextCount] = {
    {&cgiServerSoftware, "SERVER_SOFTWARE"},
    {&cgiServerName, "SERVER_NAME"},
    {&cgiGatewayInterface, "GATEWAY_INTERFACE"},
    {&cgiServerProtocol, "SERVER_PROTOCOL"},
    {&cgiServerPort, "SERVER_PORT"},
    {&cgiRequestMethod, "REQUEST_METHOD"},
    {&cgiPathInfo, "PATH_INFO"},
    {&cgiPathTranslated, "PATH_TRANSLATED"},
    {&cgiScriptName, "SCRIPT_NAME"},
    {&cgiQueryString, "QUERY_STRING"},
    {&cgiRemoteHost, "REMOTE_HOST"},
    {&cgiRemoteAddr, "REMOTE_ADDR"},
    {&cgiAuthType, "AUTH_TYPE"},
    {&cgiRemoteUser, "REMOTE_USER"},
    {&cgiRemoteIdent, "REMOTE_IDENT"},
    {&cgiContentType, "CONTENT_TYPE"},
    {&cgiAccept, "HTTP_ACCEPT"},
    {&cgiUserAgent, "HTTP_USER_AGENT"},
};

char **cgiRequestParams = nullptr;

// The value of name among the request's parameters, or null.
static char *cgiParamValue(const char *name) {
  size_t length = strlen(name);
  for (char **p = cgiRequestParams; *p; p++)
    if (strncmp(*p, name, length) == 0 && (*p)[length] == '=') return *p + length + 1;
  return nullptr;
}

// Points *s at the value of name, or at the shared empty text: the value in
// the request's parameters when a driver has set them, else in the process
// environment.  The only lookup of request meta-variables: start-up and the
// cookie reader.
void cgiGetenv(char **s, const char *name) {
  char *value = cgiRequestParams ? cgiParamValue(name) : getenv(name);
  *s = value ? value : CGI_EMPTY;
}

// Points every request text at the shared empty text and zeroes
// cgiContentLength, so that nothing refers to the parameters of a finished
// request.  For after teardown, which has released any replayed texts.
void cgiRequestForget(void) {
  for (const cgiRequestText &t : cgiRequestTexts) *t.variable = CGI_EMPTY;
  cgiContentLength = 0;
}

// The ASCII lower-case form of c; every other byte stands for itself.
static int cgiLowerAscii(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

// 1 when the two texts are equal without regard to the case of ASCII letters.
int cgiStrEqNc(const char *s1, const char *s2) {
  for (;; s1++, s2++) {
    unsigned char a = static_cast<unsigned char>(*s1), b = static_cast<unsigned char>(*s2);
    if (a == 0) return b == 0;
    if (cgiLowerAscii(a) != cgiLowerAscii(b)) return 0;
  }
}

// Releases the form entries (every block they were carved from, whether
// linked or not), the upload records with their files and, after a replay,
// the replayed request texts; forgets every cursor.
void cgiFreeResources(void) {
  cgiFormEntryFirst = nullptr;
  cgiFormEntriesRelease();
  cgiMultipartFree();
  cgiLookupReset();
  if (cgiRestored) {
    for (const cgiRequestText &t : cgiRequestTexts) {
      free(*t.variable);
      *t.variable = CGI_EMPTY;
    }
    cgiRestored = 0;
  }
}

// Reads the request variables, in the order the meta-variables are listed.
static void cgiReadVariables(void) {
  for (int i = 0; i < cgiRequestTextCount; i++) {
    const cgiRequestText &t = cgiRequestTexts[i];
    cgiGetenv(t.variable, t.envName);
    if (t.variable == &cgiContentType) {
      char *length;
      cgiGetenv(&length, "CONTENT_LENGTH");
      cgiContentLength = cgiStrToInt(length);
    }
  }
}

// Decodes the form data that the method and content type call for.
static cgiParseResult cgiDecodeRequest(void) {
  if (cgiStrEqNc(cgiRequestMethod, "post")) {
    if (cgiStrEqNc(cgiContentType, "application/x-www-form-urlencoded"))
      return cgiParsePostFormInput();
    return cgiParseOk;
  }
  if (cgiStrEqNc(cgiRequestMethod, "get")) {
    size_t length = strlen(cgiQueryString);
    cgiContentLength = length > 0x7fffffff ? 0x7fffffff : static_cast<int>(length);
    return cgiParseGetFormInput();
  }
  return cgiParseOk;
}

// Runs one request on the given streams: sets up, decodes, calls cgiMain and
// releases everything.  Returns 1 with cgiMain's result in *status, or 0
// with -1 in *status when the form data could not be decoded.
int cgiRequestRun(FILE *in, FILE *out, int *status) {
  cgiSetupConstants();
  cgiReadVariables();
  cgiFormEntryFirst = nullptr;
  cgiIn = in;
  cgiOut = out;
  cgiRestored = 0;
  if (cgiDecodeRequest() != cgiParseOk) {
    cgiFreeResources();
    *status = -1;
    return 0;
  }
  *status = cgiMain();
  cgiFreeResources();
  return 1;
}
}
