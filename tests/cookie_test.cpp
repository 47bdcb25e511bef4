// cookie_test.cpp: reading the request's cookies.
#include <gtest/gtest.h>
#include <unistd.h>

#include "support.h"

namespace {

// Sets HTTP_COOKIE to header, or removes it when header is null.
void setCookieHeader(const char *header) {
  if (header)
    setenv("HTTP_COOKIE", header, 1);
  else
    unsetenv("HTTP_COOKIE");
}

// About 8 KiB of cookies c0 to c249, each with a 24-byte value.
std::string manyCookies() {
  std::string header;
  for (int i = 0; i < 250; i++)
    header += (i ? "; c" : "c") + std::to_string(i) + "=" + std::string(24, 'a' + i % 26);
  return header;
}

TEST(Cookie, Values) {
  const std::string many = manyCookies(), manyBig = many + "; big=" + std::string(8192, 'v');
  const struct {
    const char *header, *name;
    int max;
    cgiFieldResult result;
    std::string value, label;
  } cases[] = {
      {nullptr, "a", 64, cgiResultAbsent, "", "no HTTP_COOKIE"},
      {"", "a", 64, cgiResultAbsent, "", "empty header"},
      {"a=1", "a", 64, cgiResultOk, "1", "one cookie"},
      {"a=1", nullptr, 64, cgiResultAbsent, "", "null name"},
      {"a", "a", 64, cgiResultAbsent, "", "no ="},
      {"a; b; a=2", "a", 64, cgiResultOk, "2", "pairs without = skipped"},
      {"a=", "a", 64, cgiResultEmpty, "", "empty value"},
      {"=x; a=1", "", 64, cgiResultOk, "x", "empty name"},
      {" \ta \t= \t1 2\t ", "a", 64, cgiResultOk, "1 2", "blanks trimmed, inner kept"},
      {"b=1;a=2;c=3", "a", 64, cgiResultOk, "2", "no blank after ;"},
      {";;; ;a=1;;", "a", 64, cgiResultOk, "1", "runs of ;"},
      {"a=1; a=2", "a", 64, cgiResultOk, "1", "the first of a repeated name"},
      {"A=1; ab=2; b=3", "a", 64, cgiResultAbsent, "", "names compared exactly"},
      {"a=1", "ab", 64, cgiResultAbsent, "", "a shorter name is no match"},
      {"a=b=c", "a", 64, cgiResultOk, "b=c", "split at the first ="},
      {"a=%41+b%3B", "a", 64, cgiResultOk, "%41+b%3B", "not URL-decoded"},
      {"a=\"x y\"", "a", 64, cgiResultOk, "x y", "quotes removed"},
      {"a = \" x \" ", "a", 64, cgiResultOk, " x ", "blanks inside quotes kept"},
      {"a=\"\"", "a", 64, cgiResultEmpty, "", "empty quoted value"},
      {"a=\"", "a", 64, cgiResultOk, "\"", "a lone quote stays"},
      {"a=\"x", "a", 64, cgiResultOk, "\"x", "an open quote stays"},
      {"a=\"\"x\"\"", "a", 64, cgiResultOk, "\"x\"", "one pair only"},
      {"a=\"\\\\\\\"\"", "a", 64, cgiResultOk, "\\\\\\\"", "backslashes not unescaped"},
      {"a=\"x\\\"; b=2", "a", 64, cgiResultOk, "x\\", "a backslash does not hide the quote"},
      {"a=\"x;y\"; b=2", "b", 64, cgiResultOk, "2", "quotes do not protect ;"},
      {"a=\xc3\xa9\x01\x7f", "a", 64, cgiResultOk, "\xc3\xa9\x01\x7f", "any byte kept"},
      {"a=12345", "a", 6, cgiResultOk, "12345", "fits exactly"},
      {"a=12345", "a", 5, cgiResultTruncated, "1234", "one byte short"},
      {"a=\"12345\"", "a", 3, cgiResultTruncated, "12", "quoted value cut"},
      {"a=1", "a", 1, cgiResultTruncated, "", "size 1"},
      {"a=1", "a", 0, cgiResultTruncated, "", "size 0 writes nothing"},
      {"a=", "a", 0, cgiResultEmpty, "", "size 0, empty"},
      {"b=1", "a", -1, cgiResultAbsent, "", "size -1, absent"},
      {many.c_str(), "c249", 64, cgiResultOk, std::string(24, 'a' + 249 % 26), "8 KiB, last"},
      {many.c_str(), "c25", 64, cgiResultOk, std::string(24, 'a' + 25 % 26), "8 KiB, c25"},
      {manyBig.c_str(), "big", 8193, cgiResultOk, std::string(8192, 'v'),
       "8 KiB value after 8 KiB of cookies"},
  };
  for (const auto &c : cases) {
    setCookieHeader(c.header);
    std::string buffer(9000, '#');
    EXPECT_EQ(cgiCookieValue(c.name, &buffer[0], c.max), c.result) << c.label;
    if (c.max > 0) {
      EXPECT_EQ(buffer.c_str(), c.value) << c.label;
    }
    EXPECT_EQ(buffer[c.max > 0 ? c.max : 0], '#') << c.label << ": wrote past the buffer";
  }
  unsetenv("HTTP_COOKIE");
}

TEST(Cookie, ReplayedRequestHasNone) {
  char path[] = "/tmp/cgicookieXXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  setCookieHeader("a=1");
  ASSERT_EQ(cgiWriteEnvironment(path), cgiEnvOk);
  ASSERT_EQ(cgiReadEnvironment(path), cgiEnvOk);
  char value[8];
  EXPECT_EQ(cgiCookieValue("a", value, sizeof value), cgiResultAbsent);
  cgiFreeResources();
  EXPECT_EQ(cgiCookieValue("a", value, sizeof value), cgiResultOk);
  unlink(path);
  unsetenv("HTTP_COOKIE");
}

}  // namespace
