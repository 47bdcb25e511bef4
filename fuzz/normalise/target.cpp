// The normalising copy cgiFormEntryString against the simple model of the
// CR/LF run rule, in both line-break modes and at every buffer size from -1 to
// two bytes more than the value needs.  Each buffer is a heap block of
// exactly its size, so AddressSanitizer reports any byte written past it.
#include <stdio.h>
#include <string.h>

#include <string>

#include "cgi/internal.h"
#include "fuzz/model.h"

extern "C" int cgiMain(void) {
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 1024) return 0;
  std::string value = modelCText(std::string(reinterpret_cast<const char *>(data), size));
  cgiFormEntry e{const_cast<char *>("f"), value.data(), nullptr};
  for (int keep = 0; keep <= 1; keep++) {
    std::string normalised = modelNormalise(value, keep);
    for (int max = -1; max <= static_cast<int>(value.size()) + 2; max++) {
      char *buffer = static_cast<char *>(malloc(max > 0 ? static_cast<size_t>(max) : 0));
      cgiFieldResult r = cgiFormEntryString(&e, buffer, max, keep);
      if (max <= 0) {
        CHECK(r == (normalised.empty() ? cgiResultEmpty : cgiResultTruncated));
      } else {
        std::string want = normalised.substr(0, static_cast<size_t>(max - 1));
        CHECK(strlen(buffer) == want.size() && memcmp(buffer, want.data(), want.size()) == 0);
        CHECK(r == (want.size() < normalised.size() ? cgiResultTruncated
                    : want.empty()                  ? cgiResultEmpty
                                                    : cgiResultOk));
      }
      free(buffer);
    }
  }
  return 0;
}
