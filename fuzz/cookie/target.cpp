// The cookie reader and the Set-Cookie writer against the models.  The input's
// first byte chooses cookie attributes, the rest (up to a NUL) is the Cookie
// header.  For the names of its first 16 pairs (and two others), cgiCookieValue must give the
// model's first value at every buffer size around the value's length, writing
// nothing past the buffer.  Each of those pairs is then set with cgiHeaderSetCookie:
// the result must be the model's, the line exactly the model's (or nothing
// when refused), and an accepted cookie sent back must read as it was set.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "cgi/internal.h"
#include "fuzz/model.h"

extern "C" int cgiMain(void) {
  return 0;
}

namespace {

// cgiCookieValue for name against the model's pairs of the current header.
void checkRead(const ModelEntries &pairs, const std::string &name) {
  const std::string *want = nullptr;
  for (const auto &pair : pairs)
    if (pair.first == name) {
      want = &pair.second;
      break;
    }
  const int length = want ? static_cast<int>(want->size()) : 0;
  for (int max : {-1, 0, 1, 2, length / 2, length, length + 1, length + 2}) {
    char *buffer = static_cast<char *>(malloc(max > 0 ? static_cast<size_t>(max) : 1));
    cgiFieldResult r = cgiCookieValue(name.c_str(), buffer, max);
    if (!want) {
      CHECK(r == cgiResultAbsent);
      CHECK(max <= 0 || buffer[0] == '\0');
    } else {
      size_t stored = max > 0 ? std::min(want->size(), static_cast<size_t>(max - 1)) : 0;
      CHECK(r == (stored < want->size() ? cgiResultTruncated
                  : want->empty()       ? cgiResultEmpty
                                        : cgiResultOk));
      CHECK(max <= 0 || (strlen(buffer) == stored && memcmp(buffer, want->data(), stored) == 0));
    }
    free(buffer);
  }
}

// The attributes that the flag byte chooses; path and domain come from the
// header's cookies called "path" and "domain", when there are such.
ModelCookieAttributes attributesFor(unsigned char flags, const ModelEntries &pairs) {
  ModelCookieAttributes a;
  a.secure = flags & 1;
  a.noHttpOnly = flags & 2;
  a.sameSite = flags >> 2 & 3;
  a.maxAge = flags & 16 ? 3600 : flags & 32 ? -1 : 0;
  for (const auto &[name, value] : pairs) {
    if (name == "path" && (flags & 64) && !a.hasPath) a.hasPath = true, a.path = value;
    if (name == "domain" && (flags & 128) && !a.hasDomain) a.hasDomain = true, a.domain = value;
  }
  return a;
}

// cgiHeaderSetCookie for one pair against the model, and the way back.
void checkSet(const std::string &name, const std::string &value, const ModelCookieAttributes &a) {
  cgiCookieAttributes attributes = {};
  attributes.maxAge = a.maxAge;
  attributes.path = a.hasPath ? a.path.c_str() : nullptr;
  attributes.domain = a.hasDomain ? a.domain.c_str() : nullptr;
  attributes.secure = a.secure;
  attributes.noHttpOnly = a.noHttpOnly;
  attributes.sameSite = static_cast<cgiSameSite>(a.sameSite);
  char *buffer = nullptr;
  size_t size = 0;
  cgiOut = open_memstream(&buffer, &size);
  int r = cgiHeaderSetCookie(name.c_str(), value.c_str(), &attributes);
  fclose(cgiOut);
  cgiOut = nullptr;
  std::string line(buffer, size);
  free(buffer);
  const int want = modelSetCookieResult(name, value, a);
  CHECK(r == want);
  CHECK(line == (want == 0 ? modelSetCookieLine(name, value, a) : ""));
  if (want != 0) return;
  setenv("HTTP_COOKIE", (name + "=" + value).c_str(), 1);
  checkRead(modelCookies(name + "=" + value), name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0 || size > 4096) return 0;
  std::string header = modelCText(std::string(reinterpret_cast<const char *>(data) + 1, size - 1));
  ModelEntries pairs = modelCookies(header);
  setenv("HTTP_COOKIE", header.c_str(), 1);
  checkRead(pairs, "");
  checkRead(pairs, "a");
  // The first 16 pairs, so that an input of thousands stays quick.
  const size_t some = std::min(pairs.size(), static_cast<size_t>(16));
  for (size_t k = 0; k < some; k++) checkRead(pairs, pairs[k].first);

  ModelCookieAttributes a = attributesFor(data[0], pairs);
  for (size_t k = 0; k < some; k++) checkSet(pairs[k].first, pairs[k].second, a);
  return 0;
}
