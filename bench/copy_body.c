/* copy_body.c: the floor of bench/uploads.  It copies CONTENT_LENGTH bytes
 * of standard input to an unnamed temporary file in TMPDIR through a 256 KiB
 * buffer, with nothing but read and write, and answers with the count. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static char buffer[256 * 1024];

int main(void) {
  const char *dir = getenv("TMPDIR");
  const char *length = getenv("CONTENT_LENGTH");
  long long left = length ? atoll(length) : 0, copied = 0;
  int fd = open(dir && *dir ? dir : "/tmp", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) return 1;
  while (left > 0) {
    ssize_t n = read(0, buffer, left < (long long)sizeof buffer ? (size_t)left : sizeof buffer);
    if (n <= 0 || write(fd, buffer, (size_t)n) != n) return 1;
    left -= n;
    copied += n;
  }
  if (close(fd) != 0) return 1;
  printf("Content-type: text/plain\n\n%lld\n", copied);
  return 0;
}
