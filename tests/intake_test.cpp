// intake_test.cpp: the driver, form decoding and the lookup cursor.
#include <gtest/gtest.h>
#include <limits.h>

#include "support.h"

namespace {

struct DecodeCase {
  std::string data;
  Entries expected;
  const char *label;
};

const DecodeCase kDecodeCases[] = {
    {"", {}, "empty data"},
    {"a", {}, "no equals sign"},
    {"a=", {{"a", ""}}, "empty value"},
    {"=", {{"", ""}}, "empty name and value"},
    {"=x", {{"", "x"}}, "empty name"},
    {"a=1&", {{"a", "1"}}, "trailing ampersand"},
    {"a=1&b", {{"a", "1"}}, "last segment without equals dropped"},
    {"a&b=1", {{"a&b", "1"}}, "ampersand before equals belongs to the name"},
    {"&a=1", {{"&a", "1"}}, "leading ampersand"},
    {"a=1&&b=2", {{"a", "1"}, {"&b", "2"}}, "double ampersand"},
    {"a=1=2", {{"a", "1=2"}}, "equals inside the value"},
    {"a=1&a=2", {{"a", "1"}, {"a", "2"}}, "repeated name kept in order"},
    {"first+name=J%6Fe", {{"first name", "Joe"}}, "plus and escape in name and value"},
    {"x=%41%42+%2B", {{"x", "AB +"}}, "escapes and plus"},
    {"x=abc%", {{"x", "abc"}}, "lone percent at the end"},
    {"x=ab%4", {{"x", "ab"}}, "escape cut after one digit"},
    {"x=%G1", {{"x", "\x01"}}, "non-digit weighs zero"},
    {"x=%%41",
     {{"x",
       "\x04"
       "1"}},
     "percent inside an escape weighs zero"},
    {"x=%+1", {{"x", "\x01"}}, "plus inside an escape is no space"},
    {"x=%e9", {{"x", "\xe9"}}, "lower-case digits"},
    {"x=%00y", {{"x", ""}}, "decoded NUL ends the text"},
    {"x=%C3%A9&y=%ff%FF", {{"x", "\xc3\xa9"}, {"y", "\xff\xff"}}, "high bytes"},
    {"x=1%26y%3D2", {{"x", "1&y=2"}}, "escaped separators stay in the value"},
};

// The entries that cgiMain saw for a request.
Entries decodedBy(const Env &env, const std::string &body, Outcome *outcome = nullptr) {
  Entries seen;
  testMain = [&] {
    seen = entries();
    return 7;
  };
  Outcome result = runRequest(env, body);
  testMain = nullptr;
  if (outcome) *outcome = result;
  EXPECT_TRUE(result.ran);
  EXPECT_EQ(result.status, 7);
  return seen;
}

Env post(const std::string &body, const char *type = "application/x-www-form-urlencoded") {
  return {{"REQUEST_METHOD", "POST"},
          {"CONTENT_TYPE", type},
          {"CONTENT_LENGTH", std::to_string(body.size())}};
}

TEST(Decode, QueryStringAndBodyAgree) {
  for (const DecodeCase &c : kDecodeCases) {
    EXPECT_EQ(decodedBy({{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", c.data}}, ""), c.expected)
        << "GET: " << c.label;
    EXPECT_EQ(decodedBy(post(c.data), c.data), c.expected) << "POST: " << c.label;
  }
}

TEST(Decode, RawNulByteInBodyIsOrdinary) {
  std::string body("a=x\0y&b=2", 9);
  EXPECT_EQ(decodedBy(post(body), body), (Entries{{"a", "x"}, {"b", "2"}}));
}

TEST(Decode, OnlyTheAnnouncedLengthIsRead) {
  Env env = post("a=1");
  EXPECT_EQ(decodedBy(env, "a=1&b=2"), (Entries{{"a", "1"}}));
  // A body of 1.5 MiB is read into whole huge pages.
  const std::string value(3 << 19, 'v');
  EXPECT_EQ(decodedBy(post("x=" + value), "x=" + value + "&b=2"), (Entries{{"x", value}}));
}

// Requests that cgiMain must see with the given entries and content length.
struct DispatchCase {
  Env env;
  std::string body;
  Entries expected;
  int contentLength;
  const char *label;
};

TEST(Driver, DispatchOnMethodAndContentType) {
  const std::string form = "a=1";
  const std::string type = "application/x-www-form-urlencoded";
  const DispatchCase cases[] = {
      {{}, "", {}, 0, "empty environment"},
      {{{"REQUEST_METHOD", "get"}, {"QUERY_STRING", "a=1"}, {"CONTENT_LENGTH", "99"}},
       "",
       {{"a", "1"}},
       3,
       "GET length is the query string's"},
      {{{"REQUEST_METHOD", "GET"}}, "", {}, 0, "GET without query string"},
      {{{"REQUEST_METHOD", "Post"},
        {"CONTENT_TYPE", "APPLICATION/X-WWW-FORM-URLENCODED"},
        {"CONTENT_LENGTH", "3"}},
       form,
       {{"a", "1"}},
       3,
       "mixed case"},
      {{{"REQUEST_METHOD", "POST "}, {"CONTENT_TYPE", type}, {"CONTENT_LENGTH", "3"}},
       form,
       {},
       3,
       "method with trailing blank"},
      {{{"REQUEST_METHOD", "POSTS"}, {"CONTENT_TYPE", type}, {"CONTENT_LENGTH", "3"}},
       form,
       {},
       3,
       "method with extra letter"},
      {{{"REQUEST_METHOD", "POST"},
        {"CONTENT_TYPE", type + "; charset=UTF-8"},
        {"CONTENT_LENGTH", "3"}},
       form,
       {},
       3,
       "content type with a parameter"},
      {{{"REQUEST_METHOD", "POST"},
        {"CONTENT_TYPE", "multipart/form-data"},
        {"CONTENT_LENGTH", "3"}},
       form,
       {},
       3,
       "multipart"},
      {{{"REQUEST_METHOD", "POST"},
        {"CONTENT_TYPE", type},
        {"CONTENT_LENGTH", "3"},
        {"QUERY_STRING", "q=9"}},
       form,
       {{"a", "1"}},
       3,
       "POST decodes the body only"},
      {{{"REQUEST_METHOD", "HEAD"}, {"QUERY_STRING", "a=1"}}, "", {}, 0, "HEAD"},
      {{{"REQUEST_METHOD", "PUT"}, {"QUERY_STRING", "a=1"}}, "", {}, 0, "PUT"},
      {{{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", type}}, form, {}, 0, "no length"},
      {{{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", type}, {"CONTENT_LENGTH", "x"}},
       form,
       {},
       0,
       "length not a number"},
      {{{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", type}, {"CONTENT_LENGTH", " \t+3z"}},
       form,
       {{"a", "1"}},
       3,
       "length with blanks, sign and trailing junk"},
      {{{"CONTENT_LENGTH", "99999999999"}}, "", {}, INT_MAX, "length saturates high"},
      {{{"CONTENT_LENGTH", "-99999999999"}}, "", {}, INT_MIN, "length saturates low"},
  };
  for (const DispatchCase &c : cases) {
    int length = -12345;
    Entries seen;
    testMain = [&] {
      seen = entries();
      length = cgiContentLength;
      return 0;
    };
    Outcome outcome = runRequest(c.env, c.body);
    testMain = nullptr;
    EXPECT_TRUE(outcome.ran) << c.label;
    EXPECT_EQ(seen, c.expected) << c.label;
    EXPECT_EQ(length, c.contentLength) << c.label;
  }
}

TEST(Driver, VariablesFromEnvironmentOrEmpty) {
  std::string seenMethod, seenAgent, seenHost;
  testMain = [&] {
    seenMethod = cgiRequestMethod;
    seenAgent = cgiUserAgent;
    seenHost = cgiRemoteHost;
    return 0;
  };
  runRequest({{"REQUEST_METHOD", "HEAD"}, {"HTTP_USER_AGENT", "curl"}});
  testMain = nullptr;
  EXPECT_EQ(seenMethod, "HEAD");
  EXPECT_EQ(seenAgent, "curl");
  EXPECT_EQ(seenHost, "");
}

TEST(Driver, UndecodableBodyEndsWithoutCallingTheApplication) {
  const std::string type = "application/x-www-form-urlencoded";
  const std::pair<Env, const char *> cases[] = {
      {{{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", type}, {"CONTENT_LENGTH", "5"}}, "short body"},
      {{{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", type}, {"CONTENT_LENGTH", "-1"}}, "negative"},
  };
  for (const auto &[env, label] : cases) {
    bool called = false;
    testMain = [&] {
      called = true;
      fputs("x", cgiOut);
      return 0;
    };
    Outcome outcome = runRequest(env, "a=1");
    testMain = nullptr;
    EXPECT_FALSE(outcome.ran) << label;
    EXPECT_FALSE(called) << label;
    EXPECT_EQ(outcome.status, -1) << label;
    EXPECT_EQ(outcome.out, "") << label;
    EXPECT_EQ(cgiFormEntryFirst, nullptr) << label;
  }
}

TEST(Driver, FreeResourcesTwiceReleasesNothingTwice) {
  setForm("a=1&b=2");
  ASSERT_NE(cgiFormEntryNew(3, 5), nullptr);  // never linked, released all the same
  cgiFreeResources();
  EXPECT_EQ(cgiFormEntryFirst, nullptr);
  cgiFreeResources();
  EXPECT_EQ(cgiFormEntryFirst, nullptr);
}

TEST(Driver, StrEqNc) {
  const struct {
    const char *a, *b;
    int equal;
  } cases[] = {
      {"", "", 1},         {"", "a", 0},         {"a", "", 0},         {"post", "POST", 1},
      {"PoSt", "pOsT", 1}, {"post", "posts", 0}, {"posts", "post", 0}, {"post ", "post", 0},
      {"\xe9", "\xe9", 1}, {"\xe9", "\xc9", 0},  {"[", "{", 0},        {"@", "`", 0},
  };
  for (const auto &c : cases) EXPECT_EQ(cgiStrEqNc(c.a, c.b), c.equal) << c.a << " vs " << c.b;
}

TEST(Lookup, CursorWalksMatchesInOrder) {
  cgiFreeResources();
  EXPECT_EQ(cgiFormEntryFindFirst("a"), nullptr) << "empty list";
  EXPECT_EQ(cgiFormEntryFindNext(), nullptr) << "exhausted search";
  setForm("a=1&Name=x&ab=y&a=2&=e&a=3");
  EXPECT_EQ(cgiFormEntryFindFirst("name"), nullptr) << "case matters";
  EXPECT_EQ(cgiFormEntryFindFirst("b"), nullptr) << "no suffix match";
  EXPECT_STREQ(cgiFormEntryFindFirst("")->value, "e") << "empty name";
  EXPECT_STREQ(cgiFormEntryFindFirst("ab")->value, "y") << "no prefix match";
  EXPECT_STREQ(cgiFormEntryFindFirst("a")->value, "1");
  EXPECT_STREQ(cgiFormEntryFindNext()->value, "2");
  EXPECT_STREQ(cgiFormEntryFindFirst("a")->value, "1") << "find first restarts";
  EXPECT_STREQ(cgiFormEntryFindNext()->value, "2");
  EXPECT_STREQ(cgiFormEntryFindNext()->value, "3");
  EXPECT_EQ(cgiFormEntryFindNext(), nullptr);
  EXPECT_EQ(cgiFormEntryFindNext(), nullptr);
  cgiFreeResources();
}

}  // namespace
