// Capture-file bytes through replay, from a regular file and from a pipe (which
// cannot tell its size).  Both must agree with the simple reader of model.h:
// replay succeeds exactly when the model parses the file, and then holds its
// records.  A capture of what was replayed must give back the input's
// records, each text up to its first NUL.  A failed replay leaves no entry,
// cgiRestored clear and every request text readable.
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "cgi/internal.h"
#include "fuzz/model.h"

extern "C" int cgiMain(void) {
  return 0;
}

namespace {

std::string workDir;

// Removes the work directory and what is left in it.
void removeWorkDir() {
  unlink((workDir + "/in").c_str());
  unlink((workDir + "/out").c_str());
  rmdir(workDir.c_str());
}

std::string readFile(const std::string &path) {
  std::string bytes;
  FILE *f = fopen(path.c_str(), "rb");
  CHECK(f);
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
  fclose(f);
  return bytes;
}

void writeFile(const std::string &path, const std::string &bytes) {
  FILE *f = fopen(path.c_str(), "wb");
  CHECK(f && fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && fclose(f) == 0);
}

// Replays bytes from a pipe, named by its /dev/fd path.
cgiEnvResult replayFromPipe(const std::string &bytes) {
  int fds[2];
  CHECK(pipe(fds) == 0);
  CHECK(write(fds[1], bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
  close(fds[1]);
  cgiEnvResult r = cgiReadEnvironment(("/dev/fd/" + std::to_string(fds[0])).c_str());
  close(fds[0]);
  return r;
}

// The request state after a replay, as the model sees it.
ModelCapture current() {
  ModelCapture c;
  for (const cgiRequestText &t : cgiRequestTexts) c.texts.push_back(*t.variable);
  c.contentLength = cgiContentLength;
  for (const cgiFormEntry *e = cgiFormEntryFirst; e; e = e->next)
    c.entries.emplace_back(e->name, e->value);
  return c;
}

// The state a replay must leave: the model's records, or after a failure no
// entries, cgiRestored clear and readable texts.
void checkState(cgiEnvResult r, bool ok, const ModelCapture &model) {
  CHECK(r == (ok ? cgiEnvOk : cgiEnvFileError));
  if (!ok) {
    CHECK(!cgiFormEntryFirst && !cgiRestored);
    for (const cgiRequestText &t : cgiRequestTexts)
      CHECK(*t.variable && strlen(*t.variable) < 1u << 30);
    return;
  }
  ModelCapture now = current();
  CHECK(cgiRestored == 1);
  CHECK(modelWriteCapture(now) == modelWriteCapture(model));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // Captures are synced to disk; on tmpfs that costs nothing.
  std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  dir += "/cgi-fuzz-replay-XXXXXX";
  if (!mkdtemp(dir.data())) abort();
  workDir = dir;
  atexit(removeWorkDir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 60000) return 0;  // the pipe must take the whole input at once
  std::string bytes(reinterpret_cast<const char *>(data), size);
  ModelCapture model;
  bool ok = modelParseCapture(bytes, &model);

  std::string in = workDir + "/in", out = workDir + "/out";
  writeFile(in, bytes);
  checkState(cgiReadEnvironment(in.c_str()), ok, model);
  if (ok) {
    CHECK(cgiWriteEnvironment(out.c_str()) == cgiEnvOk);
    CHECK(readFile(out) == modelWriteCapture(model));
  }
  checkState(replayFromPipe(bytes), ok, model);
  cgiFreeResources();
  CHECK(!cgiRestored && !cgiFormEntryFirst);
  return 0;
}
