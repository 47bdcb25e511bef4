// support.h: helpers shared by the test suites.
#ifndef TESTS_SUPPORT_H
#define TESTS_SUPPORT_H

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "cgi/internal.h"

using Entries = std::vector<std::pair<std::string, std::string>>;
using Env = std::map<std::string, std::string>;

// What a request run in-process produced.
struct Outcome {
  bool ran;         // cgiMain was called
  int status;       // the exit status the driver gives
  std::string out;  // every byte written to cgiOut
};

// Replaces the form entry list with the decoding of data.
void setForm(const std::string &data);

// The current form entry list as name/value pairs.
Entries entries();

// Runs one request through the driver with exactly env as the environment
// and body on the input stream; cgiOut is captured.
Outcome runRequest(const Env &env, const std::string &body = "");

// Sets cgiOut to a memory stream; outText() closes it and returns what it got.
void captureOut();
std::string outText();

// A text of INT_MAX bytes "v" and its NUL, read-only, made of two 2 MiB
// pieces of memory mapped over and over, so that it costs 4 MiB.
class HugeText {
 public:
  HugeText();
  ~HugeText();
  char *text() const { return base; }

 private:
  char *base;
};

// In the library suite, the cgiMain that the driver calls runs this.
extern std::function<int()> testMain;

#endif
