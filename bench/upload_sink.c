/* upload_sink.c: the upload program of bench/uploads.  It reads a
 * multipart/form-data body with every limit raised (at most 64 files; header
 * lines of BENCH_LINE_BYTES, 4096 when unset, so that the buffer stays as
 * small as usual) and answers with the result, the number of fields and the
 * bytes of all files. */
#include <cgi/cgi.h>
#include <limits.h>
#include <stdlib.h>

int cgiMain(void) {
  cgiMultipartLimits limits = {.bodyBytes = INT_MAX,
                               .parts = INT_MAX,
                               .files = 64,
                               .fileBytes = INT_MAX,
                               .headerFields = INT_MAX,
                               .lineBytes = 4096,
                               .preambleBytes = INT_MAX,
                               .epilogueBytes = INT_MAX};
  const char *line = getenv("BENCH_LINE_BYTES");
  if (line) limits.lineBytes = atoi(line);
  cgiMultipartResult result = cgiMultipartRead(&limits);
  long long bytes = 0;
  int fields = 0;
  for (const cgiUpload *u = cgiUploadFind(NULL); u; u = cgiUploadNext()) bytes += u->size;
  for (int more = cgiFormFieldFirst(NULL, NULL, NULL); more;
       more = cgiFormFieldNext(NULL, NULL, NULL))
    fields++;
  cgiHeaderContentType("text/plain");
  fprintf(cgiOut, "%d %d %lld\n", result, fields, bytes);
  return 0;
}
