// forms.cpp: form data for the benchmarks and the decoder check.
#include "forms.h"

#include "cgi/cgi.h"

// Neither program runs a request; the library only needs the symbol.
extern "C" int cgiMain(void) {
  return 0;
}

std::string benchTinyFields(size_t size) {
  std::string data;
  for (int i = 0; data.size() < size; i++) {
    if (i) data += '&';
    data += "f" + std::to_string(i % 1000) + "=v" + std::to_string(i % 97);
  }
  return data;
}

std::string benchLongValues(size_t size, int count, int share) {
  static const char plain[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~";
  static const char hex[] = "0123456789ABCDEF";
  BenchRandom random{42};
  std::string data;
  data.reserve(size + 8);
  for (int field = 0; field < count; field++) {
    if (field) data += '&';
    data += "v" + std::to_string(field) + "=";
    size_t end = size * static_cast<size_t>(field + 1) / static_cast<size_t>(count);
    while (data.size() < end) {
      unsigned roll = random.next(1000);
      if (roll < static_cast<unsigned>(share) * 9) {
        unsigned byte = random.next(256);
        data += '%';
        data += hex[byte >> 4];
        data += hex[byte & 15];
      } else if (roll < static_cast<unsigned>(share) * 10) {
        data += '+';
      } else {
        data += plain[random.next(sizeof plain - 1)];
      }
    }
  }
  return data;
}

std::string benchRepeats(int count) {
  std::string data;
  for (int i = 0; i < count; i++) data += (i ? "&x=value" : "x=value") + std::to_string(i);
  return data;
}
