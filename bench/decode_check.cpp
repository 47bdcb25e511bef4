// decode_check.cpp: the library's decoder and normalising copy, which take
// plain runs in bulk, against plain byte-at-a-time versions of the same rules
// on random data of every length around the bulk paths' block sizes.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "cgi/internal.h"
#include "forms.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

int referenceHex(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

// The three-state unescaping machine, one byte at a time.
std::string referenceUnescape(const std::string &raw) {
  std::string out;
  int state = 0, weight = 0;
  for (unsigned char c : raw) {
    if (state == 1) {
      weight = referenceHex(c) * 16;
      state = 2;
    } else if (state == 2) {
      out += static_cast<char>(weight + referenceHex(c));
      state = 0;
    } else if (c == '%') {
      state = 1;
    } else {
      out += c == '+' ? ' ' : static_cast<char>(c);
    }
  }
  return out;
}

// The splitter: "=" ends a name, "&" ends a value, a tail without "=" is dropped.
Pairs referenceSplit(const std::string &data) {
  Pairs pairs;
  size_t pos = 0;
  while (pos < data.size()) {
    size_t eq = data.find('=', pos);
    if (eq == std::string::npos) break;
    size_t amp = data.find('&', eq + 1);
    size_t valueEnd = amp == std::string::npos ? data.size() : amp;
    pairs.emplace_back(referenceUnescape(data.substr(pos, eq - pos)),
                       referenceUnescape(data.substr(eq + 1, valueEnd - eq - 1)));
    if (amp == std::string::npos) break;
    pos = amp + 1;
  }
  return pairs;
}

// The normalising copy, one byte at a time: the stored text and the result.
std::pair<std::string, cgiFieldResult> referenceCopy(const char *value, int max, int keep) {
  std::string out;
  size_t room = static_cast<size_t>(max - 1);
  int crs = 0, lfs = 0;
  for (const char *p = value;; p++) {
    if (*p == '\r' || *p == '\n') {
      (*p == '\r' ? crs : lfs)++;
      continue;
    }
    for (int n = keep ? std::max(crs, lfs) : 0; n > 0; n--) {
      if (out.size() == room) return {out, cgiResultTruncated};
      out += '\n';
    }
    crs = lfs = 0;
    if (*p == '\0') break;
    if (out.size() == room) return {out, cgiResultTruncated};
    out += *p;
  }
  return {out, out.empty() ? cgiResultEmpty : cgiResultOk};
}

// Random form data: mostly plain bytes, with escapes, separators, line breaks,
// NULs and high bytes mixed in at a density that varies from case to case.
std::string randomData(BenchRandom &random, size_t length) {
  static const char special[] = {'%', '+', '&', '=', '\r', '\n', '\0', '\xe9', '0', 'a', 'F'};
  std::string data;
  unsigned density = 1 + random.next(60);
  while (data.size() < length) {
    if (random.next(100) < density)
      data += special[random.next(sizeof special)];
    else
      data += static_cast<char>('a' + random.next(26));
  }
  return data;
}

// Whether text holds exactly the bytes of expected followed by a NUL.
bool holds(const char *text, const std::string &expected) {
  return memcmp(text, expected.data(), expected.size()) == 0 && text[expected.size()] == '\0';
}

TEST(DecodeCheck, UnescapeMatchesReference) {
  cgiSetupConstants();
  BenchRandom random{1};
  for (int round = 0; round < 20000; round++) {
    std::string raw = randomData(random, random.next(160));
    std::vector<char> text(raw.size() + 1);  // exactly the room, for the sanitizers
    cgiUnescapeChars(text.data(), raw.data(), raw.size());
    EXPECT_TRUE(holds(text.data(), referenceUnescape(raw))) << "input: " << raw;
  }
}

// Values longer than a huge page take the large-block allocation too.
TEST(DecodeCheck, LongEscapedValuesMatchReference) {
  cgiSetupConstants();
  for (int share : {0, 5, 30, 90}) {
    std::string data = benchLongValues(3 * CGI_HUGE_PAGE + 17, 1, share);
    cgiFreeResources();
    ASSERT_EQ(cgiParseFormInput(data.data(), static_cast<int>(data.size())), cgiParseOk);
    ASSERT_NE(cgiFormEntryFirst, nullptr);
    EXPECT_TRUE(holds(cgiFormEntryFirst->value, referenceUnescape(data.substr(3))))
        << "share " << share;
  }
  cgiFreeResources();
}

TEST(DecodeCheck, SplitMatchesReference) {
  cgiSetupConstants();
  BenchRandom random{2};
  for (int round = 0; round < 5000; round++) {
    std::string data = randomData(random, random.next(300));
    cgiFreeResources();
    ASSERT_EQ(cgiParseFormInput(data.data(), static_cast<int>(data.size())), cgiParseOk);
    Pairs expected = referenceSplit(data);
    size_t i = 0;
    for (cgiFormEntry *e = cgiFormEntryFirst; e; e = e->next, i++) {
      ASSERT_LT(i, expected.size()) << "input: " << data;
      EXPECT_TRUE(holds(e->name, expected[i].first)) << "input: " << data;
      EXPECT_TRUE(holds(e->value, expected[i].second)) << "input: " << data;
    }
    EXPECT_EQ(i, expected.size()) << "input: " << data;
  }
  cgiFreeResources();
}

TEST(DecodeCheck, NormalisingCopyMatchesReference) {
  BenchRandom random{3};
  for (int round = 0; round < 20000; round++) {
    std::string value = randomData(random, random.next(120));
    cgiFormEntry e = {const_cast<char *>("x"), &value[0], nullptr};
    int max = 1 + static_cast<int>(random.next(static_cast<unsigned>(value.size()) + 3));
    int keep = static_cast<int>(random.next(2));
    std::vector<char> out(static_cast<size_t>(max) + 1, '#');
    cgiFieldResult result = cgiFormEntryString(&e, out.data(), max, keep);
    auto expected = referenceCopy(value.c_str(), max, keep);
    EXPECT_EQ(result, expected.second) << "input: " << value << " size " << max;
    EXPECT_TRUE(holds(out.data(), expected.first)) << "input: " << value << " size " << max;
    EXPECT_EQ(out[static_cast<size_t>(max)], '#') << "wrote past the buffer";
  }
}

}  // namespace

// Defined here so that the library's own main is never linked in.
int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
