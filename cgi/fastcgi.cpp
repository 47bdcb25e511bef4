// fastcgi.cpp: the FastCGI driver.  One long-lived process answers request
// after request on the listening socket that a FastCGI server hands it as
// standard input; each request runs through the same set-up, decoding,
// cgiMain and teardown as a CGI request.  Started any other way, the program
// is a plain CGI program.
#include <errno.h>
#include <fcgiapp.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include "internal.h"

extern "C" {

// Set by SIGTERM: the request in progress is answered, no other accepted.
static volatile sig_atomic_t cgiFcgiStopping = 0;

// SIGTERM, SIGUSR1: stop once the request in progress is answered.
static void cgiFcgiOnTerm(int) {
  cgiFcgiStopping = 1;
}

// SIGPIPE: nothing; the write to a connection the server closed fails
// instead.  A handler rather than SIG_IGN, so that the programs an
// application starts get the default action back when they run.
static void cgiFcgiOnPipe(int) {}

// Whether fd is a listening socket, as a FastCGI server starts its
// application.
static int cgiFcgiListening(int fd) {
  int accepting = 0;
  socklen_t length = sizeof accepting;
  return getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &length) == 0 && accepting;
}

// Moves the listening socket off standard input to a close-on-exec
// descriptor, which it returns, and points standard input at /dev/null, so
// that no program the application starts inherits the socket; -1 when
// either cannot be done.
static int cgiFcgiMoveListener(void) {
  int listener = fcntl(0, F_DUPFD_CLOEXEC, 3);
  if (listener < 0) return -1;
  int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (null < 0 || dup2(null, 0) < 0) {
    if (null >= 0) close(null);
    close(listener);
    return -1;
  }
  close(null);
  return listener;
}

// Installs handler for sig.  An interrupted read or write goes on, so that
// a signal never cuts a request short; the wait for one is interruptible
// all the same (see cgiFcgiWait).
static void cgiFcgiHandle(int sig, void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(sig, &action, nullptr);
}

// Reads up to size bytes of the request's input stream.
static ssize_t cgiFcgiRead(void *stream, char *buffer, size_t size) {
  int n = FCGX_GetStr(buffer, size > INT_MAX ? INT_MAX : static_cast<int>(size),
                      static_cast<FCGX_Stream *>(stream));
  return n > 0 ? n : 0;
}

// Writes size bytes to the request's output stream; 0 when it fails.
static ssize_t cgiFcgiWrite(void *stream, const char *buffer, size_t size) {
  int n = FCGX_PutStr(buffer, size > INT_MAX ? INT_MAX : static_cast<int>(size),
                      static_cast<FCGX_Stream *>(stream));
  return n > 0 ? n : 0;
}

// Answers one accepted request and gives its application status: cgiMain's
// result, or -1 when the form data could not be decoded or the streams not
// made.
static int cgiFcgiAnswer(FCGX_Request *request) {
  static const cookie_io_functions_t reader = {cgiFcgiRead, nullptr, nullptr, nullptr};
  static const cookie_io_functions_t writer = {nullptr, cgiFcgiWrite, nullptr, nullptr};
  FILE *in = fopencookie(request->in, "r", reader);
  FILE *out = fopencookie(request->out, "w", writer);
  int status = -1;
  if (in && out) {
    cgiRequestParams = request->envp;
    cgiRequestRun(in, out, &status);
    cgiRequestParams = nullptr;
    cgiRequestForget();
  }
  if (in) fclose(in);
  if (out) fclose(out);
  cgiIn = cgiOut = nullptr;
  return status;
}

// Waits until fd is readable, with SIGTERM and SIGUSR1 held back except
// while waiting, so that one sent at any time ends the wait: 1 when fd is
// readable, 0 when the process is to stop (a signal, or fd failed).
static int cgiFcgiWait(int fd) {
  sigset_t stop, old;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGUSR1);
  sigprocmask(SIG_BLOCK, &stop, &old);
  int ready = 0;
  while (!cgiFcgiStopping) {
    struct pollfd wait = {fd, POLLIN, 0};
    int n = ppoll(&wait, 1, nullptr, &old);
    if (n < 0 && errno == EINTR) continue;
    ready = n > 0 && !(wait.revents & POLLNVAL);
    break;
  }
  sigprocmask(SIG_SETMASK, &old, nullptr);
  return ready && !cgiFcgiStopping;
}

// Accepts the next request: 1, or 0 when the process is to stop.  The next
// request comes on the connection the last one kept open, if any, else on
// a new one.  A new connection is tried for at once, since under load one
// is already waiting; the wait comes only when there is none.  The
// listening socket does not block, so that when another process that
// shares it takes the connection first, this one goes back to waiting
// instead of blocking where SIGTERM cannot end the wait.
static int cgiFcgiAccept(FCGX_Request *request, int listener) {
  int tryFirst = request->ipcFd < 0;
  for (;;) {
    if (cgiFcgiStopping) return 0;
    if (!tryFirst && !cgiFcgiWait(request->ipcFd >= 0 ? request->ipcFd : listener)) return 0;
    tryFirst = 0;
    int accepted = FCGX_Accept_r(request);
    if (accepted >= 0) return 1;
    if (accepted != -EAGAIN && accepted != -EWOULDBLOCK && accepted != -EINTR &&
        accepted != -ECONNABORTED)
      return 0;
  }
}

// Serves requests on the listening socket until SIGTERM or a failure of the
// socket; gives the exit status: 0 after SIGTERM, else 1.
static int cgiFcgiServe(int listener) {
  cgiFcgiHandle(SIGPIPE, cgiFcgiOnPipe);
  cgiFcgiHandle(SIGTERM, cgiFcgiOnTerm);
  FCGX_Request request;
  if (fcntl(listener, F_SETFL, fcntl(listener, F_GETFL) | O_NONBLOCK) < 0 || FCGX_Init() != 0 ||
      FCGX_InitRequest(&request, listener, 0) != 0)
    return 1;
  // libfcgi's own SIGUSR1 handler (installed by FCGX_Init) makes every
  // later accept fail at once; SIGUSR1 stops the process as SIGTERM does.
  cgiFcgiHandle(SIGUSR1, cgiFcgiOnTerm);
  while (cgiFcgiAccept(&request, listener)) {
    // The connection is the library's; no program the application starts
    // may inherit it.
    if (request.ipcFd >= 0) fcntl(request.ipcFd, F_SETFD, FD_CLOEXEC);
    FCGX_SetExitStatus(cgiFcgiAnswer(&request), request.out);
    FCGX_Finish_r(&request);
  }
  FCGX_Free(&request, 1);
  close(listener);
  return cgiFcgiStopping ? 0 : 1;
}

}  // extern "C"

// Serves FastCGI requests when started by a FastCGI server (a listening
// socket as standard input), else answers one request as a CGI program.
int main(void) {
  if (!cgiFcgiListening(0)) return cgiProcessMain();
  int listener = cgiFcgiMoveListener();
  return listener < 0 ? 1 : cgiFcgiServe(listener);
}
