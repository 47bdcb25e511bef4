// main.cpp: the process entry point of every CGI program built on the library.
#include "internal.h"

int main(void) {
  return cgiProcessMain();
}
