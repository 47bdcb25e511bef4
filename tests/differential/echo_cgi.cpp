// echo_cgi.cpp: a CGI program whose cgiMain prints every decoded form entry,
// in list order, as "NAME:VALUE" in hexadecimal, one entry a line, and then a
// line holding ".".  Run plainly it answers one request (without the pause of
// the library's own main).  With --batch it answers many: each line of
// standard input is "GET DATA" or "POST DATA", which it runs through the real
// driver as a GET request with DATA as QUERY_STRING or as a URL-encoded POST
// request with DATA as the body.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "cgi/internal.h"

// Writes the bytes of s as lower-case hexadecimal digits.
static void echoHex(const char *s) {
  for (; *s; s++) printf("%02x", static_cast<unsigned char>(*s));
}

extern "C" int cgiMain(void) {
  for (const cgiFormEntry *e = cgiFormEntryFirst; e; e = e->next) {
    echoHex(e->name);
    putchar(':');
    echoHex(e->value);
    putchar('\n');
  }
  puts(".");
  return 0;
}

// Runs one request whose form data is data, by method.
static int echoRun(const std::string &method, const std::string &data) {
  clearenv();
  setenv("REQUEST_METHOD", method.c_str(), 1);
  if (method == "GET") setenv("QUERY_STRING", data.c_str(), 1);
  if (method == "POST") {
    setenv("CONTENT_TYPE", "application/x-www-form-urlencoded", 1);
    setenv("CONTENT_LENGTH", std::to_string(data.size()).c_str(), 1);
  }
  std::string body = data + "#";  // a body stream is never empty
  FILE *in = fmemopen(body.data(), body.size(), "r");
  int status = 0;
  cgiRequestRun(in, stdout, &status);
  fclose(in);
  return status;
}

// Answers one request a line of standard input.
static int echoBatch(void) {
  char *line = nullptr;
  size_t room = 0;
  ssize_t n;
  while ((n = getline(&line, &room, stdin)) > 0) {
    std::string text(line, static_cast<size_t>(n));
    if (text.back() == '\n') text.pop_back();
    size_t space = text.find(' ');
    if (space == std::string::npos) space = text.size();
    if (echoRun(text.substr(0, space),
                text.substr(space + 1 > text.size() ? text.size() : space + 1)) != 0)
      puts("status!=0");
  }
  free(line);
  return 0;
}

int main(int argc, char **argv) {
  if (argc > 1 && strcmp(argv[1], "--batch") == 0) return echoBatch();
  int status;
  cgiRequestRun(stdin, stdout, &status);
  return status;
}
