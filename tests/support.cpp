// support.cpp: helpers shared by the test suites.
#include "support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <stdexcept>

void setForm(const std::string &data) {
  cgiFreeResources();
  cgiSetupConstants();
  cgiParseFormInput(data.data(), static_cast<int>(data.size()));
}

Entries entries() {
  Entries list;
  for (cgiFormEntry *e = cgiFormEntryFirst; e; e = e->next) list.emplace_back(e->name, e->value);
  return list;
}

static char *outBuffer = nullptr;
static size_t outSize = 0;

void captureOut() {
  cgiOut = open_memstream(&outBuffer, &outSize);
}

std::string outText() {
  fclose(cgiOut);
  cgiOut = nullptr;
  std::string text(outBuffer, outSize);
  free(outBuffer);
  outBuffer = nullptr;
  return text;
}

Outcome runRequest(const Env &env, const std::string &body) {
  clearenv();
  for (const auto &[name, value] : env) setenv(name.c_str(), value.c_str(), 1);
  FILE *in = tmpfile();
  fwrite(body.data(), 1, body.size(), in);
  rewind(in);
  char *buffer = nullptr;
  size_t size = 0;
  FILE *out = open_memstream(&buffer, &size);
  Outcome outcome{};
  outcome.ran = cgiRequestRun(in, out, &outcome.status) != 0;
  fclose(out);
  fclose(in);
  outcome.out.assign(buffer, size);
  free(buffer);
  cgiOut = nullptr;
  return outcome;
}

namespace {
const size_t kPiece = 2 << 20, kHugeSpan = static_cast<size_t>(INT_MAX) + 1;

// A memory file of one piece of "v" bytes, the last one NUL if terminated.
int hugePiece(bool terminated) {
  int fd = memfd_create("huge-text", MFD_CLOEXEC);
  std::string bytes(kPiece, 'v');
  if (terminated) bytes.back() = '\0';
  if (fd < 0 || write(fd, bytes.data(), kPiece) != static_cast<ssize_t>(kPiece))
    throw std::runtime_error("no memory file for the huge text");
  return fd;
}
}  // namespace

HugeText::HugeText() {
  int plain = hugePiece(false), last = hugePiece(true);
  void *span =
      mmap(nullptr, kHugeSpan, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (span == MAP_FAILED) throw std::runtime_error("no address space for the huge text");
  base = static_cast<char *>(span);
  for (size_t at = 0; at < kHugeSpan; at += kPiece) {
    int fd = at + kPiece < kHugeSpan ? plain : last;
    if (mmap(base + at, kPiece, PROT_READ, MAP_SHARED | MAP_FIXED | MAP_POPULATE, fd, 0) ==
        MAP_FAILED)
      throw std::runtime_error("cannot map the huge text");
  }
  close(plain);
  close(last);
}

HugeText::~HugeText() {
  munmap(base, kHugeSpan);
}
