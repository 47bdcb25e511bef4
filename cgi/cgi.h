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
 * (its raw length plus one, at most INT_MAX): cgiResultOk; or 1 and
 * cgiResultAbsent. */
cgiFieldResult cgiFormStringSpaceNeeded(const char *name, int *length);

/* Stores in *ptrToStringArray a new null-terminated array holding a copy of
 * every value of the field, in form order, line breaks normalised (a value
 * of INT_MAX bytes or more is cut to INT_MAX - 1, as a buffer of size INT_MAX
 * would take it).  Gives
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

/* ---- Every field in form order -----------------------------------------
 * A walk over every form entry whatever its name, in form order, with a
 * cursor of its own (the accessors above do not move it).  Each call stores
 * the entry's name and value, as they stand (line breaks not normalised),
 * and the upload record of the file part that made the entry, or null for
 * any other entry; any of the three pointers may be null.  The texts belong
 * to the library and live until the end of the request. */

typedef struct cgiUpload cgiUpload;

/* Starts the walk at the first entry: 1 with its texts stored, or 0 when
 * there is none. */
int cgiFormFieldFirst(const char **name, const char **value, const cgiUpload **upload);

/* The entry after the one the walk gave last: 1, or 0 after the last. */
int cgiFormFieldNext(const char **name, const char **value, const cgiUpload **upload);

/* ---- File uploads (multipart/form-data) ----------------------------------
 * The driver decodes no multipart body by itself; the application calls
 * cgiMultipartRead, once, inside cgiMain.  It reads the body from cgiIn in
 * one pass through a fixed buffer: text parts become form entries, file
 * parts become upload records on unnamed temporary files.
 *
 * The body: lines end in CR LF; the part headers may end theirs in LF alone.
 * A delimiter is CR LF, "--", the boundary, then nothing but an optional
 * "--" (the close delimiter), blanks (space, TAB) and the line end (CR LF,
 * or LF as in the headers that follow); a line that goes on with anything
 * else, or that holds only part of the boundary, is content.  Bytes before
 * the first delimiter (the preamble) and after the close delimiter (the
 * epilogue) are skipped; the body may begin with the first delimiter
 * without a CR LF in front, and may end right after the close delimiter.  A
 * body of the close delimiter alone has no parts.  Each part is header
 * lines, an empty line and the content.  Header names are tokens in any
 * letter case, followed at once by ":"; the value is trimmed of blanks.  A
 * header line holding a NUL, or a CR but the one before its LF, a folded
 * line (one starting with a blank), a line without ":" and a repeated
 * Content-Disposition or Content-Type are malformed; other header fields
 * are counted and ignored (Content-Transfer-Encoding too: content is taken
 * as it stands).  Every part needs "Content-Disposition: form-data" with a
 * name parameter; parameter names are in any letter case and values are
 * quoted strings or runs of bytes other than controls, blanks, ";", "\"" and
 * "\\".  In a quoted string a backslash escapes only "\"" and "\\"; any other
 * backslash stands for itself, as browsers send Windows paths.  Percent
 * escapes are not decoded.  filename* and every other parameter are ignored.
 *
 * A part with a filename parameter, even an empty one, is a file part; any
 * other part is a text part.  A text part becomes a form entry (its value
 * is the content, of which a reader sees the bytes up to a first NUL).  A
 * file part becomes an upload record and also a form entry whose value is
 * its file name.  Entries are appended after any that exist, in form order,
 * so every accessor and cgiWriteEnvironment see them (a capture holds the
 * file names, not the files). */

/* Result of cgiMultipartRead: each breach of a limit and each failure has its
 * own code.  On any result but cgiMultipartOk nothing of the body is
 * installed: no entry, no upload record, no temporary file; reading stops
 * where the failure was found. */
