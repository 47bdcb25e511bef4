// html_test.cpp: the HTML text and attribute writers.
#include <gtest/gtest.h>

#include "support.h"

namespace {

TEST(Html, Writers) {
  const struct {
    const char *text;
    std::string written, label;
  } cases[] = {
      {"Ada Lovelace", "Ada Lovelace", "plain text"},
      {"", "", "empty"},
      {nullptr, "", "null"},
      {"&<>\"'", "&amp;&lt;&gt;&quot;&#39;", "every special byte"},
      {"&amp;", "&amp;amp;", "a reference is text"},
      {"\"><script>x</script>", "&quot;&gt;&lt;script&gt;x&lt;/script&gt;", "markup"},
      {"a\r\nb\rc", "a&#13;\nb&#13;c", "CR kept as a reference"},
      {"\t\n\f\x01\x1f\x7f =`/", "\t\n\f\x01\x1f\x7f =`/", "controls and blanks as they are"},
      {"\x80\x9f\xc3\xa9\xff", "\x80\x9f\xc3\xa9\xff", "high bytes as they are"},
  };
  for (const auto &c : cases) {
    captureOut();
    cgiHtmlWriteText(c.text);
    EXPECT_EQ(outText(), c.written) << c.label;
    captureOut();
    cgiHtmlWriteAttribute(c.text);
    EXPECT_EQ(outText(), "\"" + c.written + "\"") << c.label;
  }
}

}  // namespace
