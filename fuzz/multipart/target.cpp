// A content type and a multipart/form-data body through cgiMultipartRead,
// with limits, buffer size, announced length and the way temporary files are
// made taken from the input's first bytes.  The result and every field, file
// content included, must agree with the simple whole-body reader of model.h
// (a body shorter than announced may also stop at the first read that comes
// up short).  A failed read installs nothing, and teardown closes every file.
#include <dirent.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cgi/internal.h"
#include "fuzz/model.h"

extern "C" int cgiMain(void) {
  return 0;
}

namespace {

const size_t kControl = 11;  // bytes of the input that set up the read

int openDescriptors() {
  int n = 0;
  DIR *d = opendir("/proc/self/fd");
  CHECK(d);
  while (dirent *e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n;
}

std::string readAll(FILE *f) {
  std::string s;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) s.append(chunk, n);
  return s;
}

// A limit from one control byte: small values most of the time.
int limitOf(unsigned char c, int small, int otherwise) {
  return c < 240 ? c % small : otherwise;
}

// The fields as the walk gives them.
std::vector<ModelField> walked() {
  std::vector<ModelField> fields;
  const char *name, *value;
  const cgiUpload *u;
  for (int more = cgiFormFieldFirst(&name, &value, &u); more;
       more = cgiFormFieldNext(&name, &value, &u)) {
    if (!u) {
      fields.push_back({name, value, false, "", ""});
      continue;
    }
    CHECK(strcmp(u->name, name) == 0 && strcmp(u->fileName, value) == 0);
    std::string content = readAll(u->file);
    CHECK(static_cast<size_t>(u->size) == content.size());
    fields.push_back({name, value, true, u->contentType, content});
  }
  return fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < kControl || size > 65536) return 0;
  static bool once = [] {
    setenv("TMPDIR", access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp", 1);
    return true;
  }();
  (void)once;
  const unsigned char *c = data;
  cgiMultipartLimits limits = {c[2] < 16 ? c[2] * 8 : INT_MAX, limitOf(c[3], 16, 128),
                               limitOf(c[4], 8, 20),           limitOf(c[5], 64, INT_MAX),
                               limitOf(c[6], 10, 8),           8 + limitOf(c[7], 120, 4088),
                               limitOf(c[8], 64, 65536),       limitOf(c[9], 64, 65536)};
  std::string rest(reinterpret_cast<const char *>(data) + kControl, size - kControl);
  size_t lf = rest.find('\n');
  std::string type = lf == std::string::npos ? rest : rest.substr(0, lf);
  type = modelCText(type);
  std::string body = lf == std::string::npos ? "" : rest.substr(lf + 1);
  long long announced = static_cast<long long>(body.size());
  if (c[10] % 4 == 1) announced += c[10] / 4 + 1;  // a short read
  if (c[10] % 4 == 2) announced = announced > c[10] / 4 ? announced - c[10] / 4 : 0;  // bytes after

  ModelLimits model = {limits.bodyBytes,     limits.parts,        limits.files,
                       limits.fileBytes,     limits.headerFields, limits.lineBytes,
                       limits.preambleBytes, limits.epilogueBytes};
  std::vector<ModelField> expected;
  int want = modelMultipart(type, body, announced, model, &expected);

  cgiFreeResources();
  cgiUploadNamedTemp = c[0] & 1;
  cgiMultipartChunk = 1 + c[1] % 128;
  cgiRequestMethod = const_cast<char *>("POST");
  cgiContentType = const_cast<char *>(type.c_str());
  cgiContentLength = static_cast<int>(announced);
  std::string stream = body + "#";  // a buffer even for an empty body
  cgiIn = fmemopen(&stream[0], body.size(), "r");
  CHECK(cgiIn);
  int descriptors = openDescriptors();
  int got = cgiMultipartRead(&limits);
  long consumed = ftell(cgiIn);
  std::vector<ModelField> fields = walked();
  bool cut = announced > static_cast<long long>(body.size());
  if (got != want && !(cut && want != kModelOk && got == kModelShortRead))
    fprintf(stderr, "result %d, model %d\n", got, want);
  CHECK(got == want || (cut && want != kModelOk && got == kModelShortRead));
  if (got == cgiMultipartOk) {
    CHECK(fields == expected);
    CHECK(consumed == announced);
  } else {
    CHECK(fields.empty() && !cgiUploadFind(nullptr));
    CHECK(openDescriptors() == descriptors);
  }
  cgiFreeResources();
  CHECK(openDescriptors() == descriptors);
  fclose(cgiIn);
  cgiIn = nullptr;
  cgiRequestMethod = cgiContentType = const_cast<char *>(cgiEmptyText);
  return 0;
}
