/* order.c: an example application.  It reads a size from a fixed list and a
 * quantity between 1 and 10, and answers with a plain-text summary, or with
 * status 400 when the size is not one of the list.  Build it against the
 * installed library, from the project's root, with
 *   cc examples/order.c $(pkg-config --cflags --libs cgi) -o order.cgi */
#include <cgi/cgi.h>

static const char *sizes[] = {"small", "medium", "large"};

int cgiMain(void) {
  int size, quantity;
  if (cgiFormRadio("size", sizes, 3, &size, 0) != cgiResultOk) {
    cgiHeaderField("Status", "400 Unknown size");
    cgiHeaderContentType("text/plain");
    fputs("Choose a size: small, medium or large.\n", cgiOut);
    return 0;
  }
  cgiFormIntegerBounded("quantity", &quantity, 1, 10, 1);
  cgiHeaderContentType("text/plain");
  fprintf(cgiOut, "%d %s\n", quantity, sizes[size]);
  return 0;
}
