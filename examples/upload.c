/* upload.c: an example application for file uploads.  A GET request gets a
 * small page with a form that posts a note and files as multipart/form-data.
 * The posted body is answered in plain text with one line per part, in form
 * order: "text NAME SIZE CRC" or "file NAME SIZE CRC FILENAME", CRC being the
 * CRC-32 of the part's bytes (as zlib's crc32) in eight hexadecimal digits.
 * A body over a limit is answered with status 413, a malformed one with 400,
 * each with one line of text.  Build it against the installed library with
 *   cc upload.c $(pkg-config --cflags --libs cgi) -o upload.cgi */
#include <cgi/cgi.h>
#include <string.h>

static const char page[] =
    "<!DOCTYPE html>\n"
    "<html lang=\"en\">\n"
    "<head><meta charset=\"utf-8\"><title>Upload</title></head>\n"
    "<body>\n"
    "<h1>Upload</h1>\n"
    "<form method=\"post\" enctype=\"multipart/form-data\">\n"
    "<p><label>Note <input name=\"note\"></label></p>\n"
    "<p><label>Files <input type=\"file\" name=\"file\" multiple></label></p>\n"
    "<p><button type=\"submit\">Send</button></p>\n"
    "</form>\n"
    "</body>\n"
    "</html>\n";

static unsigned long crcTable[256];

/* Fills the table of the CRC-32 of every byte (reflected polynomial 0xEDB88320). */
static void crcSetup(void) {
  for (unsigned long n = 0; n < 256; n++) {
    unsigned long c = n;
    for (int k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320UL ^ (c >> 1) : c >> 1;
    crcTable[n] = c;
  }
}

/* The CRC-32 of the bytes so far (crc) continued over n more bytes. */
static unsigned long crcUpdate(unsigned long crc, const unsigned char *bytes, size_t n) {
  crc ^= 0xFFFFFFFFUL;
  while (n--) crc = crcTable[(crc ^ *bytes++) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFUL;
}

/* The CRC-32 of an uploaded file's content, read from its start. */
static unsigned long crcFile(FILE *file) {
  unsigned char chunk[65536];
  unsigned long crc = 0;
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) crc = crcUpdate(crc, chunk, n);
  return crc;
}

/* Answers with a status and one line of text. */
static int refuse(const char *status, const char *line) {
  cgiHeaderField("Status", status);
  cgiHeaderContentType("text/plain");
  fprintf(cgiOut, "%s\n", line);
  return 0;
}

/* Writes one line per form field, in form order. */
static void listParts(void) {
  const char *name, *value;
  const cgiUpload *upload;
  cgiHeaderContentType("text/plain");
  for (int more = cgiFormFieldFirst(&name, &value, &upload); more;
       more = cgiFormFieldNext(&name, &value, &upload)) {
    if (upload)
      fprintf(cgiOut, "file %s %d %08lx %s\n", name, upload->size, crcFile(upload->file),
              upload->fileName);
    else
      fprintf(cgiOut, "text %s %d %08lx\n", name, (int)strlen(value),
              crcUpdate(0, (const unsigned char *)value, strlen(value)));
  }
}

int cgiMain(void) {
  crcSetup();
  switch (cgiMultipartRead(NULL)) {
    case cgiMultipartOk:
      listParts();
      return 0;
    case cgiMultipartNone:
      cgiHeaderContentType("text/html; charset=utf-8");
      fputs(page, cgiOut);
      return 0;
    case cgiMultipartTooLarge:
      return refuse("413 Content Too Large", "The body is larger than 10 MiB.");
    case cgiMultipartTooManyParts:
      return refuse("413 Content Too Large", "The form has more than 128 parts.");
    case cgiMultipartTooManyFiles:
      return refuse("413 Content Too Large", "The form has more than 20 files.");
    case cgiMultipartFileTooLarge:
      return refuse("413 Content Too Large", "A file is larger than 10 MiB.");
    case cgiMultipartTooManyHeaders:
      return refuse("413 Content Too Large", "A part has more than 8 header lines.");
    case cgiMultipartLineTooLong:
      return refuse("413 Content Too Large", "A header line is longer than 4096 bytes.");
    case cgiMultipartPreambleTooLong:
      return refuse("413 Content Too Large", "The body has over 64 KiB before its first part.");
    case cgiMultipartEpilogueTooLong:
      return refuse("413 Content Too Large", "The body has over 64 KiB after its last part.");
    case cgiMultipartNoBoundary:
    case cgiMultipartMalformed:
      return refuse("400 Bad Request", "The body is not well-formed multipart/form-data.");
    case cgiMultipartShortRead:
      return refuse("400 Bad Request", "The body is shorter than its Content-Length.");
    default:
      return refuse("500 Internal Server Error", "The upload could not be stored.");
  }
}
