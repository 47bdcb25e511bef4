// main.cpp: the process entry point of every program built on the library.
#include <fcntl.h>
#include <unistd.h>

#include "internal.h"

// Points standard input, output and error at /dev/null.  A web server ends
// the response only when every copy of the pipes or socket it gave the
// program is closed (some hand over one socket as both input and output,
// some wait for the end of standard error too); /dev/null rather than a
// plain close keeps later opens from taking these numbers.
static void cgiReleaseStandardStreams(void) {
  int null = open("/dev/null", O_RDWR);
  for (int fd = 0; fd <= 2; fd++) {
    if (fd == null) continue;
    if (null < 0 || dup2(null, fd) < 0) close(fd);
  }
  if (null > 2) close(null);
}

// Runs the request, then releases the standard streams before the
// one-second pause so that the web server can finish the response at once.
int main(void) {
  int status;
  if (!cgiRequestRun(stdin, stdout, &status)) return status;
  fflush(stdout);
  cgiReleaseStandardStreams();
  sleep(1);
  return status;
}
