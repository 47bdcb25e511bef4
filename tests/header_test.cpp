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

}  // namespace
