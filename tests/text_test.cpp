// text_test.cpp: text field accessors and the normalising copy.
#include <gtest/gtest.h>
#include <limits.h>

#include "support.h"

namespace {

struct CopyCase {
  std::string value;
  int max;
  int newlines;
  std::string expected;
  cgiFieldResult result;
  const char *label;
};

const CopyCase kCopyCases[] = {
    {"123456789", 10, 1, "123456789", cgiResultOk, "fits exactly"},
    {"1234567890", 10, 1, "123456789", cgiResultTruncated, "one byte too long"},
    {"", 1, 1, "", cgiResultEmpty, "size 1, empty value"},
    {"x", 1, 1, "", cgiResultTruncated, "size 1, a byte to store"},
    {"", 5, 1, "", cgiResultEmpty, "empty value"},
    {"x\r\ny", 9, 1, "x\ny", cgiResultOk, "CR LF"},
    {"x\r\ny", 9, 0, "xy", cgiResultOk, "CR LF dropped"},
    {"x\ry", 9, 1, "x\ny", cgiResultOk, "lone CR"},
    {"x\n\ry", 9, 1, "x\ny", cgiResultOk, "LF CR"},
    {"x\r\ry", 9, 1, "x\n\ny", cgiResultOk, "CR CR"},
    {"x\r\n\r\ny", 9, 1, "x\n\ny", cgiResultOk, "CR LF CR LF"},
    {"x\r\r\ny", 9, 1, "x\n\ny", cgiResultOk, "CR CR LF"},
    {"x\n\n\ry", 9, 1, "x\n\ny", cgiResultOk, "LF LF CR"},
    {"x\r\n\r\ny", 3, 1, "x\n", cgiResultTruncated, "run cut at the limit"},
    {"x\r\n\r\ny", 4, 1, "x\n\n", cgiResultTruncated, "run fills the buffer, byte after it cut"},
    {"xyz\r\n", 4, 0, "xyz", cgiResultOk, "trailing run dropped fits"},
    {"xyz\r\n", 4, 1, "xyz", cgiResultTruncated, "trailing run kept does not fit"},
    {"xy\r\n", 4, 1, "xy\n", cgiResultOk, "trailing CR LF becomes one LF"},
    {"\r\n", 5, 1, "\n", cgiResultOk, "only a line break, kept"},
    {"\r\n", 5, 0, "", cgiResultEmpty, "only a line break, dropped"},
    {"\x80\xff\xe9", 5, 1, "\x80\xff\xe9", cgiResultOk, "high bytes unchanged"},
};

TEST(Text, NormalisingCopy) {
  for (const CopyCase &c : kCopyCases) {
    std::string value = c.value;
    cgiFormEntry e{const_cast<char *>(""), value.data(), nullptr};
    std::string buffer(static_cast<size_t>(c.max) + 4, '#');
    EXPECT_EQ(cgiFormEntryString(&e, buffer.data(), c.max, c.newlines), c.result) << c.label;
    EXPECT_EQ(std::string(buffer.c_str()), c.expected) << c.label;
    EXPECT_EQ(buffer.substr(static_cast<size_t>(c.max)), "####") << c.label << ": overrun";
  }
}

// A value of INT_MAX bytes (a replay can make one): its size saturates.
TEST(Text, SpaceNeededSaturates) {
  HugeText huge;
  cgiFormEntry e{const_cast<char *>("big"), huge.text(), nullptr};
  cgiFormEntryFirst = &e;
  int length = 0;
  EXPECT_EQ(cgiFormStringSpaceNeeded("big", &length), cgiResultOk);
  EXPECT_EQ(length, INT_MAX);
  cgiFormEntryFirst = nullptr;
}

TEST(Text, SizeBelowOneWritesNothing) {
  setForm("a=xyz&e=");
  for (int max : {0, -1}) {
    char buffer[2] = {'#', '#'};
    EXPECT_EQ(cgiFormString("a", buffer, max), cgiResultTruncated);
    EXPECT_EQ(cgiFormStringNoNewlines("e", buffer, max), cgiResultEmpty);
    EXPECT_EQ(cgiFormString("absent", buffer, max), cgiResultAbsent);
    EXPECT_EQ(buffer[0], '#');
  }
  cgiFreeResources();
}

TEST(Text, AccessorsReadTheFirstEntry) {
  setForm("a=x%0D%0Ay&a=second&e=&b=%0D%0A");
  char buffer[16];
  EXPECT_EQ(cgiFormString("a", buffer, sizeof buffer), cgiResultOk);
  EXPECT_STREQ(buffer, "x\ny");
  EXPECT_EQ(cgiFormStringNoNewlines("a", buffer, sizeof buffer), cgiResultOk);
  EXPECT_STREQ(buffer, "xy");
  EXPECT_EQ(cgiFormStringNoNewlines("b", buffer, sizeof buffer), cgiResultEmpty);
  EXPECT_EQ(cgiFormString("e", buffer, sizeof buffer), cgiResultEmpty);
  EXPECT_STREQ(buffer, "");
  strcpy(buffer, "junk");
  EXPECT_EQ(cgiFormString("A", buffer, sizeof buffer), cgiResultAbsent);
  EXPECT_STREQ(buffer, "");

  const struct {
    const char *name;
    int length;
    cgiFieldResult result;
  } needs[] = {{"a", 5, cgiResultOk}, {"e", 1, cgiResultOk}, {"none", 1, cgiResultAbsent}};
  for (const auto &n : needs) {
    int length = -1;
    EXPECT_EQ(cgiFormStringSpaceNeeded(n.name, &length), n.result) << n.name;
    EXPECT_EQ(length, n.length) << n.name;
  }
  cgiFreeResources();
}

TEST(Text, MultipleCollectsEveryValueAndOutlivesTheList) {
  setForm("a=1&b=2&a=x%0Dy&a=");
  char **values = nullptr;
  EXPECT_EQ(cgiFormStringMultiple("a", &values), cgiResultOk);
  cgiFreeResources();
  ASSERT_NE(values, nullptr);
  EXPECT_STREQ(values[0], "1");
  EXPECT_STREQ(values[1], "x\ny");
  EXPECT_STREQ(values[2], "");
  EXPECT_EQ(values[3], nullptr);
  cgiStringArrayFree(values);

  EXPECT_EQ(cgiFormStringMultiple("a", &values), cgiResultAbsent);
  ASSERT_NE(values, nullptr);
  EXPECT_EQ(values[0], nullptr);
  cgiStringArrayFree(values);
  cgiStringArrayFree(nullptr);
}

}  // namespace
