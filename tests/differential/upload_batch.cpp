// upload_batch.cpp: the upload example's cgiMain run through the real driver
// for many requests in one process, as a server that keeps its programs
// running would.  Standard input holds records "CONTENT_TYPE\nLENGTH\n" and
// LENGTH bytes of body; each is run as a POST request, and its response is
// written as "SIZE\n" and SIZE bytes.  At the end it writes
// "descriptors BEFORE AFTER": the open descriptors before the first request
// and after the last, which must be equal.
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "cgi/internal.h"

// The number of open descriptors.
static int openDescriptors(void) {
  int n = 0;
  DIR *d = opendir("/proc/self/fd");
  while (dirent *e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n;
}

// Runs one request with the given content type and body.
static void batchRun(const std::string &type, std::string &body) {
  setenv("REQUEST_METHOD", "POST", 1);
  setenv("CONTENT_TYPE", type.c_str(), 1);
  setenv("CONTENT_LENGTH", std::to_string(body.size()).c_str(), 1);
  body += '#';  // a buffer even for an empty body
  FILE *in = fmemopen(&body[0], body.size() - 1, "r");
  char *response = nullptr;
  size_t size = 0;
  FILE *out = open_memstream(&response, &size);
  int status;
  cgiRequestRun(in, out, &status);
  fclose(out);
  fclose(in);
  printf("%zu\n", size);
  fwrite(response, 1, size, stdout);
  free(response);
}

int main(void) {
  int before = openDescriptors();
  char line[4096];
  while (fgets(line, sizeof line, stdin)) {
    std::string type(line, strcspn(line, "\n"));
    if (!fgets(line, sizeof line, stdin)) return 1;
    std::string body(strtoul(line, nullptr, 10), '\0');
    if (fread(&body[0], 1, body.size(), stdin) != body.size()) return 1;
    batchRun(type, body);
  }
  printf("descriptors %d %d\n", before, openDescriptors());
  return 0;
}
