// header_test.cpp: the response header writers.
#include <gtest/gtest.h>

#include "support.h"

namespace {

TEST(Header, ExactBytes) {
  const struct {
    std::function<void()> write;
    std::string expected;
    const char *label;
  } cases[] = {
      {[] { cgiHeaderContentType("text/html"); }, "Content-type: text/html\n\n", "content type"},
      {[] { cgiHeaderStatus(404, "Not Found"); }, "Status: 404 Not Found\n\n", "status"},
      {[] { cgiHeaderStatus(-5, "x"); }, "Status: -5 x\n\n", "negative status"},
      {[] { cgiHeaderStatus(200, ""); }, "Status: 200 \n\n", "empty phrase"},
      {[] { cgiHeaderLocation(""); }, "Location: \n\n", "empty location"},
      {[] { cgiHeaderLocation("/a?b=c"); }, "Location: /a?b=c\n\n", "location"},
      {[] { cgiHeaderLocation("/x\r\nSet-Cookie: a=b"); }, "Location: /xSet-Cookie: a=b\n\n",
       "CR LF dropped"},
      {[] { cgiHeaderContentType("\ntext/\r\rhtml\n\n"); }, "Content-type: text/html\n\n",
       "every CR and LF dropped"},
      {[] { cgiHeaderStatus(302, "a\nb"); }, "Status: 302 ab\n\n", "phrase line break dropped"},
      {[] { cgiHeaderContentType(nullptr); }, "Content-type: \n\n", "null text"},
      {[] { cgiHeaderStatus(500, nullptr); }, "Status: 500 \n\n", "null phrase"},
      {[] { cgiHeaderLocation(nullptr); }, "Location: \n\n", "null location"},
  };
  for (const auto &c : cases) {
    captureOut();
    c.write();
    EXPECT_EQ(outText(), c.expected) << c.label;
  }
}

TEST(Header, Fields) {
  const struct {
    const char *name, *value;
    cgiHeaderResult result;
    const char *written, *label;
  } cases[] = {
      {"Status", "404 Not Found", cgiHeaderOk, "Status: 404 Not Found\n", "status line"},
      {"X-a_b.c~!#$%&'*+^`|", "v", cgiHeaderOk, "X-a_b.c~!#$%&'*+^`|: v\n", "every token byte"},
      {"Cache-Control", "", cgiHeaderOk, "Cache-Control: \n", "empty value"},
      {"X", "a\tb \x80\xff\"<>;", cgiHeaderOk, "X: a\tb \x80\xff\"<>;\n", "TAB, high bytes"},
      {"", "v", cgiHeaderBadName, "", "empty name"},
      {nullptr, "v", cgiHeaderBadName, "", "null name"},
      {"Set Cookie", "v", cgiHeaderBadName, "", "blank in name"},
      {"X:Y", "v", cgiHeaderBadName, "", "colon in name"},
      {"X\n", "v", cgiHeaderBadName, "", "line break in name"},
      {"X\xc3\xa9", "v", cgiHeaderBadName, "", "high byte in name"},
      {"(X)", "v", cgiHeaderBadName, "", "separator in name"},
      {"X", nullptr, cgiHeaderBadValue, "", "null value"},
      {"X", "a\r\nSet-Cookie: s=1", cgiHeaderBadValue, "", "CR LF in value"},
      {"X", "a\nb", cgiHeaderBadValue, "", "LF in value"},
      {"X", "a\rb", cgiHeaderBadValue, "", "CR in value"},
      {"X", "a\x01", cgiHeaderBadValue, "", "control byte in value"},
      {"X", "a\x1f", cgiHeaderBadValue, "", "unit separator in value"},
      {"X", "a\x7f", cgiHeaderBadValue, "", "DEL in value"},
  };
  for (const auto &c : cases) {
    captureOut();
    EXPECT_EQ(cgiHeaderField(c.name, c.value), c.result) << c.label;
    EXPECT_EQ(outText(), c.written) << c.label;
  }
}

TEST(Header, FieldsBeforeTheBlockEnds) {
  captureOut();
  cgiHeaderField("Status", "404 Not Found");
  cgiHeaderField("Cache-Control", "no-store");
  cgiHeaderContentType("text/html");
  EXPECT_EQ(outText(),
            "Status: 404 Not Found\nCache-Control: no-store\nContent-type: text/html\n\n");
}

}  // namespace
