// The HTML writers against a model of how a browser reads what they write:
// the text, read as character data, and the attribute, read as a
// double-quoted attribute value, must give back exactly the input bytes
// (up to a NUL), with no "<" that could open a tag and no quote inside the
// attribute that could end it.
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "cgi/internal.h"
#include "fuzz/model.h"

extern "C" int cgiMain(void) {
  return 0;
}

namespace {

// What write put on cgiOut for text.
std::string written(void (*write)(const char *), const std::string &text) {
  char *buffer = nullptr;
  size_t size = 0;
  cgiOut = open_memstream(&buffer, &size);
  write(text.c_str());
  fclose(cgiOut);
  cgiOut = nullptr;
  std::string out(buffer, size);
  free(buffer);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 4096) return 0;
  std::string text = modelCText(std::string(reinterpret_cast<const char *>(data), size)), read;

  std::string asText = written(cgiHtmlWriteText, text);
  CHECK(modelHtmlRead(asText, &read) && read == text);

  std::string asAttribute = written(cgiHtmlWriteAttribute, text);
  CHECK(asAttribute.size() >= 2 && asAttribute.front() == '"' && asAttribute.back() == '"');
  std::string inner = asAttribute.substr(1, asAttribute.size() - 2);
  CHECK(inner.find('"') == std::string::npos);
  CHECK(modelHtmlRead(inner, &read) && read == text);
  return 0;
}
