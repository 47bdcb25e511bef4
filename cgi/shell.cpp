// shell.cpp: running a command line through the shell with its command
// separators, substitutions and redirections escaped.
#include <string.h>

#include "internal.h"

extern "C" {

// Whether the shell must read byte c literally to keep the line one simple
// command: separators, pipes, background, substitution, subshells,
// redirections, the escape character itself and the newline.
static int cgiShellSpecial(char c) {
  return c != '\0' && strchr(";|&`()<>\\\n", c) != nullptr;
}

// Whether the dollar sign at s opens "${" or "$[" once the shell has removed
// the backslash-newline pairs that escaping puts between them.  Shells such
// as bash re-read a variable's value as code through ${name@P}, ${!name},
// array subscripts and arithmetic, so these forms could run a command that
// the data assembles out of escaped bytes.
static int cgiShellOpensExpansion(const char *s) {
  s++;
  while (*s == '\n') s++;
  return *s == '{' || *s == '[';
}

// Writes command into copy (room for 2n+1 bytes) with a backslash before each
// special byte and before each dollar sign that opens "${" or "$[".
void cgiShellEscape(const char *command, char *copy) {
  for (const char *s = command; *s; s++) {
    if (cgiShellSpecial(*s) || (*s == '$' && cgiShellOpensExpansion(s))) *copy++ = '\\';
    *copy++ = *s;
  }
  *copy = '\0';
}

// Runs the escaped copy of command through system() and gives its result,
// or -1 without starting a shell when the copy cannot be allocated.  A null
// command asks, as system(NULL) does, whether a shell is available.
int cgiSaferSystem(const char *command) {
  if (!command) return system(nullptr);
  char *copy = static_cast<char *>(cgiMalloc(2 * strlen(command) + 1));
  if (!copy) return -1;
  cgiShellEscape(command, copy);
  int result = system(copy);
  free(copy);
  return result;
}
}
