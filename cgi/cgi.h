/* cgi.h: a small library for CGI/1.1 programs.
 *
 * The library owns the process entry point.  It reads the request's
 * meta-variables, decodes URL-encoded form data (the query string of a GET
 * request, or an application/x-www-form-urlencoded POST body) into an
 * ordered list of name/value entries, and then calls the application's
 * cgiMain() exactly once.  Whatever cgiMain() writes to cgiOut is the
 * response; its result is the exit status.
 *
 * All request state is process-global and nothing here is re-entrant or
 * thread-safe: call the library from one thread only.
 */
#ifndef CGI_H
#define CGI_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result of every form field accessor. */
typedef enum {
  cgiResultOk = 0,         /* read: copied whole, converted, matched or present */
  cgiResultTruncated = 1,  /* text cut to the buffer size less one, terminated */
  cgiResultNotNumeric = 2, /* first non-blank byte cannot begin a number; default stored */
  cgiResultEmpty = 3,      /* field present but empty */
  cgiResultAbsent = 4,     /* no entry bears the name (or no value matched a choice) */
  cgiResultClamped = 5,    /* bounded number replaced by the bound it crossed */
  cgiResultNoMatch = 6,    /* single-choice value equals no choice; default stored */
  cgiResultNoMemory = 7    /* allocation failed; out pointer set to null */
} cgiFieldResult;

/* Result of capture and replay: note that success is 2, not 0. */
typedef enum { cgiEnvFileError = 0, cgiEnvNoMemory = 1, cgiEnvOk = 2 } cgiEnvResult;

/* The request variables, read from the environment at start-up.  Each text
 * is NUL-terminated and never null; an absent variable reads as "".  They
 * belong to the library: do not modify or free them. */
extern char *cgiServerSoftware;   /* SERVER_SOFTWARE */
extern char *cgiServerName;       /* SERVER_NAME */
extern char *cgiGatewayInterface; /* GATEWAY_INTERFACE */
extern char *cgiServerProtocol;   /* SERVER_PROTOCOL */
extern char *cgiServerPort;       /* SERVER_PORT */
extern char *cgiRequestMethod;    /* REQUEST_METHOD */
extern char *cgiPathInfo;         /* PATH_INFO */
extern char *cgiPathTranslated;   /* PATH_TRANSLATED */
extern char *cgiScriptName;       /* SCRIPT_NAME */
extern char *cgiQueryString;      /* QUERY_STRING */
extern char *cgiRemoteHost;       /* REMOTE_HOST */
extern char *cgiRemoteAddr;       /* REMOTE_ADDR */
extern char *cgiAuthType;         /* AUTH_TYPE */
extern char *cgiRemoteUser;       /* REMOTE_USER */
extern char *cgiRemoteIdent;      /* REMOTE_IDENT */
extern char *cgiContentType;      /* CONTENT_TYPE */
extern char *cgiAccept;           /* HTTP_ACCEPT */
extern char *cgiUserAgent;        /* HTTP_USER_AGENT */

/* CONTENT_LENGTH as a decimal number (leading blanks and a sign accepted,
 * saturated at the int range, 0 when absent or not a number); for a GET
 * request, the byte length of the query string instead. */
extern int cgiContentLength;

/* The request body is read from cgiIn (standard input); every response byte
 * goes to cgiOut (standard output). */
extern FILE *cgiIn;
extern FILE *cgiOut;

/* Supplied by the application: called once per request after the form data
 * has been decoded; its result becomes the process exit status.  When it
 * returns, the library releases the request, flushes standard output, points
 * standard input, output and error at /dev/null (so the server sees the end
 * of the response at once), pauses one second and exits. */
int cgiMain(void);

/* ---- Text fields ------------------------------------------------------
 * A buffer size counts the terminating NUL.  Line breaks (any run of CR and
 * LF bytes) become as many LFs as the larger of the run's CR and LF counts.
 * A size below 1 writes nothing at all. */