typedef enum {
  cgiMultipartOk = 0,              /* read whole; entries and records installed */
  cgiMultipartNone = 1,            /* not a POST of multipart/form-data: nothing read */
  cgiMultipartNoBoundary = 2,      /* multipart/form-data without a usable boundary: nothing read */
  cgiMultipartTooLarge = 3,        /* CONTENT_LENGTH above bodyBytes: nothing read */
  cgiMultipartTooManyParts = 4,    /* more than parts parts */
  cgiMultipartTooManyFiles = 5,    /* more than files file parts */
  cgiMultipartFileTooLarge = 6,    /* a file part of more than fileBytes bytes */
  cgiMultipartTooManyHeaders = 7,  /* a part with more than headerFields header lines */
  cgiMultipartLineTooLong = 8,     /* a header or delimiter line longer than lineBytes */
  cgiMultipartPreambleTooLong = 9, /* more than preambleBytes before the first delimiter */
  cgiMultipartEpilogueTooLong = 10, /* more than epilogueBytes after the close delimiter */
  cgiMultipartMalformed = 11,       /* not a well-formed body (see above), or a negative length */
  cgiMultipartShortRead = 12,       /* cgiIn ended before CONTENT_LENGTH bytes */
  cgiMultipartNoMemory = 13,        /* an allocation failed */
  cgiMultipartFileError = 14        /* a temporary file could not be made or written */
} cgiMultipartResult;

/* Limits on one body, in bytes and counts; a negative limit counts as 0. */
typedef struct {
  int bodyBytes;     /* the whole body (CONTENT_LENGTH), checked before reading: 10 MiB */
  int parts;         /* parts of either kind: 128 */
  int files;         /* file parts: 20 */
  int fileBytes;     /* content of one file part: 10 MiB, the default body limit */
  int headerFields;  /* header lines of one part: 8 */
  int lineBytes;     /* one header line, or one delimiter line from its "--" on,
                        line end excluded: 4096 */
  int preambleBytes; /* before the first delimiter: 65536 */
  int epilogueBytes; /* after the close delimiter's line: 65536 */
} cgiMultipartLimits;

/* Fills every limit with its default (the values above). */
void cgiMultipartDefaults(cgiMultipartLimits *limits);

/* Reads a multipart/form-data body when the request is a POST (method in any
 * letter case) whose content type is multipart/form-data (any letter case)
 * with a boundary parameter of 1 to 70 characters, quoted or not: digits,
 * letters, space and '()+_,-./:=? (not ending in a space).  It reads exactly
 * cgiContentLength bytes from cgiIn, within limits (null for the defaults).
 * Temporary files are made in TMPDIR, or /tmp when it is unset or empty:
 * unnamed (O_TMPFILE, else created with O_EXCL and unlinked at once), mode
 * 0600, close-on-exec.  A second call in the same request reads nothing and
 * gives the first call's result again.  Text parts are held in memory (the
 * body limit bounds them); file content goes straight to its file. */
cgiMultipartResult cgiMultipartRead(const cgiMultipartLimits *limits);

/* One file part.  The record, its texts and its stream belong to the
 * library until the end of the request, when teardown closes every file and
 * releases every record: do not modify, close or free them.
 * The file name is the last component of the filename parameter after any
 * "/" or "\\", with the control bytes (0 to 31 and 127) removed; "." and
 * ".." become "".  A file input left empty comes as a record with the file
 * name "" and size 0. */
struct cgiUpload {
  const char *name;        /* the field name */
  const char *fileName;    /* the file name, cleaned as above */
  const char *contentType; /* the part's Content-Type value, or "" */
  int size;                /* bytes of content */
  FILE *file;              /* read-only, positioned at the start, unnamed */
};

/* Starts a search for the file parts of the field name (exact bytes), with a
 * cursor of its own: the first one in form order, or null.  A null name
 * finds the first record of any field. */
const cgiUpload *cgiUploadFind(const char *name);

/* The next record of the field that cgiUploadFind sought (of any field after
 * a null name), or null. */
const cgiUpload *cgiUploadNext(void);

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

/* Result of the header field writers: 0 when the line was written; any
 * other result means nothing at all was written. */
