// choice_test.cpp: form fields matched against lists of choices.
#include <gtest/gtest.h>

#include "support.h"

namespace {

// "green" stands twice; the last choice is the empty text.
const char *const colours[] = {"red", "green", "blue", "green", ""};

// Single choice of field "c" among all five colours, default 9.
const struct {
  const char *form;
  cgiFieldResult result;
  int index;
} singleCases[] = {
    {"x=red", cgiResultAbsent, 9},
    {"c=pink", cgiResultNoMatch, 9},
    {"c=blue", cgiResultOk, 2},
    {"c=Blue", cgiResultNoMatch, 9},
    {"c=blue%20", cgiResultNoMatch, 9},
    {"c=green", cgiResultOk, 1},
    {"c=", cgiResultOk, 4},
    {"c=pink&c=blue", cgiResultNoMatch, 9},
    {"c=blue&c=red", cgiResultOk, 2},
    {"x=blue&c=red", cgiResultOk, 0},
};

TEST(Choice, Single) {
  for (auto read : {cgiFormSelectSingle, cgiFormRadio}) {
    for (const auto &c : singleCases) {
      setForm(c.form);
      int index = -1;
      EXPECT_EQ(read("c", colours, 5, &index, 9), c.result) << c.form;
      EXPECT_EQ(index, c.index) << c.form;
    }
  }
  setForm("c=blue");
  int index = -1;
  EXPECT_EQ(cgiFormSelectSingle("c", colours, 2, &index, 9), cgiResultNoMatch);
  EXPECT_EQ(cgiFormSelectSingle("c", colours, 0, &index, 8), cgiResultNoMatch);
  EXPECT_EQ(index, 8);
}

// Many choices of field "c"; total is the choice count passed, and slots at
// and after it must keep the 7 they start with.
const struct {
  const char *form;
  int total;
  std::vector<int> flags;
  int invalid;
  cgiFieldResult result;
} multipleCases[] = {
    {"c=red&c=blue&c=pink", 5, {1, 0, 1, 0, 0}, 1, cgiResultOk},
    {"c=pink&c=Red&c=red%20", 5, {0, 0, 0, 0, 0}, 3, cgiResultAbsent},
    {"x=red", 5, {0, 0, 0, 0, 0}, 0, cgiResultAbsent},
    {"c=blue&x=red&c=blue&c=blue", 5, {0, 0, 1, 0, 0}, 0, cgiResultOk},
    {"c=green", 5, {0, 1, 0, 0, 0}, 0, cgiResultOk},
    {"c=", 5, {0, 0, 0, 0, 1}, 0, cgiResultOk},
    {"c=blue&c=red", 2, {1, 0, 7, 7, 7}, 1, cgiResultOk},
    {"c=red&c=pink", 0, {7, 7, 7, 7, 7}, 2, cgiResultAbsent},
    {"c=red", -1, {7, 7, 7, 7, 7}, 1, cgiResultAbsent},
};

TEST(Choice, Multiple) {
  for (auto read : {cgiFormSelectMultiple, cgiFormCheckboxMultiple}) {
    for (const auto &c : multipleCases) {
      setForm(c.form);
      std::vector<int> flags(5, 7);
      int invalid = -1;
      EXPECT_EQ(read("c", colours, c.total, flags.data(), &invalid), c.result) << c.form;
      EXPECT_EQ(flags, c.flags) << c.form;
      EXPECT_EQ(invalid, c.invalid) << c.form;
    }
  }
}

TEST(Choice, CheckboxSingle) {
  setForm("c=&d=on");
  EXPECT_EQ(cgiFormCheckboxSingle("c"), cgiResultOk);
  EXPECT_EQ(cgiFormCheckboxSingle("d"), cgiResultOk);
  EXPECT_EQ(cgiFormCheckboxSingle("e"), cgiResultAbsent);
}

}  // namespace
