// main.cpp: the process entry point of every program built on the library.
#include <unistd.h>

#include "internal.h"

// Runs the request, then closes standard output before the one-second pause so
// that the web server can finish the response at once.
int main(void) {
  int status;
  if (!cgiRequestRun(stdin, stdout, &status)) return status;
  fflush(stdout);
  fclose(stdout);
  sleep(1);
  return status;
}
