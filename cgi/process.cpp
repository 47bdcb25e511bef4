// process.cpp: the CGI process: one request, then the release of the
// standard streams, the pause and the exit status.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "internal.h"

// Milliseconds on the monotonic clock.
static long long cgiNowMs(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

// The file type bits of fd (S_IFSOCK, S_IFIFO, ...), or 0 when it is closed.
static mode_t cgiFdType(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 ? st.st_mode & S_IFMT : 0;
}

// Reads and discards what is left of the request body on standard input when
// the server writes it there through a pipe or socket, until its end or for
// at most a second.  A body the program does not read (another content type,
// no CONTENT_LENGTH) is common, and servers that are still writing it treat
// a closed standard input as a failure: closing a socket with unread data
// resets it, and mod_cgid then drops the response; fcgiwrap answers 502
// when it cannot write the rest of a body.  A terminal or a file is left
// alone.
static void cgiDiscardInput(void) {
  mode_t type = cgiFdType(0);
  if (type != S_IFIFO && type != S_IFSOCK) return;
  long long deadline = cgiNowMs() + 1000;
  char buffer[16384];
  for (long long left; (left = deadline - cgiNowMs()) > 0;) {
    struct pollfd input = {0, POLLIN, 0};
    int ready = poll(&input, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return;
    ssize_t got = read(0, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return;
  }
}

// Points fd at /dev/null, or closes it when /dev/null cannot be opened.
static void cgiReleaseFd(int fd) {
  int null = open("/dev/null", O_RDWR);
  if (null == fd) return;
  if (null < 0 || dup2(null, fd) < 0) close(fd);
  if (null >= 0) close(null);
}

// Ends the response and releases standard input, output and error.  A web
// server ends the response only when every copy of the pipes or socket it
// gave the program is closed (some hand over one socket as both input and
// output, some wait for the end of standard error too); /dev/null rather
// than a plain close keeps later opens from taking these numbers.
static void cgiReleaseStandardStreams(void) {
  if (cgiFdType(1) == S_IFSOCK) shutdown(1, SHUT_WR);
  cgiReleaseFd(1);
  cgiReleaseFd(2);
  cgiDiscardInput();
  cgiReleaseFd(0);
}

// Runs the request, then releases the standard streams before the
// one-second pause so that the web server can finish the response at once;
// gives the exit status.  The whole of a CGI program's main.
int cgiProcessMain(void) {
  int status;
  if (!cgiRequestRun(stdin, stdout, &status)) return status;
  fflush(stdout);
  cgiReleaseStandardStreams();
  sleep(1);
  return status;
}