/* Copies the first value of the field into result (at most max - 1 bytes,
 * line breaks normalised, always terminated).  Gives cgiResultOk,
 * cgiResultTruncated, cgiResultEmpty (nothing stored), or cgiResultAbsent
 * (result set to ""). */
cgiFieldResult cgiFormString(const char *name, char *result, int max);

/* As cgiFormString, but line breaks are removed instead of normalised. */
cgiFieldResult cgiFormStringNoNewlines(const char *name, char *result, int max);

/* Stores in *length the buffer size that takes the field's first value whole
 * (its raw length plus one): cgiResultOk; or 1 and cgiResultAbsent. */
cgiFieldResult cgiFormStringSpaceNeeded(const char *name, int *length);

/* Stores in *ptrToStringArray a new null-terminated array holding a copy of
 * every value of the field, in form order, line breaks normalised.  Gives
 * cgiResultOk, cgiResultAbsent (the array holds only its null slot), or
 * cgiResultNoMemory (nothing allocated remains, *ptrToStringArray is null).
 * Release the array with cgiStringArrayFree. */
cgiFieldResult cgiFormStringMultiple(const char *name, char ***ptrToStringArray);

/* Releases an array from cgiFormStringMultiple and every text in it.
 * A null pointer is accepted and ignored. */
void cgiStringArrayFree(char **stringArray);

/* ---- Numeric fields ------------------------------------------------------
 * Blanks are space, TAB, LF and CR.  Only the first non-blank byte is tested:
 * a digit or a sign (or, for reals, a point) lets the conversion read the
 * longest numeric prefix, ASCII digits and "." whatever the locale.  Every
 * path stores a number: the converted value, a bound, or the default. */

/* Reads the field's first value as an int, saturated at the int range.
 * Gives cgiResultOk, cgiResultNotNumeric, cgiResultEmpty or cgiResultAbsent;
 * all but the first store defaultV. */
cgiFieldResult cgiFormInteger(const char *name, int *result, int defaultV);

/* As cgiFormInteger, then a number below min is replaced by min, else one
 * above max by max, with cgiResultClamped.  The default is never clamped. */
cgiFieldResult cgiFormIntegerBounded(const char *name, int *result, int min, int max, int defaultV);

/* Reads the field's first value as a double.  Results as cgiFormInteger.
 * The words "inf" and "nan" are not numbers here: "-inf" reads as 0 with
 * cgiResultOk, "inf" is cgiResultNotNumeric, and no value converts to a NaN.
 * A magnitude too large for a double gives an infinity, too small a zero. */
cgiFieldResult cgiFormDouble(const char *name, double *result, double defaultV);

/* As cgiFormDouble, clamped to min and max as cgiFormIntegerBounded does. */
cgiFieldResult cgiFormDoubleBounded(const char *name, double *result, double min, double max,
                                    double defaultV);

/* ---- Choice fields -------------------------------------------------------
 * A value matches a choice when the two texts are equal byte for byte; the
 * first equal choice in list order wins. */

/* Stores the index of the choice equal to the field's first value:
 * cgiResultOk; else defaultV with cgiResultNoMatch or cgiResultAbsent. */
cgiFieldResult cgiFormSelectSingle(const char *name, const char *const *choicesText,
                                   int choicesTotal, int *result, int defaultV);

/* The same as cgiFormSelectSingle. */
cgiFieldResult cgiFormRadio(const char *name, const char *const *choicesText, int choicesTotal,
                            int *result, int defaultV);

/* Clears result[0..choicesTotal-1], then sets result[i] to 1 for every
 * choice i that some value of the field equals, and stores in *invalid the
 * number of values that equal no choice.  Gives cgiResultOk when at least
 * one value matched, else cgiResultAbsent. */
cgiFieldResult cgiFormSelectMultiple(const char *name, const char *const *choicesText,
                                     int choicesTotal, int *result, int *invalid);

