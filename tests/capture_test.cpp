// capture_test.cpp: capture files written and replayed byte for byte.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>

#include "support.h"

using namespace std::string_literals;

#if defined(__SANITIZE_ADDRESS__)
#define CGI_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CGI_TEST_ASAN 1
#endif
#endif

namespace {

// The 18 request texts, cgiContentLength and the entry list.
using State = std::pair<std::vector<std::string>, Entries>;

State state() {
  std::vector<std::string> texts;
  for (const cgiRequestText &t : cgiRequestTexts) texts.emplace_back(*t.variable);
  texts.push_back(std::to_string(cgiContentLength));
  return {texts, entries()};
}

std::string zeros(size_t n) {
  return std::string(n, '\0');
}

// A big-endian integer record.
std::string be(uint32_t u) {
  return {char(u >> 24), char(u >> 16), char(u >> 8), char(u)};
}

std::string readFile(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void writeFile(const std::string &path, const std::string &data) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

// Waits for pid; its exit status, or -1 when it did not exit normally.
int waitExit(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The process's data segment in bytes, as the kernel counts it for RLIMIT_DATA.
rlim_t dataSize() {
  std::ifstream f("/proc/self/status");
  for (std::string line; std::getline(f, line);)
    if (line.rfind("VmData:", 0) == 0) return std::stoull(line.substr(7)) * 1024;
  return 0;
}

class CaptureTest : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/cgicaptureXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    path = dir + "/capture";
    cgiFreeResources();
    for (const cgiRequestText &t : cgiRequestTexts) *t.variable = const_cast<char *>(cgiEmptyText);
    cgiContentLength = 0;
  }

  void TearDown() override {
    cgiFreeResources();
    testMain = nullptr;
    for (const std::string &name : files()) unlink((dir + "/" + name).c_str());
    rmdir(dir.c_str());
  }

  // The names in the test directory.
  std::set<std::string> files() {
    std::set<std::string> names;
    DIR *d = opendir(dir.c_str());
    while (dirent *e = d ? readdir(d) : nullptr)
      if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names.insert(e->d_name);
    if (d) closedir(d);
    return names;
  }

  // Runs a request whose cgiMain captures it to to; gives what cgiMain saw.
  State captureRequest(const Env &env, const std::string &to, const std::string &body = "") {
    cgiFreeResources();  // start-up takes over no replay of an earlier test step
    State seen;
    testMain = [&] {
      seen = state();
      EXPECT_EQ(cgiWriteEnvironment(to.c_str()), cgiEnvOk);
      return 0;
    };
    EXPECT_TRUE(runRequest(env, body).ran);
    return seen;
  }

  // Replays data from a regular file, or from a pipe, in a child whose data
  // segment may grow by 16 MiB only, so that allocating what a huge length
  // record announces fails.  Gives the replay's result.
  int replayCapped(const std::string &data, bool piped) {
    int fds[2] = {-1, -1};
    std::string from = path;
    if (piped) {
      EXPECT_EQ(pipe(fds), 0);
      from = "/proc/self/fd/" + std::to_string(fds[0]);
    } else {
      writeFile(path, data);
    }
    pid_t pid = fork();
    if (pid == 0) {
      if (piped) close(fds[1]);
      rlim_t cap = dataSize() + (16 << 20);
      rlimit limit = {cap, cap};
      setrlimit(RLIMIT_DATA, &limit);
      _exit(10 + cgiReadEnvironment(from.c_str()));
    }
    if (piped) {
      close(fds[0]);
      void (*saved)(int) = signal(SIGPIPE, SIG_IGN);
      EXPECT_EQ(write(fds[1], data.data(), data.size()), ssize_t(data.size()));
      signal(SIGPIPE, saved);
      close(fds[1]);
    }
    return waitExit(pid) - 10;
  }

  std::string dir, path;
};

TEST_F(CaptureTest, WritesTheExactBytesAndReplaysThem) {
  struct {
    Env env;
    std::string file;
    const char *label;
  } cases[] = {
      {{}, zeros(76), "empty request: 76 zero bytes"},
      {{{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "a=1"}},
       zeros(20) + "\0\0\0\3GET"s + zeros(12) + "\0\0\0\3a=1"s + zeros(32) + "\0\0\0\3"s +
           "\0\0\0\1a\0\0\0\1"
           "1"s,
       "GET a=1: 92 bytes"},
      {{{"CONTENT_LENGTH", "-1"}}, zeros(72) + "\xFF\xFF\xFF\xFF", "content length -1"},
  };
  for (const auto &c : cases) {
    State seen = captureRequest(c.env, path);
    EXPECT_EQ(readFile(path), c.file) << c.label;
    EXPECT_EQ(files(), std::set<std::string>{"capture"}) << c.label;
    EXPECT_EQ(cgiReadEnvironment(path.c_str()), cgiEnvOk) << c.label;
    EXPECT_EQ(state(), seen) << c.label;
    EXPECT_EQ(cgiRestored, 1) << c.label;
  }
}

TEST_F(CaptureTest, RoundTripsEveryVariableEntryAndByte) {
  std::string bytes, escaped;
  for (int b = 1; b < 256; b++) {
    bytes += char(b);
    escaped += "%" + std::string(1, "0123456789ABCDEF"[b / 16]) + "0123456789ABCDEF"[b % 16];
  }
  Env all;
  for (const cgiRequestText &t : cgiRequestTexts) all[t.envName] = "value of "s + t.envName;
  all["REQUEST_METHOD"] = "POST";
  all["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
  std::string body = "a=1&b=&a=2&=x";
  all["CONTENT_LENGTH"] = std::to_string(body.size());
  struct {
    Env env;
    std::string body;
    const char *label;
  } cases[] = {
      {all, body, "all 18 variables; repeated names, empty value and name"},
      {{{"SERVER_SOFTWARE", bytes},
        {"REQUEST_METHOD", "GET"},
        {"QUERY_STRING", escaped + "=" + escaped}},
       "",
       "bytes 1 to 255"},
  };
  std::string again = dir + "/again";
  for (const auto &c : cases) {
    State seen = captureRequest(c.env, path, c.body);
    ASSERT_EQ(cgiReadEnvironment(path.c_str()), cgiEnvOk) << c.label;
    EXPECT_EQ(state(), seen) << c.label;
    EXPECT_EQ(cgiWriteEnvironment(again.c_str()), cgiEnvOk) << c.label;
    EXPECT_EQ(readFile(again), readFile(path)) << c.label << ": captured again after replay";
  }
  EXPECT_EQ(std::get<1>(captureRequest(cases[1].env, path)),
            (Entries{{bytes, bytes}}));  // the decoding really produced every byte
}

TEST_F(CaptureTest, FileCutShortFailsUnlessItEndsRightBeforeAName) {
  Env env = {{"SERVER_SOFTWARE", "sw"}, {"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "a=1&bb="}};
  captureRequest(env, path);
  std::string file = readFile(path), cut = dir + "/cut";
  size_t header = file.size() - (4 + 1 + 4 + 1) - (4 + 2 + 4);  // records 1 to 19
  std::map<size_t, Entries> cleanEnds = {
      {header, {}}, {header + 10, {{"a", "1"}}}, {file.size(), {{"a", "1"}, {"bb", ""}}}};
  auto expectNothingInstalled = [&](cgiEnvResult result, const std::string &label) {
    EXPECT_EQ(result, cgiEnvFileError) << label;
    EXPECT_EQ(entries(), Entries{}) << label;
    EXPECT_EQ(cgiRestored, 0) << label;
    EXPECT_EQ(cgiContentLength, 12345) << label;
    for (const cgiRequestText &t : cgiRequestTexts) EXPECT_STREQ(*t.variable, "") << label;
  };
  for (size_t n = 0; n <= file.size(); n++) {
    writeFile(cut, file.substr(0, n));
    ASSERT_EQ(cgiReadEnvironment(path.c_str()), cgiEnvOk);  // a replayed state to discard
    cgiContentLength = 12345;
    cgiEnvResult result = cgiReadEnvironment(cut.c_str());
    auto clean = cleanEnds.find(n);
    if (clean == cleanEnds.end()) {
      expectNothingInstalled(result, "cut at " + std::to_string(n));
      continue;
    }
    EXPECT_EQ(result, cgiEnvOk) << n;
    EXPECT_EQ(entries(), clean->second) << n;
    EXPECT_STREQ(cgiServerSoftware, "sw") << n;
  }
  ASSERT_EQ(cgiReadEnvironment(path.c_str()), cgiEnvOk);
  cgiContentLength = 12345;
  expectNothingInstalled(cgiReadEnvironment((dir + "/missing").c_str()), "missing path");
}

TEST_F(CaptureTest, ImpossibleLengthsFailWithoutAllocatingOrReading) {
  std::string header = zeros(76);
  struct {
    std::string file;
    const char *label;
  } cases[] = {
      {be(0x7fffffff) + "abc", "huge record 1"},
      {header + be(0x7fffffff) + "abc", "huge name"},
      {header + be(1) + "a" + be(0x7ffffff0) + "abc", "huge value"},
      {be(0x80000000) + zeros(100), "negative record 1"},
      {header + be(0xffffffff) + zeros(100), "negative name"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(replayCapped(c.file, false), cgiEnvFileError) << c.label << " from a file";
    EXPECT_EQ(replayCapped(c.file, true), cgiEnvFileError) << c.label << " through a pipe";
  }
  // Within the cap, a long record through a pipe arrives whole.
  std::string big(300000, 'x');
  EXPECT_EQ(replayCapped(be(big.size()) + big + zeros(72), true), cgiEnvOk);
#ifndef CGI_TEST_ASAN  // AddressSanitizer aborts where an allocation fails
  // A name the file holds but the memory cannot is no end of the list.
  std::string name(24 << 20, 'n');
  EXPECT_EQ(replayCapped(header + be(name.size()) + name + zeros(4), false), cgiEnvNoMemory);
#endif
}

TEST_F(CaptureTest, ReadStringStopsAtTheLengthWhenItCannotBeRight) {
  struct {
    std::string data;
    int ok;
    std::string value;
    long position[2];  // in a regular file, in a memory stream
    const char *label;
  } cases[] = {
      {be(3) + "abcd", 1, "abc", {7, 7}, "three of four bytes"},
      {be(0) + "abcd", 1, "", {4, 4}, "empty"},
      {be(0xffffffff) + "abcd", 0, "", {4, 4}, "negative length: nothing read"},
      {be(5) + "abcd", 0, "", {4, 8}, "past the end: only a file can tell at once"},
      {"\0\0\0"s, 0, "", {3, 3}, "length cut short"},
  };
  for (const auto &c : cases) {
    for (int kind = 0; kind < 2; kind++) {
      FILE *f = kind ? fmemopen(const_cast<char *>(c.data.data()), c.data.size(), "rb") : tmpfile();
      if (!kind) fwrite(c.data.data(), 1, c.data.size(), f);
      rewind(f);
      char *s = nullptr;
      EXPECT_EQ(cgiReadString(f, &s), c.ok) << c.label << kind;
      EXPECT_EQ(ftell(f), c.position[kind]) << c.label << kind;
      EXPECT_EQ(s ? std::string(s) : "(none)", c.ok ? c.value : "(none)") << c.label << kind;
      free(s);
      fclose(f);
    }
  }
}

TEST_F(CaptureTest, FailedCaptureKeepsTheOldFileAndLeavesNoTemporary) {
  struct {
    rlim_t limit;
    size_t valueSize;
    const char *label;
  } cases[] = {
      {64, 200, "fails when flushed"},
      {4096, 100000, "fails while written"},
  };
  writeFile(path, "the old capture");
  for (const auto &c : cases) {
    pid_t pid = fork();
    if (pid == 0) {
      setForm("big=" + std::string(c.valueSize, 'x'));
      signal(SIGXFSZ, SIG_IGN);
      rlimit limit = {c.limit, c.limit};
      setrlimit(RLIMIT_FSIZE, &limit);
      _exit(10 + cgiWriteEnvironment(path.c_str()));
    }
    EXPECT_EQ(waitExit(pid), 10 + cgiEnvFileError) << c.label;
    EXPECT_EQ(readFile(path), "the old capture") << c.label;
    EXPECT_EQ(files(), std::set<std::string>{"capture"}) << c.label;
  }
  EXPECT_EQ(cgiWriteEnvironment((dir + "/missing/capture").c_str()), cgiEnvFileError);
  EXPECT_EQ(files(), std::set<std::string>{"capture"});
}

TEST_F(CaptureTest, CaptureGetsTheModeThatFopenWouldGive) {
  struct {
    mode_t umask;
    mode_t mode;
  } cases[] = {{022, 0644}, {077, 0600}, {0, 0666}};
  mode_t saved = umask(022);
  writeFile(path, "an older capture");
  chmod(path.c_str(), 0600);
  for (const auto &c : cases) {
    umask(c.umask);
    EXPECT_EQ(cgiWriteEnvironment(path.c_str()), cgiEnvOk);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, c.mode) << "umask " << c.umask;
  }
  umask(saved);
}

TEST_F(CaptureTest, ReplayReplacesTheRequestAndTeardownReleasesIt) {
  std::string first = dir + "/first", second = dir + "/second";
  captureRequest({{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "old=1&x=0"}}, first);
  captureRequest({{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "x=line1%0D%0Aline2&x=3"}}, second);
  testMain = [&] {
    EXPECT_EQ(cgiReadEnvironment(first.c_str()), cgiEnvOk);
    EXPECT_EQ(cgiReadEnvironment(second.c_str()), cgiEnvOk);
    char value[32];
    EXPECT_EQ(cgiFormString("x", value, sizeof value), cgiResultOk);
    EXPECT_STREQ(value, "line1\nline2");
    EXPECT_EQ(cgiFormString("old", value, sizeof value), cgiResultAbsent);
    EXPECT_STREQ(cgiQueryString, "x=line1%0D%0Aline2&x=3");
    EXPECT_EQ(cgiContentLength, 22);
    EXPECT_EQ(cgiRestored, 1);
    return 0;
  };
  EXPECT_TRUE(runRequest({{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "live=1"}}).ran);
  EXPECT_EQ(cgiRestored, 0);
  EXPECT_EQ(cgiQueryString, cgiEmptyText);  // released by the driver's teardown
  EXPECT_EQ(entries(), Entries{});
  cgiFreeResources();  // a second teardown releases nothing twice
}

}  // namespace