typedef enum {
  cgiHeaderOk = 0,            /* the line was written */
  cgiHeaderBadName = 1,       /* the name is null, empty or not an HTTP token */
  cgiHeaderBadValue = 2,      /* the value is null or holds a byte it may not hold */
  cgiHeaderBadPath = 3,       /* cookie Path: no leading "/", ";", a byte outside
                                 32 to 126, or longer than 1024 bytes */
  cgiHeaderBadDomain = 4,     /* cookie Domain: empty, a byte other than a letter,
                                 digit, "-", "." or "_", or longer than 1024 bytes */
  cgiHeaderBadSameSite = 5,   /* cookie SameSite: not one of cgiSameSite */
  cgiHeaderNoneNotSecure = 6, /* cookie SameSite=None without Secure */
  cgiHeaderBadPrefix = 7,     /* a __Secure- or __Host- cookie name whose rule is broken */
  cgiHeaderTooLong = 8        /* cookie name and value longer than 4096 bytes together */
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

/* ---- Cookies ---------------------------------------------------------------
 * A cookie is set with a Set-Cookie header field and comes back in later
 * requests' Cookie header, which reaches the program as HTTP_COOKIE. */

/* Copies the value of the first cookie called name that the request sent,
 * with the results and truncation of cgiFormString: cgiResultOk,
 * cgiResultTruncated (max - 1 bytes stored), cgiResultEmpty, or
 * cgiResultAbsent (result set to "").  A max below 1 writes nothing.
 * HTTP_COOKIE is read at each call, not at start-up.  It is split into
 * pairs at every ";" (quotes do not protect one); a pair without "=" is
 * skipped; spaces and TABs around the name and the value are dropped, the
 * name runs up to the first "=" and is compared byte for byte; one pair of
 * double quotes around the value is removed.  Nothing else is decoded: no
 * percent escapes, backslashes or line breaks, so the value comes back as
 * the bytes that were set.  The first cookie of a name wins, which is the
 * one with the longest path when a browser holds several.
 * A request replayed by cgiReadEnvironment carries no cookies (a capture
 * file holds none): every cookie then reads as absent. */
cgiFieldResult cgiCookieValue(const char *name, char *result, int max);

/* The SameSite attribute of a cookie. */
typedef enum {
  cgiSameSiteLax = 0,    /* sent on top-level navigations from other sites */
  cgiSameSiteStrict = 1, /* sent only when the request comes from this site */
  cgiSameSiteNone = 2    /* sent with every request; needs secure */
} cgiSameSite;

/* The attributes of a cookie.  A record filled with zeros (or a null
 * pointer) gives the safe defaults: "Path=/; HttpOnly; SameSite=Lax", no
 * Domain (only this host gets the cookie), not Secure, and no Max-Age, so
 * the cookie lasts until the browser closes.  Every other choice is made by
 * setting a field. */
typedef struct {
  int maxAge;           /* 0: none; above 0: lives that many seconds (browsers
                           cap it at 400 days); below 0: "Max-Age=0", which
                           deletes the cookie */
  const char *path;     /* null: "/"; else a path that begins with "/" */
  const char *domain;   /* null: none; else a host name such as "example.org":
                           that host and all its subdomains get the cookie */
  int secure;           /* nonzero: Secure (sent over HTTPS only); set it on
                           every HTTPS site */
  int noHttpOnly;       /* nonzero: leaves out HttpOnly, so scripts on the page
                           can read the cookie */
  cgiSameSite sameSite; /* 0 is cgiSameSiteLax */
} cgiCookieAttributes;

/* Writes one header field
 *     Set-Cookie: <name>=<value>[; Max-Age=<n>][; Domain=<domain>]
 *                 ; Path=<path>[; Secure][; HttpOnly]; SameSite=<s>
 * with LF, through cgiHeaderField, so it never ends the header block.
 * attributes may be null for the defaults.  Nothing is written unless:
 *   name is an HTTP token (cgiHeaderBadName);
 *   value is cookie text: the bytes 33 to 126 but " , ; and backslash,
 *   optionally inside one pair of double quotes, and may be empty
 *   (cgiHeaderBadValue); percent-encode anything else first;
 *   name and value are 4096 bytes or less together (cgiHeaderTooLong);
 *   path and domain hold what the record above says (cgiHeaderBadPath,
 *   cgiHeaderBadDomain);
 *   sameSite is one of cgiSameSite (cgiHeaderBadSameSite), and None comes
 *   with secure (cgiHeaderNoneNotSecure);
 *   a name beginning with __Secure- (any letter case) comes with secure, and
 *   one beginning with __Host- with secure, no domain and the path "/"
 *   (cgiHeaderBadPrefix).
 * The checks run in that order and the first that fails gives the result. */
cgiHeaderResult cgiHeaderSetCookie(const char *name, const char *value,
                                   const cgiCookieAttributes *attributes);

/* ---- HTML ------------------------------------------------------------------
 * Writers of request values into an HTML page on cgiOut.  "&", "<", ">",
 * double and single quotes are written as "&amp;", "&lt;", "&gt;", "&quot;"
 * and "&#39;", and CR as "&#13;" (a browser turns a raw CR, and CR LF, into
 * LF).  Every other byte is written as it stands: TAB, LF, the other control
 * bytes and the bytes 128 to 255, which the page's character set decides the
 * meaning of (declare one, as in "text/html; charset=utf-8").  A browser
 * then holds exactly the bytes of the text, and nothing in it can open a
 * tag, end an attribute or start a character reference.  They are for
 * element content and attribute values only: never inside <script> or
 * <style>, in a comment, or in an unquoted attribute, and a value that is
 * read as a URL (href, src) needs its scheme checked as well.  After <pre>
 * or <textarea> a browser drops one LF that follows the tag: write a LF
 * after such a tag before the text.  A null text is the empty text. */

/* Writes text as element content. */
void cgiHtmlWriteText(const char *text);

/* Writes text as an attribute value inside double quotes, quotes included:
 *     fputs("<input name=q value=", cgiOut);
 *     cgiHtmlWriteAttribute(q);
 *     fputs(">", cgiOut); */
void cgiHtmlWriteAttribute(const char *text);

/* ---- Capture and replay --------------------------------------------------
 * A capture file holds the 18 request texts, cgiContentLength and every form
 * entry (already decoded), as big-endian 32-bit integers and length-prefixed
 * strings. */

/* Saves the current request state to the file at path.  Gives cgiEnvOk or
 * cgiEnvFileError. */
cgiEnvResult cgiWriteEnvironment(const char *path);

/* Discards the current request state and loads the file at path in its
 * place.  Gives cgiEnvOk, cgiEnvFileError or cgiEnvNoMemory.  Nothing is
 * installed unless the whole file reads: a file cut inside a record fails.
 * A file cut exactly between two entries cannot be told from a complete
 * capture of the entries before the cut (the format has no count and no end
 * marker), and replays as one. */
cgiEnvResult cgiReadEnvironment(const char *path);

/* ---- Shell ---------------------------------------------------------------- */

/* Runs command through the system shell (system()) after putting a backslash
 * in front of each ; | & ` ( ) < > \ # and newline, and in front of each $
 * that opens "${" or "$[".  No byte of the line can then end the command,
 * start a second one, substitute a command's output, redirect input or
 * output, or start a comment (inside which a newline would end the command):
 * the shell runs one simple command.  Quotes, blanks, $name and glob
 * characters keep their meaning.
 * The shell runs with LC_ALL=C in its environment, so that it reads every
 * byte as a character of its own: in a locale such as GBK, BIG5 or SHIFT_JIS
 * a shell that reads multibyte characters would otherwise take a data byte
 * and the backslash after it for one character and leave the next byte bare.
 * The command inherits LC_ALL=C; afterwards the caller's LC_ALL is as it was
 * (the same value, or unset).
 * It cannot make an arbitrary command line safe.  Data placed where the
 * command name goes runs whatever it names; data can still add arguments and
 * options (through blanks, quotes or globs), read variables ($HTTP_COOKIE) or
 * make the shell fail; and a program that runs its arguments as code (find
 * -exec, awk, sh -c, env) still runs them.  Pass request data only as checked
 * arguments, never as command words, and prefer running programs without a
 * shell.
 * The caller's own text is escaped too: backslashes are doubled, special bytes
 * inside quotes keep a visible backslash ("a;b" reaches the command as a\;b),
 * a # is never a comment, and a newline outside single quotes joins the words
 * around it.
 * Gives what system() returns, or -1 without starting a shell when memory
 * runs out; a null command asks, as system(NULL) does, whether a shell exists.
 * Flush cgiOut first if the command writes to standard output. */
int cgiSaferSystem(const char *command);

#ifdef __cplusplus
}
#endif

#endif /* CGI_H */