/* The same as cgiFormSelectMultiple. */
cgiFieldResult cgiFormCheckboxMultiple(const char *name, const char *const *choicesText,
                                       int choicesTotal, int *result, int *invalid);

/* cgiResultOk when the field is present (whatever its value), else
 * cgiResultAbsent. */
cgiFieldResult cgiFormCheckboxSingle(const char *name);

/* ---- Response headers ---------------------------------------------------
 * Each writes one header line and the empty line that ends the header block
 * to cgiOut, with LF line ends.  CR and LF bytes in a text argument are
 * dropped, so request data cannot add header lines; a null text writes as
 * the empty text. */

/* Writes "Location: <url>" and an empty line. */
void cgiHeaderLocation(const char *redirectUrl);

/* Writes "Status: <status> <statusMessage>" and an empty line. */
void cgiHeaderStatus(int status, const char *statusMessage);

/* Writes "Content-type: <mimeType>" and an empty line. */
void cgiHeaderContentType(const char *mimeType);

/* Result of the header field writers: 0 when the line was written. */
typedef enum {
  cgiHeaderOk = 0,      /* the line was written */
  cgiHeaderBadName = 1, /* the name is null, empty or not an HTTP token */
  cgiHeaderBadValue = 2 /* the value is null or holds a control byte other than TAB */
} cgiHeaderResult;

/* Writes one header line "<name>: <value>" and LF, without ending the header
 * block: any number of fields may come before one of the three writers
 * above, which then ends the block.  So
 *     cgiHeaderField("Status", "404 Not Found");
 *     cgiHeaderContentType("text/html");
 * is a 404 response with an HTML body.  The name must be an HTTP token
 * (letters, digits and !#$%&'*+-.^_`|~); the value may hold any byte but
 * the control bytes 0 to 31 and 127, TAB excepted, so it can never end the
 * line.  Anything else writes nothing and gives cgiHeaderBadName or
 * cgiHeaderBadValue. */
cgiHeaderResult cgiHeaderField(const char *name, const char *value);

/* ---- Capture and replay --------------------------------------------------
 * A capture file holds the 18 request texts, cgiContentLength and every form
 * entry (already decoded), as big-endian 32-bit integers and length-prefixed
 * strings. */

/* Saves the current request state to the file at path.  Gives cgiEnvOk or
 * cgiEnvFileError. */
cgiEnvResult cgiWriteEnvironment(const char *path);

/* Discards the current request state and loads the file at path in its
 * place.  Gives cgiEnvOk, cgiEnvFileError or cgiEnvNoMemory. */
cgiEnvResult cgiReadEnvironment(const char *path);

/* ---- Shell ---------------------------------------------------------------- */

/* Runs command through the system shell (system()) after putting a backslash
 * in front of each ; | & ` ( ) < > \ and newline, and in front of each $ that
 * opens "${" or "$[".  No byte of the line can then end the command, start a
 * second one, substitute a command's output or redirect input or output: the
 * shell runs one simple command.  Quotes, blanks, $name and glob characters
 * keep their meaning.
 * It cannot make an arbitrary command line safe.  Data placed where the
 * command name goes runs whatever it names; data can still add arguments and
 * options (through blanks, quotes or globs), read variables ($HTTP_COOKIE),
 * comment out the rest of the line (#) or make the shell fail; and a program
 * that runs its arguments as code (find -exec, awk, sh -c, env) still runs
 * them.  Pass request data only as checked arguments, never as command words,
 * and prefer running programs without a shell.
 * The caller's own text is escaped too: backslashes are doubled, special bytes
 * inside quotes keep a visible backslash ("a;b" reaches the command as a\;b),
 * and a newline outside single quotes joins the words around it.
 * Gives what system() returns, or -1 without starting a shell when memory
 * runs out; a null command asks, as system(NULL) does, whether a shell exists.
 * Flush cgiOut first if the command writes to standard output. */
int cgiSaferSystem(const char *command);

#ifdef __cplusplus
}
#endif

#endif /* CGI_H */
