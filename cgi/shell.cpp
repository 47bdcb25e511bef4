// shell.cpp: running a command line through the shell with its command
// separators, substitutions, redirections and comments escaped, in the C
// locale.
#include <string.h>

#include "internal.h"

extern "C" {

extern char **environ;

// Whether the shell must read byte c literally to keep the line one simple
// command: separators, pipes, background, substitution, subshells,
// redirections, the escape character itself, the newline and the comment
// sign (inside a comment a backslash escapes nothing, so the newline after
// it would end the command and start another).
static int cgiShellSpecial(char c) {
  return c != '\0' && strchr(";|&`()<>\\\n#", c) != nullptr;
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

// The environment's "LC_ALL=..." entry itself, or null when there is none.
static char *cgiLocaleEntry(void) {
  for (char **e = environ; e && *e; e++)
    if (strncmp(*e, "LC_ALL=", 7) == 0) return *e;
  return nullptr;
}

// Runs copy through system() with LC_ALL=C in the environment, and then puts
// the caller's LC_ALL back as it was: the same entry, or none.  In a locale
// such as GBK, BIG5 or SHIFT_JIS a shell that reads multibyte characters
// (bash) would take a data byte and the backslash after it for one
// character, which leaves the byte that backslash escapes bare; in the C
// locale every byte is a character of its own.  Gives -1 without starting a
// shell when the environment cannot take the entry.
static int cgiSystemInC(const char *copy) {
  static char cLocale[] = "LC_ALL=C";
  char *saved = cgiLocaleEntry();
  if (putenv(cLocale) != 0) return -1;
  int result = system(copy);
  if (saved)
    putenv(saved);  // the name is present, so this only puts the entry back
  else
    unsetenv("LC_ALL");
  return result;
}

// Runs the escaped copy of command through system() in the C locale and gives
// its result, or -1 without starting a shell when the copy cannot be made.
// A null command asks, as system(NULL) does, whether a shell is available.
int cgiSaferSystem(const char *command) {
  if (!command) return system(nullptr);
  char *copy = static_cast<char *>(cgiMalloc(2 * strlen(command) + 1));
  if (!copy) return -1;
  cgiShellEscape(command, copy);
  int result = cgiSystemInC(copy);
  free(copy);
  return result;
}
}
