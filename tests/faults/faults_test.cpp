// faults_test.cpp: exhausted memory.  This suite builds the library with
// CGI_FAULT_INJECTION, so cgiMalloc is the function below.  Each operation
// runs once to count its allocations, then once for every k up to that count
// with the k-th allocation failing; each time it must report the failure
// through its result, and AddressSanitizer (always on in this suite) checks
// that it freed nothing twice and, through its leak checker, leaked nothing.
#include <gtest/gtest.h>
#include <limits.h>
#include <sanitizer/common_interface_defs.h>
#include <sanitizer/lsan_interface.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <dirent.h>

#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>

#include "support.h"

// Leak checking is on unless ASAN_OPTIONS turns it off, which LeakCheckerIsOn
// reports.
extern "C" const char *__asan_default_options() {
  return "detect_leaks=1";
}

namespace {

long allocations = 0;                    // cgiMalloc calls since the last reset
long failAt = 0;                         // the call that fails; 0 for none
size_t failedSize = 0;                   // the size the failed call asked for
std::vector<void *> *callers = nullptr;  // where the calls came from, when set

int mainCalls = 0;

}  // namespace

// The library's allocator in this build: counts the calls and fails one.
extern "C" void *cgiMalloc(size_t size) {
  if (callers) callers->push_back(__builtin_return_address(0));
  if (++allocations != failAt) return malloc(size);
  failedSize = size;
  return nullptr;
}

// The application run by the driver: it only notes that it ran.
extern "C" int cgiMain(void) {
  mainCalls++;
  return 0;
}

