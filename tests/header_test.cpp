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

TEST(Header, SetCookie) {
  using A = cgiCookieAttributes;
  const std::string v4000(4000, 'v'), v4001(4001, 'v'), n96(96, 'n'),
      p1024 = "/" + std::string(1023, 'p'), p1025 = p1024 + "p", d1025(1025, 'd');
  const std::string defaults = "; Path=/; HttpOnly; SameSite=Lax\n";
  const struct {
    const char *name, *value;
    A attributes;
    bool null;  // pass a null attributes pointer
    cgiHeaderResult result;
    std::string written, label;
  } cases[] = {
      {"id", "a1", {}, true, cgiHeaderOk, "Set-Cookie: id=a1" + defaults, "null: defaults"},
      {"id", "a1", {}, false, cgiHeaderOk, "Set-Cookie: id=a1" + defaults, "zeros: defaults"},
      {"id", "", {}, false, cgiHeaderOk, "Set-Cookie: id=" + defaults, "empty value"},
      {"id", "\"a b\"", {}, false, cgiHeaderBadValue, "", "blank inside quotes"},
      {"id", "\"x\"", {}, false, cgiHeaderOk, "Set-Cookie: id=\"x\"" + defaults, "quoted"},
      {"id",
       "!#$%&'()*+-./09:<=>?@AZ[]^_`az{|}~",
       {},
       false,
       cgiHeaderOk,
       "Set-Cookie: id=!#$%&'()*+-./09:<=>?@AZ[]^_`az{|}~" + defaults,
       "every cookie-octet"},
      {"id",
       "x",
       {3600, "/app", "example.org", 1, 1, cgiSameSiteStrict},
       false,
       cgiHeaderOk,
       "Set-Cookie: id=x; Max-Age=3600; Domain=example.org; Path=/app; Secure; SameSite=Strict\n",
       "every attribute"},
      {"id",
       "x",
       {-1, nullptr, nullptr, 1, 0, cgiSameSiteNone},
       false,
       cgiHeaderOk,
       "Set-Cookie: id=x; Max-Age=0; Path=/; Secure; HttpOnly; SameSite=None\n",
       "negative Max-Age deletes; None with Secure"},
      {"__Secure-id",
       "x",
       {0, "/a", "example.org", 1, 0, {}},
       false,
       cgiHeaderOk,
       "Set-Cookie: __Secure-id=x; Domain=example.org; Path=/a; Secure; HttpOnly; SameSite=Lax\n",
       "__Secure- with Secure"},
      {"__Host-id",
       "x",
       {0, "/", nullptr, 1, 0, {}},
       false,
       cgiHeaderOk,
       "Set-Cookie: __Host-id=x; Path=/; Secure; HttpOnly; SameSite=Lax\n",
       "__Host- rules kept"},
      {n96.c_str(),
       v4000.c_str(),
       {0, p1024.c_str(), nullptr, 0, 0, {}},
       false,
       cgiHeaderOk,
       "Set-Cookie: " + n96 + "=" + v4000 + "; Path=" + p1024 + "; HttpOnly; SameSite=Lax\n",
       "4096-byte pair, 1024-byte path"},
      {"a b", "x", {}, false, cgiHeaderBadName, "", "blank in name"},
      {"a=b", "x", {}, false, cgiHeaderBadName, "", "= in name"},
      {"", "x", {}, false, cgiHeaderBadName, "", "empty name"},
      {nullptr, "x", {}, false, cgiHeaderBadName, "", "null name"},
      {"id", nullptr, {}, false, cgiHeaderBadValue, "", "null value"},
      {"id", "a b", {}, false, cgiHeaderBadValue, "", "blank"},
      {"id", "a;b", {}, false, cgiHeaderBadValue, "", ";"},
      {"id", "a,b", {}, false, cgiHeaderBadValue, "", "comma"},
      {"id", "a\\b", {}, false, cgiHeaderBadValue, "", "backslash"},
      {"id", "a\"b", {}, false, cgiHeaderBadValue, "", "inner quote"},
      {"id", "\"", {}, false, cgiHeaderBadValue, "", "lone quote"},
      {"id", "a\r\nX: y", {}, false, cgiHeaderBadValue, "", "line break"},
      {"id", "\xc3\xa9", {}, false, cgiHeaderBadValue, "", "high bytes"},
      {"id", "a\x7f", {}, false, cgiHeaderBadValue, "", "DEL"},
      {n96.c_str(), v4001.c_str(), {}, false, cgiHeaderTooLong, "", "4097-byte pair"},
      {"id", "x", {0, "", nullptr, 0, 0, {}}, false, cgiHeaderBadPath, "", "empty path"},
      {"id", "x", {0, "app", nullptr, 0, 0, {}}, false, cgiHeaderBadPath, "", "relative path"},
      {"id", "x", {0, "/a;Domain=x", nullptr, 0, 0, {}}, false, cgiHeaderBadPath, "", "; in path"},
      {"id", "x", {0, "/a\nb", nullptr, 0, 0, {}}, false, cgiHeaderBadPath, "", "LF in path"},
      {"id", "x", {0, "/\xc3\xa9", nullptr, 0, 0, {}}, false, cgiHeaderBadPath, "", "high byte"},
      {"id",
       "x",
       {0, p1025.c_str(), nullptr, 0, 0, {}},
       false,
       cgiHeaderBadPath,
       "",
       "1025-byte path"},
      {"id", "x", {0, nullptr, "", 0, 0, {}}, false, cgiHeaderBadDomain, "", "empty domain"},
      {"id",
       "x",
       {0, nullptr, "a.org;Path=/", 0, 0, {}},
       false,
       cgiHeaderBadDomain,
       "",
       "; in domain"},
      {"id", "x", {0, nullptr, "a b", 0, 0, {}}, false, cgiHeaderBadDomain, "", "blank"},
      {"id",
       "x",
       {0, nullptr, d1025.c_str(), 0, 0, {}},
       false,
       cgiHeaderBadDomain,
       "",
       "1025-byte domain"},
      {"id",
       "x",
       {0, nullptr, nullptr, 0, 0, static_cast<cgiSameSite>(3)},
       false,
       cgiHeaderBadSameSite,
       "",
       "SameSite out of range"},
      {"id",
       "x",
       {0, nullptr, nullptr, 0, 0, cgiSameSiteNone},
       false,
       cgiHeaderNoneNotSecure,
       "",
       "None without Secure"},
      {"__Secure-id", "x", {}, false, cgiHeaderBadPrefix, "", "__Secure- without Secure"},
      {"__SECURE-id", "x", {}, false, cgiHeaderBadPrefix, "", "__SECURE- without Secure"},
      {"__Host-id",
       "x",
       {0, nullptr, nullptr, 0, 0, {}},
       false,
       cgiHeaderBadPrefix,
       "",
       "__Host- without Secure"},
      {"__host-id",
       "x",
       {0, nullptr, "a.org", 1, 0, {}},
       false,
       cgiHeaderBadPrefix,
       "",
       "__host- with a domain"},
      {"__Host-id",
       "x",
       {0, "/a", nullptr, 1, 0, {}},
       false,
       cgiHeaderBadPrefix,
       "",
       "__Host- with a path"},
  };
  for (const auto &c : cases) {
    captureOut();
    EXPECT_EQ(cgiHeaderSetCookie(c.name, c.value, c.null ? nullptr : &c.attributes), c.result)
        << c.label;
    EXPECT_EQ(outText(), c.written) << c.label;
  }
}

}  // namespace
