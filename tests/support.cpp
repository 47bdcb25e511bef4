// support.cpp: helpers shared by the test suites.
#include "support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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