namespace {

// One operation under test.  setup builds the state it starts from (its
// allocations never fail); run performs it and checks the outcome, which
// depends on whether an allocation was made to fail.  cgiFreeResources then
// releases what is left in the request state.  Capture may allocate nothing.
struct Operation {
  const char *label;
  std::function<void()> setup;
  std::function<void(bool failing)> run;
  bool mayAllocateNothing;
};

// "f×n, g×m": the functions that called cgiMalloc, in order of first call.
std::string describeCallers(const std::vector<void *> &pcs) {
  std::vector<std::string> order;
  std::map<std::string, int> counts;
  for (void *pc : pcs) {
    char name[256];
    __sanitizer_symbolize_pc(pc, "%f", name, sizeof name);
    std::string f = name;
    f = f.substr(0, f.find('('));
    if (counts[f]++ == 0) order.push_back(f);
  }
  std::ostringstream text;
  for (const std::string &f : order) text << (&f == &order[0] ? "" : ", ") << f << "×" << counts[f];
  return text.str();
}

// Runs op without failure to count its allocations, then with each of them
// failing in turn.
void exhaust(const Operation &op) {
  SCOPED_TRACE(op.label);
  std::vector<void *> pcs;
  op.setup();
  failAt = 0;
  allocations = 0;
  callers = &pcs;
  op.run(false);
  callers = nullptr;
  long total = allocations;
  cgiFreeResources();
  std::cout << "[ allocs   ] " << op.label << ": " << total << " (" << describeCallers(pcs)
            << ")\n";
  if (!op.mayAllocateNothing) {
    ASSERT_GT(total, 0) << "nothing went through cgiMalloc";
  }
  for (long k = 1; k <= total; k++) {
    SCOPED_TRACE("allocation " + std::to_string(k) + " of " + std::to_string(total) + " fails");
    op.setup();
    allocations = 0;
    failAt = k;
    op.run(true);
    failAt = 0;
    cgiFreeResources();
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "leak";
  }
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "leak";
}

TEST(Faults, LeakCheckerIsOn) {
  // A block whose only pointer is disguised counts as leaked until restored
  // (so the one leak report this suite prints is expected).
  volatile uintptr_t hidden = reinterpret_cast<uintptr_t>(malloc(24)) ^ 0x5a5a5a5a5a5a5a5aULL;
  EXPECT_NE(__lsan_do_recoverable_leak_check(), 0)
      << "leak checking is off: the suite proves nothing";
  free(reinterpret_cast<void *>(hidden ^ 0x5a5a5a5a5a5a5a5aULL));
}

const char kForm[] = "name=Ada+L&idApp=%37&x=1&x=%0D%0A2&empty=&x=";

// The small form, then a value long enough for a block of its own and more
// tiny fields than the first shared block takes: every kind of block.
const std::string &largeForm() {
  static std::string form = [] {
    std::string f = std::string(kForm) + "&long=" + std::string(20000, 'v');
    for (int i = 0; i < 3000; i++) f += "&f=" + std::to_string(i);
    return f;
  }();
  return form;
}

const std::string kForms[] = {kForm, largeForm()};

Env getRequest(const std::string &form = kForm) {
  return {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", form}};
}

Env postRequest(const std::string &form) {
  return {{"REQUEST_METHOD", "POST"},
          {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
          {"CONTENT_LENGTH", std::to_string(form.size())}};
}

// A driver run: on failure no cgiMain, no output, status -1, empty list.
void checkDriver(const Env &env, const std::string &body, bool failing) {
  mainCalls = 0;
  Outcome o = runRequest(env, body);
  EXPECT_EQ(o.ran, !failing);
  EXPECT_EQ(o.status, failing ? -1 : 0);
  EXPECT_EQ(mainCalls, failing ? 0 : 1);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(cgiFormEntryFirst, nullptr);
}

TEST(Faults, DecodingThroughTheDriver) {
  for (const std::string &form : kForms) {
    exhaust(
        {"GET query string", [] {}, [&](bool f) { checkDriver(getRequest(form), "", f); }, false});
    exhaust({"POST body", [] {}, [&](bool f) { checkDriver(postRequest(form), form, f); }, false});
  }
}

TEST(Faults, SplitterKeepsTheEntriesBeforeTheFailure) {
  for (const std::string &form : kForms) {
    setForm(form);
    const Entries all = entries();
    exhaust({"cgiParseFormInput",
             [] {
               cgiFreeResources();
               cgiSetupConstants();
             },
             [&](bool failing) {
               cgiParseResult r = cgiParseFormInput(form.data(), static_cast<int>(form.size()));
               EXPECT_EQ(r, failing ? cgiParseNoMemory : cgiParseOk);
               Entries now = entries();
               EXPECT_TRUE(now.size() < all.size() || !failing);
               EXPECT_TRUE(std::equal(now.begin(), now.end(), all.begin()));
             },
             false});
  }
}

TEST(Faults, StringMultiple) {
  exhaust({"cgiFormStringMultiple", [] { setForm(kForm); },
           [](bool failing) {
             char **array = reinterpret_cast<char **>(&mainCalls);  // not null before the call
             cgiFieldResult r = cgiFormStringMultiple("x", &array);
             EXPECT_EQ(r, failing ? cgiResultNoMemory : cgiResultOk);
             if (failing) {
               EXPECT_EQ(array, nullptr);
               return;
             }
             ASSERT_NE(array, nullptr);
             EXPECT_STREQ(array[1], "\n2");
             cgiStringArrayFree(array);
           },
           false});
}

// The copy of a value of INT_MAX bytes (a replay can make one) asks for a
// block of INT_MAX bytes, the largest an int size can give; it is made to
// fail, so that the copy costs no 2 GiB.
TEST(Faults, StringMultipleOfAValueOfIntMaxBytes) {
  HugeText huge;
  cgiFormEntry e{const_cast<char *>("big"), huge.text(), nullptr};
  cgiFormEntryFirst = &e;
  char **array;
  allocations = 0;
  failAt = 2;  // the array first, then the copy
  EXPECT_EQ(cgiFormStringMultiple("big", &array), cgiResultNoMemory);
  failAt = 0;
  EXPECT_EQ(failedSize, static_cast<size_t>(INT_MAX));
  cgiFormEntryFirst = nullptr;
}

// A directory of its own for the files of one test, removed with them.
struct TempDir {
  std::string path;
  TempDir() {
    char name[] = "/tmp/cgi-faults-XXXXXX";
    path = mkdtemp(name);
  }
  ~TempDir() {
    for (const std::string &f : list()) unlink((path + "/" + f).c_str());
    rmdir(path.c_str());
  }
  std::vector<std::string> list() const {
    std::vector<std::string> names;
    DIR *d = opendir(path.c_str());
    while (dirent *e = readdir(d))
      if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names.push_back(e->d_name);
    closedir(d);
    return names;
  }
};

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(Faults, Capture) {
  TempDir dir;
  const std::string path = dir.path + "/request";
  exhaust({"cgiWriteEnvironment",
           [&] {
             setForm(kForm);
             writeFile(path, "an earlier capture");
           },
           [&](bool failing) {
             cgiEnvResult r = cgiWriteEnvironment(path.c_str());
             EXPECT_EQ(r, failing ? cgiEnvFileError : cgiEnvOk);
             if (failing) {
               EXPECT_EQ(readFile(path), "an earlier capture");
             }
             EXPECT_EQ(dir.list(), std::vector<std::string>{"request"});
           },
           true});
}

// Writes a capture of the request env with form data form to path.
void makeCapture(const Env &env, const std::string &form, const std::string &path) {
  clearenv();
  for (const auto &[name, value] : env) setenv(name.c_str(), value.c_str(), 1);
  cgiFreeResources();
  for (const cgiRequestText &t : cgiRequestTexts) cgiGetenv(t.variable, t.envName);
  setForm(form);
  ASSERT_EQ(cgiWriteEnvironment(path.c_str()), cgiEnvOk);
  cgiFreeResources();
}

// After a failed replay: no entries, cgiRestored clear, texts readable.
void checkReplay(cgiEnvResult r, bool failing, const Entries &expected) {
  if (!failing) {
    EXPECT_EQ(r, cgiEnvOk);
    EXPECT_EQ(entries(), expected);
    EXPECT_STREQ(cgiRequestMethod, "GET");
    return;
  }
  EXPECT_TRUE(r == cgiEnvNoMemory || r == cgiEnvFileError) << r;
  EXPECT_EQ(cgiFormEntryFirst, nullptr);
  EXPECT_EQ(cgiRestored, 0);
  for (const cgiRequestText &t : cgiRequestTexts) {
    ASSERT_NE(*t.variable, nullptr) << t.envName;
    EXPECT_LT(strlen(*t.variable), 100u) << t.envName;
  }
}

TEST(Faults, ReplayFromAFile) {
  TempDir dir;
  const std::string earlier = dir.path + "/earlier", path = dir.path + "/request";
  makeCapture({{"SERVER_NAME", "earlier.example"}}, "old=1", earlier);
  for (const std::string &form : kForms) {
    Env env = getRequest(form);
    env["HTTP_USER_AGENT"] = "agent";
    makeCapture(env, form, path);
    setForm(form);
    const Entries expected = entries();
    exhaust(
        {"cgiReadEnvironment",
         // Each replay starts from an earlier replay, whose texts it releases.
         [&] { ASSERT_EQ(cgiReadEnvironment(earlier.c_str()), cgiEnvOk); },
         [&](bool failing) { checkReplay(cgiReadEnvironment(path.c_str()), failing, expected); },
         false});
  }
}

TEST(Faults, ReplayOfALongValueFromAPipe) {
  // A pipe cannot tell its size, so the value's buffer grows as bytes arrive.
  TempDir dir;
  const std::string path = dir.path + "/request";
  const std::string value(200000, 'v');
  makeCapture(getRequest(), "long=" + value, path);
  const std::string bytes = readFile(path);
  signal(SIGPIPE, SIG_IGN);
  exhaust({"cgiReadEnvironment from a pipe", [] {},
           [&](bool failing) {
             int fds[2];
             ASSERT_EQ(pipe(fds), 0);
             std::thread writer([&] {
               ssize_t ignored = write(fds[1], bytes.data(), bytes.size());
               (void)ignored;
               close(fds[1]);
             });
             cgiEnvResult r = cgiReadEnvironment(("/dev/fd/" + std::to_string(fds[0])).c_str());
             close(fds[0]);
             writer.join();
             checkReplay(r, failing, {{"long", value}});
           },
           false});
}

// The descriptors this process has open.
int openDescriptors() {
  int n = 0;
  DIR *d = opendir("/proc/self/fd");
  while (dirent *e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n - 1;
}

TEST(Faults, MultipartUpload) {
  TempDir dir;
  const std::string b = "bound";
  auto part = [&](const std::string &disposition, const std::string &content) {
    return "--" + b + "\r\nContent-Disposition: form-data; " + disposition +
           "\r\nContent-Type: text/plain\r\n\r\n" + content + "\r\n";
  };
  const std::string body =
      "preamble\r\n" + part("name=\"t\"", std::string(3000, 'v')) +
      part("name=\"f\"; filename=\"a.txt\"", "file one") + part("name=\"t\"", "short") +
      part("name=\"f\"; filename=\"../b\"", std::string(70000, 'w')) + "--" + b + "--\r\n";
  FILE *in = nullptr;
  exhaust({"cgiMultipartRead",
           [&] {
             cgiFreeResources();
             clearenv();
             setenv("REQUEST_METHOD", "POST", 1);
             setenv("CONTENT_TYPE", ("multipart/form-data; boundary=" + b).c_str(), 1);
             setenv("TMPDIR", dir.path.c_str(), 1);
             for (const cgiRequestText &t : cgiRequestTexts) cgiGetenv(t.variable, t.envName);
             cgiContentLength = static_cast<int>(body.size());
             in = fmemopen(const_cast<char *>(body.data()), body.size(), "r");
             cgiIn = in;
           },
           [&](bool failing) {
             int before = openDescriptors();
             cgiMultipartResult r = cgiMultipartRead(nullptr);
             EXPECT_EQ(r, failing ? cgiMultipartNoMemory : cgiMultipartOk);
             if (failing) {
               EXPECT_EQ(cgiFormEntryFirst, nullptr);
               EXPECT_EQ(cgiUploadFind(nullptr), nullptr);
               EXPECT_EQ(openDescriptors(), before) << "no file left open";
             } else {
               EXPECT_EQ(
                   entries(),
                   (Entries{
                       {"t", std::string(3000, 'v')}, {"f", "a.txt"}, {"t", "short"}, {"f", "b"}}));
               ASSERT_NE(cgiUploadFind("f"), nullptr);
               EXPECT_EQ(cgiUploadNext()->size, 70000);
             }
             EXPECT_EQ(dir.list(), std::vector<std::string>{});
             cgiFreeResources();
             EXPECT_EQ(openDescriptors(), before) << "teardown closed the files";
             fclose(in);
             cgiIn = nullptr;
           },
           false});
  unsetenv("TMPDIR");
}

TEST(Faults, SaferSystem) {
  TempDir dir;
  const std::string marker = dir.path + "/ran";
  exhaust({"cgiSaferSystem", [] {},
           [&](bool failing) {
             EXPECT_EQ(cgiSaferSystem(("touch " + marker).c_str()), failing ? -1 : 0);
             EXPECT_EQ(access(marker.c_str(), F_OK) == 0, !failing) << "shell started";
             unlink(marker.c_str());
           },
           false});
}

}  // namespace
